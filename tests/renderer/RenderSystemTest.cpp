// The renderer's bookkeeping and the numbers it hands to the lighting
// shaders: system lists, frame timing, area lights and the emitters they
// take their radiance from, the sky, ray frames, light-field uniforms; and
// every system's Attach as the first of a host.
#include <gtest/gtest.h>

#include <cmath>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>

#include "engine/Component.h"
#include "engine/Engine.h"
#include "engine/Thing.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "render/DrawSystem.h"
#include "render/Mesh.h"
#include "support/EngineStatics.h"
#include "support/GLTestContext.h"
#include "renderer/FramePasses.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "scene/AudioSystem.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/InputSystem.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"

using namespace KestorEngine;

namespace {

// The renderer's list callbacks alone (the frame slot needs an engine),
// dropped again after each test so later tests' Things join no list.
struct Lists : ::testing::Test {
  void SetUp() override {
    Forget();
    KestorTest::Follow<Camera, Transform, LightField, ISArea, Sky>(&RenderSystem::GoodYumidk,
                                                                   &RenderSystem::FoodGoSad);
  }
  void TearDown() override { Forget(); }
  static void Forget() {
    KestorTest::ForgetFollowers<Camera, Transform, LightField, ISArea, Sky>();
    RenderSystem::CameraThings.clear();
    RenderSystem::LitThings.clear();
    RenderSystem::BrightThings.clear();
    RenderSystem::SkyThings.clear();
  }
};

size_t Count(const std::vector<Thing>& list, Thing t) { return std::count(list.begin(), list.end(), t); }

}  // namespace

TEST_F(Lists, ThingsJoinTheListsOfTheirComponentsOnceAndOnlyWithATransform) {
  Thing t = Thing::Gimme();
  ComponentHandler<Camera>::Gimmoo(t);
  EXPECT_TRUE(RenderSystem::CameraThings.empty()) << "a camera without a transform is not drawn";
  ComponentHandler<Transform>::Gimmoo(t);
  ComponentHandler<ISArea>::Gimmoo(t);
  EXPECT_EQ(Count(RenderSystem::CameraThings, t), 1u);
  EXPECT_EQ(Count(RenderSystem::BrightThings, t), 1u);
  EXPECT_EQ(Count(RenderSystem::LitThings, t), 0u);

  // Losing the area leaves the camera rendering; losing the transform
  // breaks every pair.
  ComponentHandler<ISArea>::HereItsBunk(t);
  EXPECT_EQ(Count(RenderSystem::CameraThings, t), 1u) << "a camera that loses an area still renders";
  EXPECT_EQ(Count(RenderSystem::BrightThings, t), 0u);
  ComponentHandler<ISArea>::Gimmoo(t);
  ComponentHandler<Camera>::HereItsBunk(t);
  EXPECT_EQ(Count(RenderSystem::CameraThings, t), 0u);
  EXPECT_EQ(Count(RenderSystem::BrightThings, t), 1u) << "an area that loses a camera still lights";
  ComponentHandler<Transform>::HereItsBunk(t);
  EXPECT_EQ(Count(RenderSystem::BrightThings, t), 0u);

  ComponentHandler<ISArea>::HereItsBunk(t);
}

TEST(FrameStatistics, StepIsFixedForEightSecondsThenClampedAndAveragesAreMillisecondsPerFrame) {
  RenderSystem::lastFrameFinish = -1.0f;
  RenderSystem::frameCounter = 0;
  EXPECT_FLOAT_EQ(RenderSystem::SimulationStep(20.0f), 0.016f) << "first frame";
  EXPECT_FLOAT_EQ(RenderSystem::SimulationStep(20.1f), 0.02f) << "a slow frame is clamped";
  EXPECT_NEAR(RenderSystem::SimulationStep(20.105f), 0.005f, 1e-4);
  EXPECT_EQ(RenderSystem::frameCounter, 3);
  RenderSystem::lastFrameFinish = 1.0f;
  EXPECT_FLOAT_EQ(RenderSystem::SimulationStep(1.5f), 0.016f) << "start-up keeps the fixed step";

  RenderSystem::FPSWaiter = 10.0f;
  RenderSystem::averageFPS = 0.0f;
  RenderSystem::CPUaverageFPS = 0.0f;
  RenderSystem::lastFPS = 16.0f;
  for (int i = 1; i <= 49; ++i) {
    RenderSystem::CPUaverageFPS += 0.01f;
    RenderSystem::CountFrame(10.0f + i * 0.02f);
  }
  EXPECT_FLOAT_EQ(RenderSystem::lastFPS, 16.0f) << "no report before a second has passed";
  RenderSystem::CPUaverageFPS += 0.01f;
  RenderSystem::CountFrame(11.02f);
  EXPECT_NEAR(RenderSystem::lastFPS, 1020.0f / 50.0f, 1e-3);
  EXPECT_NEAR(RenderSystem::CPUlastFPS, 10.0f, 1e-3);
  EXPECT_EQ(RenderSystem::averageFPS, 0.0f);
  EXPECT_EQ(RenderSystem::CPUaverageFPS, 0.0f);
}

TEST_F(Lists, ASkyNeedsNoPlaceAndTheFirstOneLightsTheFrame) {
  Thing first = Thing::Gimme(), second = Thing::Gimme();
  ComponentHandler<Sky>::Gimmoo(first);
  ComponentHandler<Sky>::Gimmoo(second);
  EXPECT_EQ(RenderSystem::SkyThings, (std::vector<Thing>{first, second}));
  EXPECT_EQ(RenderSystem::ActiveSky(), ComponentHandler<Sky>::Get(first));
  ComponentHandler<Sky>::HereItsBunk(first);
  EXPECT_EQ(RenderSystem::ActiveSky(), ComponentHandler<Sky>::Get(second));
  ComponentHandler<Sky>::HereItsBunk(second);
  EXPECT_EQ(RenderSystem::ActiveSky(), nullptr);

  UniformBuffer field;
  RenderSystem::FillSkyUniforms(field, nullptr);
  for (const char* name : {"_SkyZenith", "_SkyHorizon", "_SkyGround", "_SunRadiance", "_SunIrradiance"}) {
    EXPECT_EQ(field.Uniforms[name].Vector3Value, glm::vec3(0.0f)) << name << ": without a sky it is black";
  }
}

TEST(AreaLights, PointAndParallelogramAreasGiveTheirCentreRadiusAndEdges) {
  RenderSystem::BrightThings.clear();
  Thing point = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(point);
  ComponentHandler<ISArea>::Gimmoo(point);
  Transform* pt = ComponentHandler<Transform>::Get(point);
  pt->World = glm::mat4(2.0f);
  pt->World[3][3] = 1.0f;
  ComponentHandler<ISArea>::Get(point)->AreaType = 0;

  Thing quad = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(quad);
  ComponentHandler<ISArea>::Gimmoo(quad);
  ComponentHandler<Transform>::Get(quad)->World = glm::mat4(1.0f);
  ComponentHandler<ISArea>::Get(quad)->AreaType = 1;

  Thing odd = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(odd);
  ComponentHandler<ISArea>::Gimmoo(odd);
  ComponentHandler<ISArea>::Get(odd)->AreaType = 7;

  RenderSystem::BrightThings = {point, quad, odd};
  RenderSystem::maswap = false;
  UniformBuffer is;
  RenderSystem::FillISUniforms(is);
  EXPECT_EQ(is.Uniforms["ISTypes"].FloatValues, (std::vector<float>{1.0f, 2.0f})) << "unknown types add nothing";
  const auto& pos = is.Uniforms["ISPositions"].Vector3Values;
  const auto& s1 = is.Uniforms["ISSizes1"].Vector3Values;
  const auto& s2 = is.Uniforms["ISSizes2"].Vector3Values;
  ASSERT_EQ(pos.size(), 2u);
  EXPECT_EQ(pos[0], glm::vec3(0.0f));
  EXPECT_EQ(s1[0], glm::vec3(2.0f));
  EXPECT_EQ(s2[0], glm::vec3(0.0f));
  EXPECT_EQ(pos[1], glm::vec3(-1.0f, 1.0f, 0.0f));
  EXPECT_EQ(s1[1], glm::vec3(2.0f, 0.0f, 0.0f));
  EXPECT_EQ(s2[1], glm::vec3(0.0f, -2.0f, 0.0f));
  EXPECT_TRUE(is.Uniforms["ISSamples"].FloatValues.empty());
  EXPECT_EQ(is.Uniforms["Swap"].FloatValue, 0.0f);

  RenderSystem::BrightThings.clear();
  UniformBuffer next;
  RenderSystem::FillISUniforms(next);
  EXPECT_EQ(next.Uniforms["Swap"].FloatValue, 1.0f) << "the flag alternates also without areas";
  EXPECT_TRUE(next.Uniforms["ISTypes"].FloatValues.empty());

  for (Thing t : {point, quad, odd}) {
    ComponentHandler<ISArea>::HereItsBunk(t);
    ComponentHandler<Transform>::HereItsBunk(t);
  }
}

TEST(RayFrames, AreOrthonormalAndTheSameEveryFrame) {
  UniformBuffer a, b;
  RenderSystem::FillQuickrayUniforms(a);
  std::rand();  // whatever ran in between must not matter
  RenderSystem::FillQuickrayUniforms(b);
  for (int i = 0; i < 10; ++i) {
    const std::string name = "QuickrayMat" + std::to_string(i);
    ASSERT_EQ(a.Uniforms.count(name), 1u) << name;
    const glm::mat3 m = a.Uniforms[name].Matrix3Value;
    EXPECT_EQ(m, b.Uniforms[name].Matrix3Value) << name;
    const glm::mat3 identity = glm::transpose(m) * m;
    for (int c = 0; c < 3; ++c) {
      for (int r = 0; r < 3; ++r) EXPECT_NEAR(identity[c][r], c == r ? 1.0f : 0.0f, 1e-5f) << name;
    }
  }
}

TEST(RayFrames, SphereSampleStaysInTheUnitBallWithTheSignOfItsThirdNumber) {
  for (float x : {0.0f, 0.3f, 1.0f}) {
    for (float y : {0.0f, 0.5f, 1.0f}) {
      EXPECT_LE(glm::length(RenderSystem::SphereSample({x, y, 0.9f})), 1.0f + 1e-5f);
      EXPECT_GE(RenderSystem::SphereSample({x, y, 0.9f}).z, 0.0f);
      EXPECT_LE(RenderSystem::SphereSample({x, y, 0.1f}).z, 0.0f);
      EXPECT_FALSE(std::isnan(RenderSystem::SphereSample({x, y, 0.0f}).z));
    }
  }
}

TEST(ViewCulling, ABoxIsOutOnlyWhenWhollyBeyondOneSideOfTheView) {
  // From the origin along +Y, 90 degrees wide, 0.1 to 100 m.
  const glm::mat4 clip = glm::perspective(glm::radians(90.0f), 1.0f, 0.1f, 100.0f) *
                         glm::lookAt(glm::vec3(0.0f), glm::vec3(0.0f, 1.0f, 0.0f), glm::vec3(0.0f, 0.0f, 1.0f));
  struct Case {
    const char* what;
    glm::vec3 lo, hi;
    bool out;
  } cases[] = {
      {"ahead", {-1, 9, -1}, {1, 11, 1}, false},
      {"behind the eye", {-1, -11, -1}, {1, -9, 1}, true},
      {"beyond the far plane", {-1, 150, -1}, {1, 160, 1}, true},
      {"wholly left of the view", {-30, 9, -1}, {-20, 11, 1}, true},
      {"across the near plane", {-1, -1, -1}, {1, 1, 1}, false},
      // Its corners lie beyond different sides, none beyond all of one.
      {"round the whole view", {-500, -500, -500}, {500, 500, 500}, false},
      {"along the left edge, partly in", {-30, 20, -1}, {-19, 40, 1}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(OutsideClip(clip, c.lo, c.hi), c.out) << c.what;
}

TEST(FieldVolumeSize, StaysWithinTheContextAndTheLevelsThePassesUse) {
  struct Case {
    glm::vec3 asked;
    int max3D;
    glm::ivec3 size;
  } cases[] = {
      {{64, 64, 32}, 2048, {64, 64, 32}},
      {{64.7f, 8, 8}, 2048, {64, 8, 8}},
      {{1, 1, 1}, 2048, {2, 2, 2}},               // level 1 of the colour volume exists
      {{4096, 4096, 64}, 2048, {645, 645, 40}},  // per axis, then the voxel budget
      {{100000, 100000, 100000}, 2048, {256, 256, 256}},
      {{1e30f, 4, 4}, 16384, {8192, 4, 4}},
      {{0.5f, 8, 8}, 2048, {0, 0, 0}},
      {{NAN, 8, 8}, 2048, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RenderSystem::FieldVolumeSize(c.asked, c.max3D), c.size)
        << c.asked.x << "," << c.asked.y << "," << c.asked.z;
  }
}

TEST(FieldUniforms, WorkedNumbersOfACubicField) {
  LightField l;
  l.Resolution = glm::vec3(64.0f);
  l.RayStepFactor = 1.0f;
  l.RayStepMultiplier = 32.0f;
  l.VoxelPhase = 255;
  l.WorldToLocalPast = glm::mat4(3.0f);
  Transform t;
  t.Scale = glm::vec3(10.0f);
  UniformBuffer field;
  RenderSystem::FillFieldUniforms(field, l, t);
  EXPECT_NEAR(field.Uniforms["_LightFieldRayStep"].FloatValue, 10.0f, 1e-5f);
  EXPECT_NEAR(field.Uniforms["_LightFieldInvTexSizeBias"].Vector3Value.x, 1.2f / 64.0f, 1e-7f);
  EXPECT_EQ(field.Uniforms["_LightFieldDistTexSize"].Vector3Value, glm::vec3(128.0f));
  EXPECT_EQ(field.Uniforms["_LightFieldInvWorldSize"].Vector3Value, glm::vec3(0.1f));
  EXPECT_EQ(field.Uniforms["voxelPhase"].FloatValue, 1.0f);
  EXPECT_EQ(field.Uniforms["_LightFieldWorldToLocal"].Matrix4Value, glm::mat4(3.0f))
      << "the lighting reads the volume voxelised with last frame's matrix";

  LightField empty;
  UniformBuffer none;
  RenderSystem::FillFieldUniforms(none, empty, t);
  EXPECT_EQ(none.Uniforms["_LightFieldRayStep"].FloatValue, 0.0f) << "no resolution, no division by zero";
}

namespace {

class AreaEmitters : public KestorTest::GLTest {};

}  // namespace

TEST_F(AreaEmitters, AnAreaShinesWithTheBrightestEmitterItMeetsAndMarksEveryPartOfIt) {
  // A unit cube mesh placed by each entry's matrix.
  Resource<Mesh> cube = Resources<Mesh>::Make("AreaEmitterCube", new Mesh());
  cube->BoundsMin = glm::vec3(-0.5f);
  cube->BoundsMax = glm::vec3(0.5f);
  auto material = [](glm::vec3 emission, float strength) {
    UniformBuffer b;
    b.SetVector("EmissionColor", emission);
    b.SetFloat("Strength", strength);
    return b;
  };
  UniformBuffer dim = material(glm::vec3(1.0f), 5.0f), bright = material(glm::vec3(1.0f, 0.5f, 0.0f), 20.0f),
                far = material(glm::vec3(1.0f), 100.0f), dark = material(glm::vec3(0.0f), 0.0f);
  auto at = [](glm::vec3 p) { return glm::translate(glm::mat4(1.0f), p); };
  std::vector<DrawEntry> queue = {
      {cube, -1, at({0.0f, 0.0f, 0.2f}), glm::mat4(1.0f), {}, &dim, {}, true, true},
      {cube, -1, at({0.0f, 0.3f, 0.0f}), glm::mat4(1.0f), {}, &bright, {}, false, true},
      {cube, -1, at({50.0f, 0.0f, 0.0f}), glm::mat4(1.0f), {}, &far, {}, true, true},
      {cube, -1, at({0.0f, 0.0f, 0.0f}), glm::mat4(1.0f), {}, &dark, {}, true, true},
      // Neither drawn nor voxelised: a hidden emitter lights nothing.
      {cube, -1, at({0.0f, 0.0f, 0.0f}), glm::mat4(1.0f), {}, &far, {}, false, false},
      // Another part of the brightest mesh, in its own material: the area
      // stands for it too.
      {cube, 1, at({0.0f, 0.3f, 0.0f}), glm::mat4(1.0f), {}, &dim, {}, true, true},
  };
  UniformBuffer is;
  // A ball at the cubes, a parallelogram far from every emitter.
  is.SetFloatArray("ISTypes", {1.0f, 2.0f});
  is.SetVectorArray("ISPositions", {glm::vec3(0.0f), glm::vec3(-20.0f, 0.0f, 0.0f)});
  is.SetVectorArray("ISSizes1", {glm::vec3(0.2f), glm::vec3(1.0f, 0.0f, 0.0f)});
  is.SetVectorArray("ISSizes2", {glm::vec3(0.0f), glm::vec3(0.0f, 1.0f, 0.0f)});
  RenderSystem::MatchAreaEmitters(is, queue);
  const auto& radiance = is.Uniforms["ISRadiance"].Vector3Values;
  ASSERT_EQ(radiance.size(), 2u);
  EXPECT_EQ(radiance[0], glm::vec3(20.0f, 10.0f, 0.0f));
  EXPECT_EQ(radiance[1], glm::vec3(0.0f)) << "no emitter near it";
  const float sampled[] = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
  for (size_t i = 0; i < queue.size(); ++i) {
    EXPECT_EQ(std::get<6>(queue[i]).Uniforms["_AreaSampled"].FloatValue, sampled[i]) << "entry " << i;
  }
}

TEST(RenderScale, TheAutomaticScaleStepsTowardsTheTargetAndStaysInRange) {
  struct Case {
    float scale, target, frame, expected;
  };
  const Case cases[] = {
      {1.0f, 0.0f, 400.0f, 1.0f},     // no target: left alone
      {1.0f, 100.0f, 0.0f, 1.0f},     // no measurement yet
      {1.0f, 100.0f, 400.0f, 0.7f},   // four times too slow: at most half the pixels a step
      {0.5f, 100.0f, 50.0f, 0.7f},    // twice too fast: twice the pixels
      {0.5f, 100.0f, 80.0f, 0.55f},   // room for 25 % more pixels, rounded to a step
      {0.6f, 100.0f, 103.0f, 0.6f},   // within 5 %: holds
      {0.25f, 100.0f, 900.0f, 0.25f}, // never below a quarter
      {1.0f, 100.0f, 10.0f, 1.0f},    // never above the window
      {0.05f, 100.0f, 100.0f, 0.25f}, // an out-of-range setting is brought back
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(RenderSystem::NextRenderScale(c.scale, c.target, c.frame), c.expected, 1e-5f)
        << c.scale << " " << c.target << " " << c.frame;
  }
}

// Seconds of frames, each row's mean frame time fed once: the automatic
// scale only lowers from where the scale was set and climbs back no higher,
// so fast frames change nothing; a scale set by hand is the new ceiling; a
// Target Frame Time takes over, and the switch off leaves the scale alone.
TEST(RenderScale, TheAutomaticScaleNeverRisesAboveTheOneSet) {
  struct Step {
    float set;     // written to Render Scale first (a hand on the slider), -1 none
    bool automatic;
    float target;
    float frameMs;
    float expected;
  };
  const Step steps[] = {
      {0.8f, true, 0.0f, 20.0f, 0.8f},   // a fast GPU keeps the scale it was given
      {-1, true, 0.0f, 400.0f, 0.55f},   // four times too slow: half the pixels
      {-1, true, 0.0f, 400.0f, 0.4f},
      {-1, true, 0.0f, 30.0f, 0.55f},    // fast again: back up...
      {-1, true, 0.0f, 30.0f, 0.8f},     // ...to where it was set, not beyond
      {-1, true, 0.0f, 30.0f, 0.8f},
      {0.5f, true, 0.0f, 30.0f, 0.5f},   // the slider moved: the new ceiling
      {-1, true, 50.0f, 25.0f, 0.7f},    // a target of its own rises above it
      {-1, false, 0.0f, 400.0f, 0.7f},   // off: left alone
  };
  RenderScale->value = 1.0f;
  for (const Step& step : steps) {
    if (step.set >= 0.0f) RenderScale->value = step.set;
    AutoRenderScale->value = step.automatic;
    TargetFrameTime->value = step.target;
    FollowFrameTime(step.frameMs);
    EXPECT_NEAR(RenderScale->value, step.expected, 1e-5f) << step.frameMs << " ms, set " << step.set;
  }
  TargetFrameTime->value = 0.0f;
  RenderScale->value = 1.0f;
}

// Last: attaching registers callbacks with the component handlers for the
// rest of the process.
TEST(Attach, EverySystemCanBeTheFirstAHostAttaches) {
  using AttachFunction = void (*)(KestorEngineFlyHahaJk*);
  const std::pair<const char*, AttachFunction> systems[] = {
      {"InputSystem", &InputSystem::Attach},         {"RenderSystem", &RenderSystem::Attach},
      {"GUI", &GUI::Attach},                         {"IMGUI", &IMGUI::Attach},
      {"DrawSystem", &DrawSystem::Attach},           {"TransformSystem", &TransformSystem::Attach},
      {"MeshRendererSystem", &MeshRendererSystem::Attach}, {"FlyCamSystem", &FlyCamSystem::Attach},
      {"AudioSystem", &AudioSystem::Attach}};
  for (const auto& [name, attach] : systems) {
    KestorEngineFlyHahaJk host;
    attach(&host);
    EXPECT_EQ(host.StartList.size(), KestorEngineFlyHahaJk::StartListSize) << name;
    EXPECT_GE(host.UpdateList.size(), KestorEngineFlyHahaJk::UpdateListSize) << name;
    EXPECT_EQ(host.ShutdownList.size(), KestorEngineFlyHahaJk::ShutdownListSize) << name;
  }
}
