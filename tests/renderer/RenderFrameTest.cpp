// Whole frames of a tiny scene in the test context's window: a camera, a
// small light field, a lit cube and an area light.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include <glm/gtc/matrix_transform.hpp>

#include "engine/Component.h"
#include "engine/Shutter.h"
#include "engine/Thing.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/Material.h"
#include "render/Mesh.h"
#include "render/Texbit.h"
#include "renderer/FrameContext.h"
#include "renderer/FrameResources.h"
#include "renderer/PassTable.h"
#include "renderer/PassTimers.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "render/RenderTextureGuy.h"
#include "render/TextureReadback.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/Transform.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"
#include "render/RenderAssets.h"

using namespace KestorEngine;

namespace {

class RenderFrame : public KestorTest::GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    Draw::Initialize();
    Shutter::Width(64.0f);
    Shutter::Height(64.0f);
    ScreenResolution->value = glm::vec2(64.0f, 64.0f);
    FlyCamSystem::pause = false;
    RenderSystem::CameraThings.clear();
    RenderSystem::LitThings.clear();
    RenderSystem::BrightThings.clear();
    RenderSystem::SkyThings.clear();

    camera = Make();
    ComponentHandler<Camera>::Gimmoo(camera);
    Camera* c = ComponentHandler<Camera>::Get(camera);
    c->FocalLength(24.0f);
    Transform* ct = ComponentHandler<Transform>::Get(camera);
    // Looking along +Y from (0, -4, 0): the view's -Z turned onto +Y.
    ct->Position = glm::vec3(0.0f, -4.0f, 0.0f);
    ct->World = glm::translate(glm::mat4(1.0f), ct->Position) *
                glm::rotate(glm::mat4(1.0f), glm::radians(90.0f), glm::vec3(1.0f, 0.0f, 0.0f));
    ct->WorldPast = ct->World;
    ct->WorldInverse = glm::inverse(ct->World);
    ct->WorldInversePast = ct->WorldInverse;
    RenderSystem::CameraThings.push_back(camera);

    field = Make();
    ComponentHandler<LightField>::Gimmoo(field);
    ComponentHandler<LightField>::Get(field)->Resolution = glm::vec3(8.0f, 8.0f, 8.0f);
    ComponentHandler<LightField>::Get(field)->RayStepFactor = 1.0f;
    SetWorld(field, glm::scale(glm::mat4(1.0f), glm::vec3(6.0f)));
    RenderSystem::LitThings.push_back(field);

    area = Make();
    ComponentHandler<ISArea>::Gimmoo(area);
    SetWorld(area, glm::translate(glm::mat4(1.0f), glm::vec3(20.0f, -20.0f, 20.0f)));
    RenderSystem::BrightThings.push_back(area);

    // The only light: a sun behind the camera's left shoulder.
    ComponentHandler<Sky>::Gimmoo(area);
    Sky* sky = ComponentHandler<Sky>::Get(area);
    sky->SunDirection = glm::vec3(-0.3f, -1.0f, 0.5f);
    sky->SunStrength = 30000.0f;
    RenderSystem::SkyThings.push_back(area);

    material = Resources<Material>::Get("Brick");
    cube = Resources<Mesh>::Get("Cube");
  }

  void TearDown() override {
    DrawSystem::ClearCache();
    for (Thing t : {camera, field, area}) {
      ComponentHandler<Camera>::HereItsBunk(t);
      ComponentHandler<LightField>::HereItsBunk(t);
      ComponentHandler<ISArea>::HereItsBunk(t);
      ComponentHandler<Sky>::HereItsBunk(t);
      ComponentHandler<Transform>::HereItsBunk(t);
    }
    RenderSystem::CameraThings.clear();
    RenderSystem::LitThings.clear();
    RenderSystem::BrightThings.clear();
    RenderSystem::SkyThings.clear();
    GLTest::TearDown();
  }

  static Thing Make() {
    Thing t = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(t);
    return t;
  }
  static void SetWorld(Thing t, const glm::mat4& m) {
    Transform* x = ComponentHandler<Transform>::Get(t);
    x->World = x->WorldPast = m;
    x->WorldInverse = x->WorldInversePast = glm::inverse(m);
    x->Scale = glm::vec3(m[0][0], m[1][1], m[2][2]);
  }

  void Frame() {
    DrawSystem::ClearCache();
    glm::mat4 m = glm::scale(glm::mat4(1.0f), glm::vec3(1.5f));
    DrawSystem::QueueDraw(cube, -1, m, m, material, {}, true, true);
    RenderSystem::RenderFrame(nullptr);
  }

  glm::vec4 CentrePixel() {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    float px[4] = {0, 0, 0, 0};
    glReadPixels(32, 32, 1, 1, GL_RGBA, GL_FLOAT, px);
    return glm::vec4(px[0], px[1], px[2], px[3]);
  }

  // Channel `channel` of level 0 of a float texture, row by row.
  static std::vector<float> Channel(Texbit* t, int channels, int channel) {
    const size_t texels = static_cast<size_t>(t->Width) * t->Height;
    std::vector<uint8_t> raw = KestorTest::ReadTexels(*t, channels == 1 ? GL_RED : GL_RGBA, GL_FLOAT,
                                                      texels * channels * sizeof(float));
    std::vector<float> out(texels);
    for (size_t i = 0; i < texels; ++i) {
      std::memcpy(&out[i], &raw[(i * channels + channel) * sizeof(float)], sizeof(float));
    }
    return out;
  }
  static float Centre(Texbit* t) { return Channel(t, 1, 0)[t->Width * (t->Height / 2) + t->Width / 2]; }

  Thing camera, field, area;
  Resource<Material> material;
  Resource<Mesh> cube;
};

}  // namespace

TEST_F(RenderFrame, ATinySceneReachesTheWindowLit) {
  ASSERT_TRUE(material);
  ASSERT_TRUE(cube);
  for (int i = 0; i < 3; ++i) Frame();
  const glm::vec4 centre = CentrePixel();
  EXPECT_GT(centre.r + centre.g + centre.b, 0.02f) << "the cube in the middle is lit";
  LightField* l = ComponentHandler<LightField>::Get(field);
  ASSERT_NE(l->SkipVolume, nullptr);
  EXPECT_EQ(l->SkipVolume->Width, 16);
  EXPECT_EQ(l->SkipBits->Depth, 80);
  EXPECT_EQ(l->VoxelPhase, 3);
}

TEST_F(RenderFrame, AFieldStatesItsVolumesAsGLHoldsThemAndTheEstimateAgrees) {
  KestorTest::CaptureStdout out;
  Frame();
  const std::string text = out.Text();
  LightField* l = ComponentHandler<LightField>::Get(field);
  const long long estimate = FieldVolumeBytes(FrameTable(), glm::ivec3(8), false);
  EXPECT_NE(text.find(" volumes, " + std::to_string(estimate) + " bytes in all"), std::string::npos) << text;
  EXPECT_NE(text.find(": Radiance (2 of 2) 8x8x8, 4 levels, "), std::string::npos) << text;
  EXPECT_NE(l->StaticSkip, nullptr) << "one grid keeps its still copies";
}

TEST_F(RenderFrame, AThingWhoseShaderIsMissingShowsOpaqueMagentaAndBlack) {
  Resource<Shader> missing = Resources<Shader>::Get("NoSuchShaderAnywhere");
  for (int i = 0; i < 4; ++i) {
    DrawSystem::ClearCache();
    glm::mat4 m = glm::scale(glm::mat4(1.0f), glm::vec3(1.5f));
    DrawSystem::QueueDraw(cube, -1, m, m, missing, UniformBuffer(), true, true);
    RenderSystem::RenderFrame(nullptr);
  }
  // The cube covers the window's middle: every pixel there lies between
  // the checker's two colours (the jittered frames soften the cells'
  // edges), whatever the sun does, and many are full magenta or black.
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  std::vector<float> px(16 * 16 * 4);
  glReadPixels(24, 24, 16, 16, GL_RGBA, GL_FLOAT, px.data());
  int magenta = 0, black = 0;
  for (size_t i = 0; i < px.size(); i += 4) {
    const float r = px[i], g = px[i + 1], b = px[i + 2];
    EXPECT_TRUE(std::abs(r - b) < 0.1f && g < 0.05f + 0.1f * r) << r << "," << g << "," << b;
    magenta += r > 0.8f && b > 0.8f;
    black += r + g + b < 0.15f;
  }
  EXPECT_GT(magenta, 64);
  EXPECT_GT(black, 32);
  DrawSystem::ClearCache();
}

// Every switch of the pass table, turned to its pass's off side in turn:
// the frame still draws without GL errors, the pass does not run, and the
// window still shows the scene from its readers' fallbacks (the lit colour
// as it stands, the volumes as they are), except with the present off, where
// it keeps what it held.
TEST_F(RenderFrame, EachPassSwitchedOffInTurnLeavesTheFrameToItsReadersFallbacks) {
  for (int i = 0; i < 3; ++i) Frame();
  std::set<std::pair<CVar<bool>*, bool>> tried;
  for (const PassSpec& pass : FrameTable().Passes) {
    for (const PassSwitch& s : pass.Switches) {
      if (!tried.insert({s.Var, s.On}).second || s.Var->value != s.On) continue;
      SCOPED_TRACE(pass.Name + ", \"" + s.Var->name + "\" " + (s.On ? "off" : "on"));
      s.Var->value = !s.On;
      glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
      glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
      glClear(GL_COLOR_BUFFER_BIT);
      PassTimers::Collect();
      PassTimers::Reset();
      Frame();
      Frame();
      glFinish();
      PassTimers::Collect();
      s.Var->value = s.On;
      for (const PassTimers::Figure& f : PassTimers::Totals()) EXPECT_NE(f.Name, pass.Timer) << "it still ran";
      const glm::vec4 centre = CentrePixel();
      if (s.Var == FinalBlitEn) {
        EXPECT_NEAR(centre.b, 0.75f, 0.01f) << "the window keeps what it held";
      } else {
        EXPECT_GT(centre.r + centre.g + centre.b, 0.02f) << "the cube still shows";
      }
    }
  }
  Frame();
}

namespace {

glm::ivec3 shadowSeen(0), slabsSeen(0);
int shadowRuns = 0;

glm::ivec3 SizeOf(const Texbit* t) { return t != nullptr ? glm::ivec3(t->Width, t->Height, std::max(1, t->Depth)) : glm::ivec3(0); }

bool DrawTestShadow(PassContext& ctx) {
  shadowSeen = SizeOf(CameraTexture(*ctx.Table.Find("Test shadow"), *ctx.Camera->Targets));
  shadowRuns += 1;
  return true;
}

bool FillTestSlabs(PassContext& ctx) {
  slabsSeen = SizeOf(FieldVolume(*ctx.Table.Find("Test slabs"), *ctx.Field->L));
  return true;
}

}  // namespace

// As the sun's cascades and a scrolled light field will be added: a target
// of a fixed size per camera and a light field volume, each a resource row,
// a pass entry and its function, read by the lighting.
TEST_F(RenderFrame, APassAddedAsOneEntryAndOneFunctionGetsItsTargetsByTheirSizeRules) {
  PassTable table = FrameTable();
  ResourceSpec shadow;
  shadow.Name = "Test shadow";
  shadow.Size = SizeRule::Fixed;
  shadow.Life = Lifetime::Kept;
  shadow.Format = TextureFormats::R16F;
  shadow.FixedSize = glm::ivec3(48, 16, 1);
  ResourceSpec slabs;
  slabs.Name = "Test slabs";
  slabs.Size = SizeRule::LightField;
  slabs.Life = Lifetime::Field;
  slabs.Format = TextureFormats::R8;
  slabs.FixedSize = glm::ivec3(0, 0, 4);
  table.Resources.push_back(shadow);
  table.Resources.push_back(slabs);
  auto at = [&](const char* name) {
    return std::find_if(table.Passes.begin(), table.Passes.end(), [&](const PassSpec& p) { return p.Name == name; });
  };
  table.Passes.insert(at("Sunlight"), PassSpec("Test slabs", RunsFor::EachField, PassKind::Compute, &FillTestSlabs)
                                          .Writing({"Test slabs"}));
  table.Passes.insert(at("Sparse light"), PassSpec("Test shadow", RunsFor::EachCamera, PassKind::Draw, &DrawTestShadow)
                                              .Writing({"Test shadow"}));
  at("Lighting")->Reads.push_back("Test shadow");
  ASSERT_TRUE(table.Check().empty());

  RenderSystem::Table = &table;
  Frame();
  Frame();
  RenderSystem::Table = nullptr;
  EXPECT_EQ(shadowRuns, 2);
  EXPECT_EQ(shadowSeen, glm::ivec3(48, 16, 1));
  EXPECT_EQ(slabsSeen, glm::ivec3(8, 8, 4)) << "the field's voxels across, four slabs deep";
}

TEST_F(RenderFrame, WithoutALightFieldTheLightingIsSkippedSafely) {
  ComponentHandler<LightField>::HereItsBunk(field);
  RenderSystem::LitThings.clear();
  Frame();
  Frame();
}

TEST_F(RenderFrame, PassTimersNameThePassesThatRanAndTheLightmapRunsOnlyForAReader) {
  auto timed = [] {
    glFinish();
    PassTimers::Collect();
    std::set<std::string> names;
    for (const PassTimers::Figure& f : PassTimers::Totals()) {
      if (f.Frames > 0 && f.TotalMs >= 0.0) names.insert(f.Name);
    }
    return names;
  };
  PassTimers::Reset();
  for (int i = 0; i < 3; ++i) Frame();
  std::set<std::string> names = timed();
  for (const char* pass : {"Voxels", "Distance", "Voxel detail", "G-buffer", "Lighting", "Emission", "Motion",
                           "Temporal", "Present", "GUI"}) {
    EXPECT_EQ(names.count(pass), 1u) << pass;
  }
  EXPECT_EQ(names.count("Lightmap"), 0u) << "no shipped shader samples the lightmap";

  // A surface whose G-buffer pass samples the lightmap brings the pass back.
  Resource<Shader> reader = Resources<Shader>::Make("LightmapReader");
  reader->LoadFromSource(KestorTest::ShaderFile(
      "LightmapReader", "",
      KestorTest::GraphicsPass("Deferred", KestorTest::kPassThroughVertex,
                               "#version 430 core\nuniform sampler2D TempLightmapStopgap;\n"
                               "out vec4 c;\nvoid main() { c = texture(TempLightmapStopgap, vec2(0.5)); }\n")));
  for (int i = 0; i < 3; ++i) {
    DrawSystem::ClearCache();
    glm::mat4 m = glm::scale(glm::mat4(1.0f), glm::vec3(0.2f));
    DrawSystem::QueueDraw(cube, -1, m, m, reader, UniformBuffer(), true, false);
    RenderSystem::RenderFrame(nullptr);
  }
  EXPECT_EQ(timed().count("Lightmap"), 1u);
}

TEST_F(RenderFrame, TheLitColourDepthAndHistoryFollowTheRenderSize) {
  ScreenResolution->value = glm::vec2(40.0f, 24.0f);
  Frame();
  ScreenResolution->value = glm::vec2(0.0f, 0.0f);  // the window's size, 64 x 64
  Frame();
  Frame();
  Camera* c = ComponentHandler<Camera>::Get(camera);
  for (Texbit* t : {static_cast<Texbit*>(RenderSystem::Layer1), static_cast<Texbit*>(RenderSystem::BufferDepthLayer1),
                    c->Targets.OldLayer1, c->Targets.OldDepth1, c->Targets.Newness1, c->Targets.Newness2}) {
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Width, 64);
    EXPECT_EQ(t->Height, 64);
  }
  const glm::vec4 centre = CentrePixel();
  EXPECT_GT(centre.r + centre.g + centre.b, 0.02f) << "the cube fills the middle, not a corner";
}

TEST_F(RenderFrame, APictureRenderedSmallerThanTheWindowIsPresentedFillingIt) {
  // As in a full-screen window with the default "Screen Resolution".
  ScreenResolution->value = glm::vec2(24.0f, 24.0f);
  for (int i = 0; i < 3; ++i) Frame();
  EXPECT_EQ(RenderSystem::Layer1->Width, 24);
  const glm::vec4 centre = CentrePixel();
  EXPECT_GT(centre.r + centre.g + centre.b, 0.02f) << "the cube in the middle of the window, not of a corner";
}

TEST_F(RenderFrame, AtHalfScaleTheSceneIsRenderedSmallAndTheTemporalPassFillsTheWindow) {
  RenderScale->value = 0.5f;
  for (int i = 0; i < 3; ++i) Frame();
  RenderScale->value = 1.0f;
  Camera* c = ComponentHandler<Camera>::Get(camera);
  EXPECT_EQ(RenderSystem::Layer1->Width, 32);
  EXPECT_EQ(RenderSystem::BufferDepthLayer1->Height, 32);
  EXPECT_EQ(c->Targets.OldLayer1->Width, 64) << "the history keeps the window's size";
  EXPECT_LE(std::fabs(c->JitterOffset.x), 1.0f) << "half a scaled pixel: one window pixel";
  const glm::vec4 centre = CentrePixel();
  EXPECT_GT(centre.r + centre.g + centre.b, 0.02f) << "the cube fills the middle of the window";
}

TEST_F(RenderFrame, AStillPictureSettlesFarBelowTheFrameToFrameNoiseOfTheLighting) {
  for (int i = 0; i < 24; ++i) Frame();
  Camera* c = ComponentHandler<Camera>::Get(camera);
  auto change = [](const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::fabs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
  };
  std::vector<float> lit = Channel(RenderSystem::Layer1, 4, 1);
  std::vector<float> shown = Channel(c->Targets.OldLayer1, 4, 1);
  double litChange = 0.0, shownChange = 0.0;
  for (int i = 0; i < 4; ++i) {
    Frame();
    std::vector<float> l = Channel(RenderSystem::Layer1, 4, 1);
    std::vector<float> s = Channel(c->Targets.OldLayer1, 4, 1);
    litChange += change(l, lit);
    shownChange += change(s, shown);
    lit = l;
    shown = s;
  }
  ASSERT_GT(litChange, 0.0) << "the lighting of one frame is noisy";
  // Settled, a frame moves the picture by about 1/90 of the lighting's own
  // change (a history weighted at a fixed 7 % gave 1/25), or by no more than
  // the half-float history's own step at these values (about 1e-4), now
  // that the lighting's indirect part is smooth.
  EXPECT_LT(shownChange, 0.02 * litChange + 1e-4);
}

TEST_F(RenderFrame, AStillPictureKeepsTheMeanOfItsLighting) {
  // The history takes a small share of each frame over many: a write that
  // rounded every value down (a software driver does) pulled the picture
  // below its lighting by a little more each frame for a hundred frames.
  Camera* c = ComponentHandler<Camera>::Get(camera);
  auto mean = [](const std::vector<float>& v) {
    double sum = 0.0;
    for (float x : v) sum += x;
    return sum / static_cast<double>(v.size());
  };
  // The picture's mean over its lighting's, over 16 frames from `first`.
  int frames = 0;
  auto shownOverLit = [&](int first) {
    for (; frames < first; ++frames) Frame();
    double lit = 0.0, shown = 0.0;
    for (; frames < first + 16; ++frames) {
      Frame();
      lit += mean(Channel(RenderSystem::Layer1, 4, 1));
      shown += mean(Channel(c->Targets.OldLayer1, 4, 1));
    }
    return lit > 0.0 ? shown / lit : 0.0;
  };
  const double early = shownOverLit(16);
  const double late = shownOverLit(176);
  EXPECT_NEAR(late / early, 1.0, 0.002);
}

TEST_F(RenderFrame, SkyUncoveredWhereSomethingStoodLeavesNoGhost) {
  for (int i = 0; i < 12; ++i) Frame();
  const glm::vec4 lit = CentrePixel();
  ASSERT_GT(lit.r + lit.g + lit.b, 0.02f);
  // The cube jumps out of view: the middle now shows the (black) sky, which
  // does not move on screen.
  const glm::mat4 away =
      glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, 40.0f)) * glm::scale(glm::mat4(1.0f), glm::vec3(1.5f));
  for (int i = 0; i < 3; ++i) {
    DrawSystem::ClearCache();
    DrawSystem::QueueDraw(cube, -1, away, away, material, {}, true, true);
    RenderSystem::RenderFrame(nullptr);
  }
  const glm::vec4 after = CentrePixel();
  EXPECT_LT(after.r + after.g + after.b, 0.1f * (lit.r + lit.g + lit.b)) << "the cube's colour lingers";
}

TEST_F(RenderFrame, AWallUncoveredWhereSomethingStoodLeavesNoGhost) {
  // A plaster wall 2 m behind the cube's place, seen first alone, then with
  // the brick cube in front of it; the cube jumps away and, though neither
  // the camera nor the wall moves, the middle shows the wall again within
  // three frames rather than a cube fading over dozens.
  const Resource<Material> plaster = Resources<Material>::Get("Plaster");
  const glm::mat4 wall =
      glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 2.0f, 0.0f)) * glm::scale(glm::mat4(1.0f), glm::vec3(4.0f, 0.2f, 4.0f));
  auto frames = [&](int count, bool withCube, float cubeZ) {
    for (int i = 0; i < count; ++i) {
      DrawSystem::ClearCache();
      DrawSystem::QueueDraw(cube, -1, wall, wall, plaster, {}, true, true);
      const glm::mat4 m = glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, cubeZ)) *
                          glm::scale(glm::mat4(1.0f), glm::vec3(1.5f));
      if (withCube) DrawSystem::QueueDraw(cube, -1, m, m, material, {}, true, true);
      RenderSystem::RenderFrame(nullptr);
    }
    return glm::vec3(CentrePixel());
  };
  const glm::vec3 alone = frames(16, false, 0.0f);
  const glm::vec3 covered = frames(16, true, 0.0f);
  ASSERT_GT(glm::length(covered - alone), 0.1f) << "the cube and the wall look alike";
  const glm::vec3 after = frames(3, true, 40.0f);
  EXPECT_LT(glm::length(after - alone), 0.25f * glm::length(covered - alone))
      << "the cube's colour lingers: " << after.r << ", " << after.g << ", " << after.b << " where the wall is "
      << alone.r << ", " << alone.g << ", " << alone.b;
}

TEST_F(RenderFrame, StillThingsAreVoxelisedOnceAndMovingOnesOnTopMatchAWholeRevoxelisation) {
  // A cube that stays left of the middle and one that moves on the right.
  auto frameWithMoverAt = [&](float z) {
    DrawSystem::ClearCache();
    const glm::mat4 two = glm::scale(glm::mat4(1.0f), glm::vec3(2.0f));
    const glm::mat4 still = glm::translate(glm::mat4(1.0f), glm::vec3(-3.0f, 0.0f, 0.0f)) * two;
    const glm::mat4 mover = glm::translate(glm::mat4(1.0f), glm::vec3(3.0f, 0.0f, z)) * two;
    DrawSystem::QueueDraw(cube, -1, still, still, material, {}, true, true);
    DrawSystem::QueueDraw(cube, -1, mover, mover, material, {}, true, true);
    RenderSystem::RenderFrame(nullptr);
  };
  auto voxelisedFrames = [] {
    glFinish();
    PassTimers::Collect();
    for (const PassTimers::Figure& f : PassTimers::Totals()) {
      if (f.Name == "Voxels") return f.Frames;
    }
    return 0;
  };
  // Everything the voxels hold for the rays: occupancy at the field's
  // resolution (level 1 of the skip volume), distances and materials.
  LightField* l = ComponentHandler<LightField>::Get(field);
  auto volumes = [&] {
    glFinish();
    std::vector<uint8_t> all = KestorTest::ReadTexels(*l->SkipVolume, GL_RED, GL_UNSIGNED_BYTE, 512, 1);
    for (const std::vector<uint8_t>& v :
         {KestorTest::ReadTexels(*l->DistanceVolume, GL_RED_INTEGER, GL_UNSIGNED_BYTE, 512),
          KestorTest::ReadTexels(*l->MaterialVolume, GL_RG_INTEGER, GL_UNSIGNED_INT, 512 * 8)}) {
      all.insert(all.end(), v.begin(), v.end());
    }
    return all;
  };
  auto occupiedAbove = [&](int z) {
    std::vector<uint8_t> v = KestorTest::ReadTexels(*l->SkipVolume, GL_RED, GL_UNSIGNED_BYTE, 512, 1);
    int n = 0;
    for (int i = z * 64; i < 512; ++i) n += v[i] > 127 && i % 8 >= 4;
    return n;
  };

  PassTimers::Reset();
  for (int i = 0; i < 3; ++i) frameWithMoverAt(-3.0f);
  EXPECT_EQ(voxelisedFrames(), 1) << "nothing moved after the first frame";
  ASSERT_EQ(occupiedAbove(4), 0);

  for (float z : {-1.5f, 0.0f, 1.5f, 3.0f}) frameWithMoverAt(z);
  EXPECT_EQ(l->State.VoxelisedEntries, 1) << "the still cube is not drawn again";
  EXPECT_GT(occupiedAbove(6), 0);
  const std::vector<uint8_t> onTop = volumes();
  l->State.VoxelsValid = false;
  frameWithMoverAt(3.0f);
  EXPECT_EQ(l->State.VoxelisedEntries, 2);
  EXPECT_TRUE(volumes() == onTop) << "the moving cube left voxels or distances behind";

  // Come to rest, the mover joins the still copy without being drawn again.
  const int before = voxelisedFrames();
  for (int i = 0; i < 3; ++i) frameWithMoverAt(3.0f);
  EXPECT_EQ(voxelisedFrames(), before);
  frameWithMoverAt(-3.0f);
  EXPECT_EQ(occupiedAbove(4), 0) << "nothing stays where the cube was";
}

TEST_F(RenderFrame, VoxelsSharedBySurfacesHoldTheSameMaterialAtEveryVoxelisation) {
  // Cubes of two materials turned every way and overlapping, in a field
  // wide enough that its voxelisation is rasterised in several tiles,
  // which a driver's threads take in any order.
  LightField* l = ComponentHandler<LightField>::Get(field);
  l->Resolution = glm::vec3(128.0f, 128.0f, 16.0f);
  const Resource<Material> other = Resources<Material>::Get("Plaster");
  ASSERT_TRUE(other);
  std::vector<glm::mat4> places;
  std::mt19937 random(11);
  std::uniform_real_distribution<float> across(-5.0f, 5.0f), turn(0.0f, 6.2832f);
  for (int i = 0; i < 240; ++i) {
    const glm::vec3 axis = glm::normalize(glm::vec3(across(random), across(random), across(random)) + 1e-3f);
    places.push_back(glm::translate(glm::mat4(1.0f), glm::vec3(across(random), across(random), 0.2f * across(random))) *
                     glm::rotate(glm::mat4(1.0f), turn(random), axis) * glm::scale(glm::mat4(1.0f), glm::vec3(0.6f)));
  }
  auto voxelise = [&] {
    DrawSystem::ClearCache();
    for (size_t i = 0; i < places.size(); ++i) {
      DrawSystem::QueueDraw(cube, -1, places[i], places[i], i % 2 == 0 ? material : other, {}, true, true);
    }
    l->State.VoxelsValid = false;
    RenderSystem::RenderFrame(nullptr);
    glFinish();
    return KestorTest::ReadTexels(*l->MaterialVolume, GL_RG_INTEGER, GL_UNSIGNED_INT, 128 * 128 * 16 * 8);
  };
  const std::vector<uint8_t> first = voxelise();
  for (int run = 0; run < 3; ++run) EXPECT_TRUE(voxelise() == first) << "voxelisation " << run + 2;
}

TEST_F(RenderFrame, EveryEmptyBoxARayCrossesInOneStepHoldsNoOccupiedVoxel) {
  // Small cubes strewn through a field: the box each voxel's distance
  // names (its own cell or the block of cells around it) must be empty, or
  // a ray would step over the geometry in it.
  LightField* l = ComponentHandler<LightField>::Get(field);
  l->Resolution = glm::vec3(32.0f, 32.0f, 16.0f);
  std::mt19937 random(5);
  std::uniform_real_distribution<float> across(-5.0f, 5.0f);
  DrawSystem::ClearCache();
  for (int i = 0; i < 12; ++i) {
    const glm::mat4 m = glm::translate(glm::mat4(1.0f), glm::vec3(across(random), across(random), across(random))) *
                        glm::scale(glm::mat4(1.0f), glm::vec3(0.3f));
    DrawSystem::QueueDraw(cube, -1, m, m, material, {}, true, true);
  }
  RenderSystem::RenderFrame(nullptr);
  glFinish();
  const glm::ivec3 n(32, 32, 16);
  const size_t count = static_cast<size_t>(n.x) * n.y * n.z;
  const std::vector<uint8_t> occupied = KestorTest::ReadTexels(*l->SkipVolume, GL_RED, GL_UNSIGNED_BYTE, count, 1);
  const std::vector<uint8_t> distance = KestorTest::ReadTexels(*l->DistanceVolume, GL_RED_INTEGER, GL_UNSIGNED_BYTE, count);
  ASSERT_EQ(occupied.size(), count);
  ASSERT_EQ(distance.size(), count);
  auto at = [&](glm::ivec3 v) { return static_cast<size_t>(v.x + n.x * (v.y + n.y * v.z)); };
  size_t wrong = 0, ownCells = 0, blocks = 0, solid = 0;
  for (int z = 0; z < n.z; ++z)
    for (int y = 0; y < n.y; ++y)
      for (int x = 0; x < n.x; ++x) {
        const glm::ivec3 v(x, y, z);
        const int code = distance[at(v)];
        solid += occupied[at(v)] > 0;
        if (code == 0) continue;
        const int k = (code & 7) - 1, around = code >> 3;
        ownCells += code > 1 && around == 0;
        blocks += around != 0;
        const glm::ivec3 coarse(v.x >> k, v.y >> k, v.z >> k);
        const glm::ivec3 lo = glm::max((coarse - around) * (1 << k), glm::ivec3(0));
        const glm::ivec3 hi = glm::min((coarse + 1 + around) * (1 << k), n);
        bool empty = true;
        for (int c = lo.z; c < hi.z && empty; ++c)
          for (int b = lo.y; b < hi.y && empty; ++b)
            for (int a = lo.x; a < hi.x && empty; ++a) empty = occupied[at({a, b, c})] == 0;
        wrong += empty ? 0 : 1;
      }
  ASSERT_GT(solid, 0u);
  EXPECT_EQ(wrong, 0u) << "boxes holding geometry";
  EXPECT_GT(ownCells, 0u) << "no voxel next to a surface crosses its own empty cell";
  EXPECT_GT(blocks, 0u);
}

TEST_F(RenderFrame, OfSurfacesSharingVoxelsAnEmitterThenTheNearestTheCentreThenTheLastDrawnKeepsThem) {
  // Surfaces that share every voxel they touch: the volumes hold what the
  // winner alone would leave, whichever is drawn first.
  LightField* l = ComponentHandler<LightField>::Get(field);
  const Resource<Material> plaster = Resources<Material>::Get("Plaster"), bulb = Resources<Material>::Get("Light1");
  ASSERT_TRUE(plaster && bulb);
  using Drawn = std::pair<Resource<Material>, glm::mat4>;
  auto voxelise = [&](const std::vector<Drawn>& drawn) {
    DrawSystem::ClearCache();
    for (const Drawn& d : drawn) DrawSystem::QueueDraw(cube, -1, d.second, d.second, d.first, {}, true, true);
    l->State.VoxelsValid = false;
    RenderSystem::RenderFrame(nullptr);
    glFinish();
    std::vector<uint8_t> held = KestorTest::ReadTexels(*l->MaterialVolume, GL_RG_INTEGER, GL_UNSIGNED_INT, 512 * 8);
    const std::vector<uint8_t> light = KestorTest::ReadTexels(*l->EmissionVolume, GL_RGBA, GL_HALF_FLOAT, 512 * 8);
    held.insert(held.end(), light.begin(), light.end());
    return held;
  };
  const glm::mat4 box = glm::scale(glm::mat4(1.0f), glm::vec3(1.5f));
  // Two thin slabs in one layer of 1.5 m voxels: through the voxels'
  // centres, and 0.6 m above them.
  auto slab = [](float z) {
    return glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, z)) *
           glm::scale(glm::mat4(1.0f), glm::vec3(1.5f, 1.5f, 0.005f));
  };
  const Drawn brick{material, box}, plastered{plaster, box}, lamp{bulb, box};
  const Drawn centred{material, slab(0.75f)}, above{plaster, slab(1.35f)};
  const struct {
    const char* Name;
    std::vector<Drawn> Order;
    Drawn Keeps;
  } cases[] = {{"brick, then plaster", {brick, plastered}, plastered},
               {"plaster, then brick", {plastered, brick}, brick},
               {"a lamp, then plaster", {lamp, plastered}, lamp},
               {"plaster, then a lamp", {plastered, lamp}, lamp},
               {"the slab through the centres first", {centred, above}, centred},
               {"the slab through the centres last", {above, centred}, centred}};
  for (const auto& c : cases) EXPECT_TRUE(voxelise(c.Order) == voxelise({c.Keeps})) << c.Name;
}

TEST_F(RenderFrame, TheLightingWritesEveryPixelOfASizeNotAMultipleOfTwenty) {
  ScreenResolution->value = glm::vec2(50.0f, 41.0f);
  Frame();
  const std::vector<float> alpha = Channel(RenderSystem::Layer1, 4, 3);
  ASSERT_EQ(alpha.size(), 50u * 41u);
  int unwritten = 0;
  for (float a : alpha) unwritten += a < 0.5f;
  EXPECT_EQ(unwritten, 0) << "the top rows and right columns are lit too";
}

TEST_F(RenderFrame, TheTemporalPassReadsLastFramesNewnessAndWritesTheOther) {
  // The light field settles first: until then the history holds one frame.
  for (int i = 0; i <= RenderSystem::SettleFrames; ++i) Frame();
  Camera* c = ComponentHandler<Camera>::Get(camera);
  // Start both from "new to the history".
  SaneGL::ClearColor(glm::vec4(0.0f));
  for (Texbit* t : {c->Targets.Newness1, c->Targets.Newness2}) {
    ASSERT_NE(t, nullptr);
    RenderTextureGuy::UseTex(static_cast<RenderTexture*>(t));
    SaneGL::Clear(GL_COLOR_BUFFER_BIT);
    RenderTextureGuy::UseTexDone();
  }
  Frame();
  Frame();
  // A still pixel counts the frames its history has gathered.
  EXPECT_FLOAT_EQ(Centre(c->Targets.Newness1), 2.0f) << "this frame's";
  EXPECT_FLOAT_EQ(Centre(c->Targets.Newness2), 1.0f) << "last frame's, kept apart";
}

namespace {

std::vector<GLbitfield> barriers;
int dispatches = 0;
PFNGLMEMORYBARRIERPROC realBarrier = nullptr;
PFNGLDISPATCHCOMPUTEPROC realDispatch = nullptr;
void GLAPIENTRY SpyBarrier(GLbitfield bits) {
  barriers.push_back(bits);
  realBarrier(bits);
}
void GLAPIENTRY SpyDispatch(GLuint x, GLuint y, GLuint z) {
  ++dispatches;
  barriers.clear();
  realDispatch(x, y, z);
}

}  // namespace

TEST_F(RenderFrame, TheLightedImageIsFencedForTheBlendingAndSamplingThatFollow) {
  realBarrier = __glewMemoryBarrier;
  realDispatch = __glewDispatchCompute;
  __glewMemoryBarrier = &SpyBarrier;
  __glewDispatchCompute = &SpyDispatch;
  Frame();
  __glewMemoryBarrier = realBarrier;
  __glewDispatchCompute = realDispatch;
  // The light field's passes (sun sweep, light injection) dispatch first;
  // the barriers kept are those after the last dispatch, the lighting's.
  ASSERT_GE(dispatches, 1) << "the lighting compute ran";
  ASSERT_FALSE(barriers.empty());
  const GLbitfield needed = GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_FRAMEBUFFER_BARRIER_BIT | GL_TEXTURE_FETCH_BARRIER_BIT;
  EXPECT_EQ(barriers.front() & needed, needed);
}

TEST_F(RenderFrame, ALightFieldResolutionOutsideTheContextsLimitsIsClampedAndRendersCleanly) {
  GLint max3D = 0;
  glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &max3D);
  for (glm::vec3 asked : {glm::vec3(1.0f), glm::vec3(static_cast<float>(max3D) * 2.0f, 2.0f, 2.0f)}) {
    Thing other = Make();
    ComponentHandler<LightField>::Gimmoo(other);
    ComponentHandler<LightField>::Get(other)->Resolution = asked;
    SetWorld(other, glm::scale(glm::mat4(1.0f), glm::vec3(6.0f)));
    RenderSystem::LitThings = {other};
    Frame();
    Frame();
    LightField* l = ComponentHandler<LightField>::Get(other);
    ASSERT_NE(l->SkipVolume, nullptr);
    EXPECT_LE(l->SkipVolume->Width, max3D);
    EXPECT_GE(l->Volume->Width, 2);
    EXPECT_EQ(l->Resolution.x, static_cast<float>(l->Volume->Width)) << "the uniforms describe the volume";
    ComponentHandler<LightField>::HereItsBunk(other);
    ComponentHandler<Transform>::HereItsBunk(other);
  }
}
