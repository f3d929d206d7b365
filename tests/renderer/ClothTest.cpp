// Curtain invariants at a fixed step: how the curtain is built, what a solver
// sweep moves, where the scene's collision voxels sit (against the renderer's
// own voxelisation), that a hanging, detached or broken curtain stays above
// the street and comes to rest, the fixed-step clock, the hotkeys, and the
// display mesh with its normals and motion vectors.
#include <gtest/gtest.h>

#include <SDL_scancode.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "engine/Component.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/Material.h"
#include "render/Mesh.h"
#include "render/RenderTextureGuy.h"
#include "render/Shader.h"
#include "render/Texbit.h"
#include "render/ShaderUniform.h"
#include "renderer/Cloth.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/Transform.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using namespace ClothConstants;

namespace {

constexpr std::uint32_t CurtainParticles = Strands * StrandParticles;

bool Finite(const glm::vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

std::uint32_t Top(int strand) { return Cloth().curtainFirst + StrandParticles * strand; }

// The demo's light field (14 x 14 x 6 m about (0, 0, 3)) at the occupancy
// volume's 128 x 128 x 64 texels, with the street's layer occupied: texel
// z = 16 spans 0 .. 0.1875 m, where the voxeliser files a surface at z = 0.
const glm::mat4 StreetField = glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, 3.0f)) *
                              glm::scale(glm::mat4(1.0f), glm::vec3(14.0f, 14.0f, 6.0f));
const glm::ivec3 StreetTexels(128, 128, 64);

void MakeCurtainOverStreet() {
  AddParticle(glm::vec3(0.0f, 0.0f, 50.0f), CameraRadius, 0.0f);  // out of the way
  AddCloth();
  std::vector<float> texels(static_cast<std::size_t>(StreetTexels.x) * StreetTexels.y * StreetTexels.z, 0.0f);
  for (std::size_t xy = 0; xy < static_cast<std::size_t>(StreetTexels.x) * StreetTexels.y; ++xy) {
    texels[xy + static_cast<std::size_t>(StreetTexels.x) * StreetTexels.y * 16] = 1.0f;
  }
  CreateCollisionStructureFromTexels(texels.data(), StreetTexels, StreetField);
}

void Steps(int n) {
  const glm::vec3 camera = Particles().Position[0];
  for (int s = 0; s < n; ++s) StepCloth(camera, camera);
}

float KineticEnergy() {
  const ParticleArrays& P = Particles();
  float e = 0.0f;
  for (std::uint32_t i = 0; i < P.SimulatedCount; ++i) {
    if (P.InverseMass[i] > 0.0f) e += 0.5f / P.InverseMass[i] * glm::dot(P.Velocity[i], P.Velocity[i]);
  }
  return e;
}

struct Bounds {
  glm::vec3 Low{1e9f}, High{-1e9f};
};
Bounds CurtainBounds() {
  Bounds b;
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    const glm::vec3 p = Particles().Position[Cloth().curtainFirst + v];
    b.Low = glm::min(b.Low, p);
    b.High = glm::max(b.High, p);
  }
  return b;
}

// The curtain lives in statics: every test starts from what a fresh process
// has, and leaves no curtain for the renderer's tests that run after it.
void ForgetCloth() {
  Particles() = ParticleArrays();
  ClothState& state = Cloth();
  state.constraints.clear();
  state.scene = SceneVoxels();
  state.staticonce = false;
  state.simsteps = 0;
  state.curtainFirst = 1;
  state.clock = -1.0f;
  state.owed = 0.0f;
  state.stepStart.clear();
  state.shown.clear();
  ParticlesDisplay() = Resource<Mesh>();
}

template <typename Base>
class FreshCloth : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    ForgetCloth();
  }
  void TearDown() override {
    ForgetCloth();
    Base::TearDown();
  }
};
using ClothTest = FreshCloth<::testing::Test>;
using ClothGLTest = FreshCloth<KestorTest::GLTest>;

class ClothBuild : public ClothTest {};
class ClothCapacity : public ClothTest {};
class ClothClock : public ClothTest {};
class ClothSolver : public ClothTest {};
class ClothStreet : public ClothTest {};

}  // namespace

// ---------------------------------------------------------------------------
// Building

TEST_F(ClothBuild, StorageIsMadeOnlyWhenTheFirstParticleIsAdded) {
  EXPECT_TRUE(Particles().Position.empty());
  EXPECT_EQ(AddParticle(glm::vec3(1.0f), 0.1f, 1.0f), 0u);
  EXPECT_EQ(Particles().Position.size(), ParticleArrays::Capacity);
}

TEST_F(ClothBuild, CurtainHangsInPleatsWithItsLinksAtRest) {
  AddParticle(glm::vec3(0.0f), CameraRadius, 0.0f);
  AddCloth();
  const ParticleArrays& P = Particles();
  ASSERT_EQ(P.Count, 1 + CurtainParticles);
  ASSERT_EQ(Cloth().constraints.size(), 3200u + 3136u);
  for (const DistanceConstraint& c : Cloth().constraints) {
    EXPECT_NEAR(c.RestLength, Spacing, 3e-4f);
    EXPECT_GT(c.RestLength, 2.0f * CurtainRadius);
    const std::uint32_t step = c.B - c.A;
    EXPECT_TRUE(step == 1 || step == StrandParticles) << c.A << "-" << c.B;
    // Strand tops hang from their own strand only.
    EXPECT_FALSE((c.A - 1) % StrandParticles == 0 && (c.B - 1) % StrandParticles == 0) << c.A << "-" << c.B;
  }
  for (std::uint32_t i = 1; i < P.Count; ++i) {
    EXPECT_EQ(P.InverseMass[i], (i - 1) % StrandParticles == 0 ? 0.0f : CurtainInverseMass) << i;
  }
  // Gathered along the rail: narrower than the fabric, and in and out of it.
  float yLow = 1e9f, yHigh = -1e9f;
  for (int k = 0; k < Strands; ++k) {
    EXPECT_EQ(P.Position[Top(k)].z, RailHeight);
    yLow = std::min(yLow, P.Position[Top(k)].y);
    yHigh = std::max(yHigh, P.Position[Top(k)].y);
  }
  EXPECT_GT(yHigh - yLow, PleatDepth);
  const float width = P.Position[Top(0)].x - P.Position[Top(Strands - 1)].x;
  EXPECT_LT(width, 0.95f * Spacing * (Strands - 1));
  EXPECT_NEAR((P.Position[Top(0)].x + P.Position[Top(Strands - 1)].x) * 0.5f, RailCentreX, 0.05f);
}

// ---------------------------------------------------------------------------
// Solver

TEST_F(ClothSolver, ASweepMovesEachEndByItsShare) {
  struct Case {
    const char* what;
    float distance, wa, wb, stiffness, rest;
    bool pushOnly;
    float a, b;  // x of the ends after one sweep
  };
  const Case cases[] = {
      {"equal masses share the correction", 0.1f, 0.5f, 0.5f, 1.0f, 0.05f, false, 0.025f, 0.075f},
      {"a pinned end stays", 0.1f, 0.0f, 0.5f, 1.0f, 0.05f, false, 0.0f, 0.05f},
      {"half stiffness goes half way first", 0.1f, 0.5f, 0.5f, 0.5f, 0.05f, false, 0.0125f, 0.0875f},
      {"stiffness above 1 acts as 1", 0.1f, 0.5f, 0.5f, 1.5f, 0.05f, false, 0.025f, 0.075f},
      {"two pinned ends are skipped", 0.1f, 0.0f, 0.0f, 1.0f, 0.05f, false, 0.0f, 0.1f},
      {"a collision pushes apart", 0.03f, 0.5f, 0.5f, 1.0f, 0.05f, true, -0.01f, 0.04f},
      {"a collision never pulls", 0.08f, 0.5f, 0.5f, 1.0f, 0.05f, true, 0.0f, 0.08f},
      {"coincident ends are left alone", 0.0f, 0.5f, 0.5f, 1.0f, 0.05f, false, 0.0f, 0.0f},
  };
  for (const Case& c : cases) {
    ResetParticles();
    const std::uint32_t a = AddParticle(glm::vec3(0.0f), CurtainRadius, c.wa);
    const std::uint32_t b = AddParticle(glm::vec3(c.distance, 0.0f, 0.0f), CurtainRadius, c.wb);
    for (std::uint32_t i : {a, b}) Particles().Velocity[i] = Particles().Position[i];
    std::vector<DistanceConstraint> list{{a, b, c.stiffness, c.rest}};
    SolveConstraints(&list, 0, c.pushOnly);
    EXPECT_NEAR(Particles().Velocity[a].x, c.a, 1e-6f) << c.what;
    EXPECT_NEAR(Particles().Velocity[b].x, c.b, 1e-6f) << c.what;
    EXPECT_TRUE(Finite(Particles().Velocity[a]) && Finite(Particles().Velocity[b])) << c.what;
  }
}

TEST_F(ClothSolver, FreshCurtainCarriesDampedVelocitiesAndAZeroStepDoesNothing) {
  const std::uint32_t i = AddParticle(glm::vec3(0.0f), CurtainRadius, 0.5f);
  CreateCollisionStructureFromTexels(nullptr, glm::ivec3(0), glm::mat4(1.0f));
  const float h = 0.01f;
  // v = w g h = -0.04905, moved v h; the carried velocity is that over 6.
  Simulate(h);
  EXPECT_NEAR(Particles().Position[i].z, -0.0004905f, 1e-7f);
  EXPECT_NEAR(Particles().Velocity[i].z, -0.0004905f / DampedDivisor, 1e-8f);

  Particles().Position[i] = glm::vec3(0.0f);
  Particles().Velocity[i] = glm::vec3(0.0f);
  Cloth().simsteps = DampedSteps;
  Simulate(h);
  EXPECT_NEAR(Particles().Velocity[i].z, -0.04905f, 1e-6f);

  const glm::vec3 before = Particles().Position[i];
  Simulate(0.0f);
  EXPECT_EQ(Particles().Position[i], before);
}

TEST_F(ClothSolver, OverlappingParticlesAndTheCameraParticlePushApart) {
  const std::uint32_t camera = AddParticle(glm::vec3(0.0f, 0.0f, 1.0f), CameraRadius, 0.0f);
  const std::uint32_t a = AddParticle(glm::vec3(0.0f), CurtainRadius, 0.5f);
  const std::uint32_t b = AddParticle(glm::vec3(0.03f, 0.0f, 0.0f), CurtainRadius, 0.5f);
  const std::uint32_t c = AddParticle(glm::vec3(0.0f, 0.0f, 0.6f), CurtainRadius, 0.5f);
  CreateCollisionStructureFromTexels(nullptr, glm::ivec3(0), glm::mat4(1.0f));
  Simulate(0.001f);
  const ParticleArrays& P = Particles();
  EXPECT_GE(glm::length(P.Position[b] - P.Position[a]), 2.0f * CurtainRadius - 1e-5f);
  EXPECT_GE(glm::length(P.Position[c] - P.Position[camera]), CameraRadius + CurtainRadius - 1e-5f);
  EXPECT_EQ(P.Position[camera], glm::vec3(0.0f, 0.0f, 1.0f));
}

// ---------------------------------------------------------------------------
// Scene

namespace {

// A floor slab whose top is z = 0, voxelised by the renderer's own light
// field stage into a field that is moved and scaled (so texel boundaries fall
// on neither the floor nor the origin).
class ClothScene : public ClothGLTest {
 protected:
  void SetUp() override {
    ClothGLTest::SetUp();
    Draw::Initialize();
    Shutter::Width(32.0f);
    Shutter::Height(32.0f);
    ScreenResolution->value = glm::vec2(32.0f, 32.0f);
    FlyCamSystem::pause = false;
    field = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(field);
    ComponentHandler<LightField>::Gimmoo(field);
    ComponentHandler<LightField>::Get(field)->Resolution = glm::vec3(16.0f, 16.0f, 8.0f);
    Transform* t = ComponentHandler<Transform>::Get(field);
    t->Scale = glm::vec3(6.0f, 6.0f, 3.0f);
    t->World = t->WorldPast = glm::translate(glm::mat4(1.0f), glm::vec3(1.0f, -2.0f, 1.4f)) * glm::scale(glm::mat4(1.0f), t->Scale);
    t->WorldInverse = t->WorldInversePast = glm::inverse(t->World);
    RenderSystem::LitThings = {field};
    RenderSystem::CameraThings.clear();
  }
  void TearDown() override {
    DrawSystem::ClearCache();
    RenderSystem::LitThings.clear();
    ClothGLTest::TearDown();
  }
  Thing field;
};

}  // namespace

TEST_F(ClothScene, SceneParticlesSitOnTheVoxelisedFloor) {
  Resource<Mesh> cube = Resources<Mesh>::Get("Cube");
  Resource<Material> material = Resources<Material>::Get("Paving");
  ASSERT_TRUE(cube && material);
  // x -2 .. 4, y -5 .. 1, z -0.2 .. 0.
  const glm::mat4 floor = glm::translate(glm::mat4(1.0f), glm::vec3(1.0f, -2.0f, -0.1f)) *
                          glm::scale(glm::mat4(1.0f), glm::vec3(6.0f, 6.0f, 0.2f));
  for (int frame = 0; frame < 3; ++frame) {
    DrawSystem::ClearCache();
    DrawSystem::QueueDraw(cube, -1, floor, floor, material, {}, true, true);
    RenderSystem::RenderFrame(nullptr);
  }
  LightField* l = ComponentHandler<LightField>::Get(field);
  ASSERT_NE(l->SkipVolume, nullptr);
  CreateCollisionStructureFromVoxels(l->SkipVolume, ComponentHandler<Transform>::Get(field)->World);

  const ParticleArrays& P = Particles();
  ASSERT_GT(P.Count, 100u);
  const float voxel = 6.0f / 16.0f;  // 12 m over 32 texels, each way
  glm::vec3 low(1e9f), high(-1e9f);
  for (std::uint32_t i = P.SimulatedCount; i < P.Count; ++i) {
    EXPECT_LT(std::fabs(P.Position[i].z), voxel) << i;
    EXPECT_EQ(P.InverseMass[i], 0.0f);
    low = glm::min(low, P.Position[i]);
    high = glm::max(high, P.Position[i]);
  }
  // The floor's extent, at the floor's place, give or take a voxel.
  EXPECT_NEAR(low.x, -2.0f, voxel);
  EXPECT_NEAR(high.x, 4.0f, voxel);
  EXPECT_NEAR(low.y, -5.0f, voxel);
  EXPECT_NEAR(high.y, 1.0f, voxel);
}

TEST_F(ClothScene, TheCurtainIsVoxelisedIntoTheLightField) {
  Uint8 keys[SDL_NUM_SCANCODES] = {};
  keys[SDL_SCANCODE_C] = 1;
  ClothFrame(keys, 1.0f, glm::vec3(0.0f, 0.0f, 20.0f), nullptr, glm::mat4(1.0f));
  ASSERT_EQ(Particles().Count, 1 + CurtainParticles);
  DrawSystem::ClearCache();
  RenderSystem::RenderFrame(nullptr);

  // Occupancy at twice the field's resolution, where the middle of the
  // curtain hangs.
  Texbit* skip = ComponentHandler<LightField>::Get(field)->SkipVolume;
  ASSERT_NE(skip, nullptr);
  std::vector<float> texels(static_cast<std::size_t>(skip->Width) * skip->Height * skip->Depth);
  glActiveTexture(Texbit::GetBindEnum(skip->CurrentBind));
  glBindTexture(GL_TEXTURE_3D, skip->ID);
  glGetTexImage(GL_TEXTURE_3D, 0, GL_RED, GL_FLOAT, texels.data());
  const glm::vec3 middle = Particles().Position[Top(Strands / 2) + StrandParticles / 2];
  const glm::vec3 local(glm::inverse(ComponentHandler<Transform>::Get(field)->World) * glm::vec4(middle, 1.0f));
  const glm::ivec3 t((local * 0.5f + 0.5f) * glm::vec3(skip->Width, skip->Height, skip->Depth));
  EXPECT_GT(texels[t.x + static_cast<std::size_t>(skip->Width) * (t.y + static_cast<std::size_t>(skip->Height) * t.z)],
            0.0f);
}

// ---------------------------------------------------------------------------
// The curtain against the street

TEST_F(ClothStreet, PinsHoldAndTheHangingCurtainStaysAboveTheStreet) {
  MakeCurtainOverStreet();
  std::vector<glm::vec3> tops;
  for (int k = 0; k < Strands; ++k) tops.push_back(Particles().Position[Top(k)]);
  Steps(120);
  for (int k = 0; k < Strands; ++k) EXPECT_EQ(Particles().Position[Top(k)], tops[k]) << k;
  for (const DistanceConstraint& c : Cloth().constraints) {
    EXPECT_NEAR(glm::length(Particles().Position[c.A] - Particles().Position[c.B]), c.RestLength, 0.01f);
  }
  EXPECT_GT(CurtainBounds().Low.z, 0.0f);
}

TEST_F(ClothStreet, DetachedOrBrokenCurtainComesToRestOnTheStreet) {
  for (bool broken : {false, true}) {
    ResetParticles();
    ResetConstraints();
    MakeCurtainOverStreet();
    Steps(30);
    for (int k = 0; k < Strands; ++k) Particles().InverseMass[Top(k)] = CurtainInverseMass;
    if (broken) ResetConstraints();

    // Kinetic energy, highest in each half second: the fall, the landing and
    // a slump of the heap, then it dies away and stays down.
    std::vector<float> peaks;
    float lowest = 1e9f;
    for (int half = 0; half < 10; ++half) {
      float peak = 0.0f;
      for (int s = 0; s < 30; ++s) {
        Steps(1);
        peak = std::max(peak, KineticEnergy());
        lowest = std::min(lowest, CurtainBounds().Low.z);
      }
      peaks.push_back(peak);
    }
    const float highest = *std::max_element(peaks.begin(), peaks.end());
    for (std::size_t k = 6; k < peaks.size(); ++k) {
      EXPECT_LT(peaks[k], 0.01f * highest) << broken << " " << k;
      EXPECT_LE(peaks[k], peaks[k - 1] + 0.001f * highest) << broken << " " << k;
    }

    // On the street (taken at its texel's middle, 0.094 m, plus a particle's
    // radius), never below it, and not flown off.
    const Bounds b = CurtainBounds();
    EXPECT_GT(lowest, 0.0f) << broken;
    EXPECT_NEAR(b.Low.z, 0.094f + CurtainRadius, 0.01f) << broken;
    EXPECT_LT(b.High.z, 0.6f) << broken;
    EXPECT_GT(b.Low.x, -4.0f) << broken;
    EXPECT_LT(b.High.x, 4.0f) << broken;
    EXPECT_GT(b.Low.y, -8.0f) << broken;
    EXPECT_LT(b.High.y, -1.0f) << broken;
    for (std::uint32_t v = 0; v < CurtainParticles; ++v) ASSERT_TRUE(Finite(Particles().Position[1 + v]));
  }
}

// ---------------------------------------------------------------------------
// Fixed steps

TEST_F(ClothClock, FramesRunTheStepsWallTimeOwesUpToACap) {
  EXPECT_EQ(AdvanceClock(100.0f), 0);  // the first frame only starts the clock
  struct Case {
    float frame;
    int steps;
  };
  const Case cases[] = {{1.0f, 60}, {0.25f, 15}, {0.5f, 30}, {60.0f, MaxStepsPerFrame}, {2.0f, 120}};
  float now = 100.0f;
  for (const Case& c : cases) {
    now += c.frame;
    EXPECT_NEAR(AdvanceClock(now), c.steps, 1) << c.frame;
    // Left over is less than a step: a capped frame drops what it could not run.
    EXPECT_LT(Cloth().owed, FixedStep);
  }
  // 60 fps frames average one step each.
  int steps = 0;
  for (int f = 0; f < 600; ++f) steps += AdvanceClock(now += 1.0f / 60.0f);
  EXPECT_NEAR(steps, 600, 2);
}

TEST_F(ClothCapacity, FullStoreRefusesWithALine) {
  AddParticle(glm::vec3(0.0f), 0.1f, 0.0f);
  Particles().Count = ParticleArrays::Capacity - 1;
  KestorTest::CaptureStdout out;
  EXPECT_EQ(AddParticle(glm::vec3(1.0f), 0.1f, 0.0f), ParticleArrays::Capacity - 1);
  EXPECT_EQ(AddParticle(glm::vec3(2.0f), 0.1f, 0.0f), ParticleArrays::Capacity);
  const std::size_t constraints = Cloth().constraints.size();
  AddCloth();
  ResetParticles();
  AddDistanceConstraint(0, 1, 1.0f, false);
  EXPECT_EQ(Cloth().constraints.size(), constraints);
  const std::string text = out.Text();
  EXPECT_NE(text.find("particle not added"), std::string::npos) << text;
  EXPECT_NE(text.find("curtain not added"), std::string::npos) << text;
  EXPECT_NE(text.find("does not exist"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// The frame: hotkeys and the display mesh

namespace {

class ClothFrames : public ClothGLTest {
 protected:
  void Press(std::initializer_list<int> scancodes) {
    std::fill(std::begin(keys), std::end(keys), 0);
    for (int s : scancodes) keys[s] = 1;
  }
  // Frames of one fixed step each.
  void Run(int frames = 1) {
    for (int f = 0; f < frames; ++f) {
      now += FixedStep * 1.0001f;
      ClothFrame(keys, now, camera, nullptr, glm::mat4(1.0f));
    }
  }

  Uint8 keys[SDL_NUM_SCANCODES] = {};
  glm::vec3 camera{0.0f, 0.0f, 1.5f};
  float now = 10.0f;
};

}  // namespace

TEST_F(ClothFrames, HotkeysCreateDetachBreakAndDelete) {
  Run();  // nothing held, nothing there
  Press({SDL_SCANCODE_Y, SDL_SCANCODE_B, SDL_SCANCODE_I});
  Run();  // nothing to detach, break or delete yet
  EXPECT_EQ(Particles().Count, 0u);

  Press({SDL_SCANCODE_C});
  Run();
  ParticleArrays& P = Particles();
  ASSERT_EQ(P.Count, 1 + CurtainParticles);
  EXPECT_EQ(Cloth().constraints.size(), 6336u);
  EXPECT_EQ(P.Position[0], camera);
  Run(3);  // held again with a curtain present: no second curtain
  EXPECT_EQ(P.Count, 1 + CurtainParticles);

  Press({SDL_SCANCODE_Y});
  Run();
  for (int k = 0; k < Strands; ++k) EXPECT_EQ(P.InverseMass[Top(k)], CurtainInverseMass);
  EXPECT_EQ(P.InverseMass[0], 0.0f);

  Press({SDL_SCANCODE_B});
  Run();
  EXPECT_TRUE(Cloth().constraints.empty());
  const float before = P.Position[Top(10) + 40].z;
  Press({});
  Run(30);
  EXPECT_LT(P.Position[Top(10) + 40].z, before);

  // Delete and create together make a fresh curtain, damped from the start.
  Press({SDL_SCANCODE_I, SDL_SCANCODE_C});
  Run();
  EXPECT_EQ(P.Count, 1 + CurtainParticles);
  EXPECT_LE(Cloth().simsteps, 1);
  Press({SDL_SCANCODE_I});
  Run();
  EXPECT_EQ(P.Count, 0u);
  EXPECT_TRUE(Cloth().constraints.empty());
}

TEST_F(ClothFrames, DisplayMeshIsATwoSidedSurfaceThatTearsWithTheCurtain) {
  Press({SDL_SCANCODE_C});
  Run();
  Press({});
  Run(30);
  Resource<Mesh>& display = ParticlesDisplay();
  ASSERT_TRUE(display);
  EXPECT_EQ(display.Name(), "particlesDisplay");
  ASSERT_EQ(display->Vertices.size(), 3u * CurtainParticles);
  ASSERT_EQ(display->Normals.size(), 3u * CurtainParticles);
  EXPECT_EQ(display->Faces.size(), 6u * (Strands - 1) * (StrandParticles - 1));
  EXPECT_NE(display->Topology, 0);
  // Unit normals, all on the side of the street the demo's camera starts on.
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    const glm::vec3 n(display->Normals[3 * v], display->Normals[3 * v + 1], display->Normals[3 * v + 2]);
    EXPECT_NEAR(glm::length(n), 1.0f, 1e-4f) << v;
    EXPECT_LT(n.y, 0.0f) << v;
  }

  // Broken and scattered, stretched triangles are dropped.
  Press({SDL_SCANCODE_Y, SDL_SCANCODE_B});
  Run();
  Press({});
  Cloth().simsteps = 0;
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    Particles().Velocity[1 + v] += glm::vec3(std::sin(v * 1.7f), std::cos(v * 2.3f), 0.0f) * 3.0f;
  }
  Cloth().simsteps = DampedSteps;
  Run(20);
  EXPECT_LT(display->Faces.size(), 6u * (Strands - 1) * (StrandParticles - 1) / 2);
  const auto& vertices = display->Vertices;
  auto at = [&](std::uint32_t v) { return glm::vec3(vertices[3 * v], vertices[3 * v + 1], vertices[3 * v + 2]); };
  for (std::size_t f = 0; f < display->Faces.size(); f += 3) {
    for (int e = 0; e < 3; ++e) {
      const float edge = glm::length(at(display->Faces[f + e]) - at(display->Faces[f + (e + 1) % 3]));
      EXPECT_LE(edge, TearStretch * Spacing * 1.4143f);
    }
  }
}

TEST_F(ClothFrames, MotionVectorsFollowTheCurtainFromWhereTheLastFrameShowedIt) {
  Press({SDL_SCANCODE_C});
  Run();
  Press({});
  Run(2);
  // Moved bodily between two frames, with steps that leave it there.
  ParticleArrays& P = Particles();
  const glm::vec3 shift(0.2f, 0.0f, 0.0f);
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    P.Position[1 + v] += shift;
    Cloth().stepStart[v] += shift;
  }
  UpdateParticlesDisplay(1.0f);

  // The curtain seen head on through an orthographic 8 x 8 m window.
  RenderTexture* normals = RenderTextureGuy::GrabTex(16, 16, TextureFormats::RGB10A2);
  RenderTexture* motion = RenderTextureGuy::GrabTex(16, 16, TextureFormats::RG16F);
  RenderTextureGuy::UseTexs({normals, motion});
  SaneGL::ClearColor(glm::vec4(0.0f));
  SaneGL::Clear(GL_COLOR_BUFFER_BIT);
  SaneGL::CullFace(SaneGL::FaceSide::None);
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  const glm::mat4 view = glm::ortho(-4.0f, 4.0f, -2.0f, 6.0f, -20.0f, 20.0f) *
                         glm::lookAt(glm::vec3(0.0f, -10.0f, 0.0f), glm::vec3(0.0f), glm::vec3(0.0f, 0.0f, 1.0f));
  UniformBuffer uniforms;
  uniforms.SetMatrix4("_WorldToView", view);
  uniforms.SetMatrix4("_WorldToView_Past", view);
  uniforms.SetVector("_CameraPos", glm::vec3(0.0f, -10.0f, 0.0f));
  uniforms.CalculateHash();
  std::vector<UniformBuffer*> list = {&uniforms};
  Resource<Shader> shader = Resources<Shader>::Get("ParticlesRender");
  ASSERT_TRUE(shader);
  shader->Use("Deferred", &list);
  Draw::DrawMesh(ParticlesDisplay(), glm::mat4(1.0f), -1);
  RenderTextureGuy::UseTexDone();
  std::vector<float> texels(16 * 16 * 2);
  glActiveTexture(Texbit::GetBindEnum(motion->CurrentBind));
  glBindTexture(GL_TEXTURE_2D, motion->ID);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RG, GL_FLOAT, texels.data());
  const float* pixel = &texels[2 * (8 + 16 * 8)];
  RenderTextureGuy::Done(normals);
  RenderTextureGuy::Done(motion);
  // Half the NDC move: 0.2 m of an 8 m wide window is 0.05 NDC, so 0.025.
  EXPECT_NEAR(pixel[0], 0.025f, 0.002f);
  EXPECT_NEAR(pixel[1], 0.0f, 0.002f);
}
