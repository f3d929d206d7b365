// The light field carries the scene's own light: the Cornell box against our
// path tracer, light that stays out of a sealed box, the furnace, lights
// switched off and things moved, a low sun's shadow, sky and sun in the
// engine's one unit, area lights taking their radiance from their emitters.
// Pictures are rendered at small sizes and read back linear.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include <glm/geometric.hpp>

#include "engine/Component.h"
#include "render/Material.h"
#include "renderer/LevelRender.h"
#include "renderer/PathTracer.h"
#include "renderer/RenderSettings.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"
#include "support/GLTestContext.h"

using namespace KestorEngine;
using namespace KestorTest;

namespace {

constexpr float Pi = 3.14159265f;

// Least-squares scale s minimising |s a - b| over the pixels `use` keeps.
template <typename Use>
float FitScale(const LinearImage& a, const LinearImage& b, Use use) {
  double ab = 0.0, aa = 0.0;
  for (size_t i = 0; i < a.Pixels.size(); ++i) {
    if (!use(i)) continue;
    ab += glm::dot(glm::dvec3(a.Pixels[i]), glm::dvec3(b.Pixels[i]));
    aa += glm::dot(glm::dvec3(a.Pixels[i]), glm::dvec3(a.Pixels[i]));
  }
  return aa > 0.0 ? static_cast<float>(ab / aa) : 0.0f;
}

// |s a - b| / |b| over the kept pixels, all channels.
template <typename Use>
double RelativeRmse(const LinearImage& a, const LinearImage& b, float s, Use use) {
  double num = 0.0, den = 0.0;
  for (size_t i = 0; i < a.Pixels.size(); ++i) {
    if (!use(i)) continue;
    const glm::dvec3 d = glm::dvec3(a.Pixels[i]) * static_cast<double>(s) - glm::dvec3(b.Pixels[i]);
    num += glm::dot(d, d);
    den += glm::dot(glm::dvec3(b.Pixels[i]), glm::dvec3(b.Pixels[i]));
  }
  return den > 0.0 ? std::sqrt(num / den) : 0.0;
}

LinearImage Minus(LinearImage a, const LinearImage& b) {
  for (size_t i = 0; i < a.Pixels.size(); ++i) a.Pixels[i] -= b.Pixels[i];
  return a;
}

// The pixel a world point falls on.
glm::ivec2 PixelOf(const LevelRender& r, glm::vec3 world) {
  const glm::vec4 clip = r.ViewProjection() * glm::vec4(world, 1.0f);
  const glm::vec2 ndc = glm::vec2(clip) / clip.w;
  return glm::ivec2((ndc * 0.5f + 0.5f) * glm::vec2(r.Width(), r.Height()));
}

glm::vec3 MeanAround(const LinearImage& image, glm::ivec2 p, int radius) {
  return image.Mean(p.x - radius, p.y - radius, p.x + radius + 1, p.y + radius + 1);
}

class GlobalIllumination : public GLTest {};

}  // namespace

TEST_F(GlobalIllumination, CornellBoxMatchesOurPathTracer) {
  LevelRender r(64, 64);
  r.Load("CornellBox");
  r.LookFromViewpoint("Camera");
  // Light bounces once more each frame: thirty frames settle it.
  r.Frames(30);
  const LinearImage engine = r.Average(32);
  CastGI->value = false;
  const LinearImage engineDirect = r.Average(12);
  CastGI->value = true;

  const TraceImages reference = Trace(TraceScene::FromLoadedThings(), r.ViewProjection(), r.CameraPosition(),
                                      r.Width(), r.Height(), 256, 1234);
  // Pixels that see the light itself (radiance 30) would swamp every sum.
  auto lit = [&](size_t i) { return reference.Seen.Pixels[i] == glm::vec3(0.0f); };
  const float scale = FitScale(engine, reference.Full, lit);
  const double whole = RelativeRmse(engine, reference.Full, scale, lit);
  const double indirect =
      RelativeRmse(Minus(engine, engineDirect), Minus(reference.Full, reference.Direct), scale, lit);
  EXPECT_GT(scale, 0.8f);
  EXPECT_LT(scale, 1.25f);
  EXPECT_LE(whole, 0.20);
  EXPECT_LE(indirect, 0.35);

  // The back wall beside each coloured wall takes on its colour.
  const glm::vec3 besideRed = MeanAround(engine, PixelOf(r, {-0.25f, 0.559f, 0.42f}), 1);
  const glm::vec3 besideGreen = MeanAround(engine, PixelOf(r, {0.25f, 0.559f, 0.42f}), 1);
  EXPECT_GE(besideRed.r / besideRed.g, 1.25f);
  EXPECT_GE(besideGreen.g / besideGreen.r, 1.08f);

  std::printf("Cornell box, 64 x 64: scale %.3f, relative RMSE whole %.3f, indirect %.3f; beside red R/G %.2f "
              "(reference %.2f), beside green G/R %.2f (reference %.2f)\n",
              scale, whole, indirect, besideRed.r / besideRed.g,
              MeanAround(reference.Full, PixelOf(r, {-0.25f, 0.559f, 0.42f}), 1).r /
                  MeanAround(reference.Full, PixelOf(r, {-0.25f, 0.559f, 0.42f}), 1).g,
              besideGreen.g / besideGreen.r,
              MeanAround(reference.Full, PixelOf(r, {0.25f, 0.559f, 0.42f}), 1).g /
                  MeanAround(reference.Full, PixelOf(r, {0.25f, 0.559f, 0.42f}), 1).r);
  // The manual's pictures come from here: KESTOR_DOCS_DIR names the folder.
  if (const char* docs = std::getenv("KESTOR_DOCS_DIR")) {
    engine.WritePng(std::string(docs) + "/CornellEngine.png", 4);
    reference.Full.WritePng(std::string(docs) + "/CornellPathTraced.png", 4);
  }
}

TEST_F(GlobalIllumination, ASealedBoxLitFromOutsideStaysDarkInside) {
  ScratchAssets assets;
  // Walls two voxels thick (voxels of 0.15): the outer faces look out, the
  // inner ones in. The field is offset so no face lies on a voxel boundary.
  std::vector<Tri> box;
  AddBox(box, glm::vec3(-0.6f), glm::vec3(0.6f), false);
  AddBox(box, glm::vec3(-0.3f), glm::vec3(0.3f), true);
  assets.Mesh("Box", box);
  assets.Material("White", glm::vec3(0.8f));
  assets.Level("Sealed", FieldThing("0.01,0.02,0.03", "1.2,1.2,1.2", "16,16,16") + MeshThing("Box", "Box", "White") +
                             R"(<Thing Name="Sky"><Sky ZenithColor="0.6,0.7,0.9" HorizonColor="0.8,0.8,0.8"
                                GroundColor="0.3,0.3,0.3" SunDirection="0.4,-0.8,0.45" SunStrength="60000"/></Thing>)");
  LevelRender r(32, 32);
  r.Load("Sealed");
  r.Look({0.0f, -2.5f, 0.0f}, {0.0f, 0.0f, 0.0f}, 20.0f);
  r.Frames(20);
  const glm::vec3 outside = r.Average(4).Mean(8, 8, 24, 24);
  r.Look({0.0f, -0.2f, 0.0f}, {0.0f, 0.3f, 0.0f}, 60.0f);
  r.Frames(4);
  const glm::vec3 inside = r.Average(8).Mean();
  ASSERT_GT(outside.g, 0.1f) << "the outside wall is lit";
  std::printf("sealed box: inside %.5f of the lit outside\n", glm::length(inside) / glm::length(outside));
  EXPECT_LE(glm::length(inside), 0.01f * glm::length(outside));
}

TEST_F(GlobalIllumination, AClosedGlowingBoxSettlesAtEmissionOverOneMinusAlbedo) {
  // Every wall emits 1 and reflects half: the light inside is the sum of
  // all bounces, 1 / (1 - 0.5) = 2.
  ScratchAssets assets;
  std::vector<Tri> room;
  AddBox(room, glm::vec3(-0.5f), glm::vec3(0.5f), true);
  assets.Mesh("Room", room);
  assets.Material("Glow", glm::vec3(0.5f), glm::vec3(1.0f), 1.0f);
  assets.Level("Furnace", FieldThing("0.01,0.02,0.03", "0.6,0.6,0.6", "16,16,16") + MeshThing("Room", "Room", "Glow"));
  LevelRender r(24, 24);
  r.Load("Furnace");
  r.Look({0.0f, -0.2f, 0.0f}, {0.0f, 0.5f, 0.0f}, 60.0f);
  r.Frames(30);
  const glm::vec3 seen = r.Average(8).Mean();
  std::printf("furnace: %.3f %.3f %.3f\n", seen.r, seen.g, seen.b);
  EXPECT_NEAR(seen.r, 2.0f, 0.2f);
  EXPECT_NEAR(seen.g, 2.0f, 0.2f);
  EXPECT_NEAR(seen.b, 2.0f, 0.2f);
}

TEST_F(GlobalIllumination, ALightSwitchedOffLeavesTheRoomWithinAFewFrames) {
  LevelRender r(32, 32);
  r.Load("CornellBox");
  r.LookFromViewpoint("Camera");
  r.Frames(20);
  const float before = glm::length(r.Average(4).Mean());
  MeshRenderer* light = ComponentHandler<MeshRenderer>::Get(r.Find("Light"));
  ASSERT_NE(light, nullptr);
  light->Materials[0]->Buffer.SetFloat("Strength", 0.0f);
  r.Frames(8);
  const float after = glm::length(r.Lit().Mean());
  std::printf("switched off: %.4f of the lit room after 8 frames\n", after / before);
  EXPECT_LE(after, 0.01f * before);
}

// A white floor under a uniform sky of radiance S and a sun of radiance L
// and solid angle W at elevation e reflects 0.5 / pi x (L W sin e + pi S);
// without a sky the same level is black.
class SkyAndSun : public GlobalIllumination, public ::testing::WithParamInterface<bool> {};

TEST_P(SkyAndSun, AreRadianceAndNoSkyIsBlack) {
  const bool withSky = GetParam();
  const float sky = 0.4f, sun = 40000.0f, angle = 0.53f;
  const float solidAngle = 2.0f * Pi * (1.0f - std::cos(glm::radians(angle * 0.5f)));
  const glm::vec3 toSun = glm::normalize(glm::vec3(0.3f, -0.4f, 0.6f));
  const float floorExpected = withSky ? 0.5f / Pi * (sun * solidAngle * toSun.z + Pi * sky) : 0.0f;
  const float backgroundExpected = withSky ? sky : 0.0f;

  ScratchAssets assets;
  std::vector<Tri> floor;
  AddQuad(floor, {-2.0f, -2.0f, 0.0f}, {2.0f, -2.0f, 0.0f}, {2.0f, 2.0f, 0.0f}, {-2.0f, 2.0f, 0.0f});
  assets.Mesh("Floor", floor);
  assets.Material("White", glm::vec3(0.5f));
  char skyThing[320];
  std::snprintf(skyThing, sizeof(skyThing),
                R"(<Thing Name="Sky"><Sky ZenithColor="%g,%g,%g" HorizonColor="%g,%g,%g" GroundColor="%g,%g,%g"
                   SunDirection="%g,%g,%g" SunStrength="%g" SunAngle="%g"/></Thing>)",
                sky, sky, sky, sky, sky, sky, sky, sky, sky, toSun.x, toSun.y, toSun.z, sun, angle);
  assets.Level("Open", FieldThing("0.01,0.02,1", "2.2,2.2,1.2", "16,16,8") + MeshThing("Floor", "Floor", "White") +
                           (withSky ? skyThing : ""));
  LevelRender r(32, 32);
  r.Load("Open");
  // Looking down at the floor's middle; the top rows see past its edge.
  r.Look({0.0f, -0.8f, 1.2f}, {0.0f, 0.6f, 0.0f}, 70.0f);
  r.Frames(20);
  const LinearImage image = r.Average(8);
  const glm::vec3 floorSeen = MeanAround(image, PixelOf(r, {0.0f, 0.3f, 0.0f}), 2);
  const glm::vec3 beyond = image.Mean(0, 30, 32, 32);
  EXPECT_NEAR(floorSeen.g, floorExpected, 0.05f * floorExpected + 1e-4f);
  EXPECT_NEAR(beyond.g, backgroundExpected, 1e-3f);
}

INSTANTIATE_TEST_SUITE_P(GlobalIllumination, SkyAndSun, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? std::string("WithASky") : std::string("WithoutASky");
                         });

// A lamp bulb (not voxelised, as the street's are) with a ball area of
// radius 0.15 at height 3, on a voxel boundary of the field: the ground below
// receives L x pi r^2 / h^2 from it; without the area it gets none.
class AreaLight : public GlobalIllumination, public ::testing::WithParamInterface<bool> {};

TEST_P(AreaLight, ShinesWithItsEmittersRadianceWhereverItSits) {
  const float radiance = 300.0f, r = 0.15f, h = 3.0f;
  const bool area = GetParam();
  {
    ScratchAssets assets;
    std::vector<Tri> ground, bulb;
    AddQuad(ground, {-6.0f, -6.0f, 0.0f}, {6.0f, -6.0f, 0.0f}, {6.0f, 6.0f, 0.0f}, {-6.0f, 6.0f, 0.0f});
    AddBox(bulb, glm::vec3(-r), glm::vec3(r), false);
    assets.Mesh("Ground", ground);
    assets.Mesh("Bulb", bulb);
    assets.Material("Paving", glm::vec3(0.5f));
    assets.Material("Bulb", glm::vec3(1.0f), glm::vec3(1.0f), radiance);
    // Voxels of 0.5: the lamp at x = y = 0 sits on a cell corner at every level.
    std::string level = FieldThing("0,0,2", "8,8,2", "16,16,4") + MeshThing("Ground", "Ground", "Paving") +
                        MeshThing("Bulb", "Bulb", "Bulb", "0,0,3", false);
    if (area) {
      level += R"(<Thing Name="BulbArea"><Transform Position="0,0,3" Rotation="1,0,0,0" Scale="0.15,0.15,0.15"/>
                  <ISArea Type="0" Samples="8"/></Thing>)";
    }
    assets.Level("Lamp", level);
    LevelRender view(32, 32);
    view.Load("Lamp");
    view.Look({0.0f, -2.0f, 2.0f}, {0.0f, 0.0f, 0.0f}, 50.0f);
    view.Frames(10);
    const glm::vec3 below = MeanAround(view.Average(16), PixelOf(view, {0.0f, 0.0f, 0.0f}), 1);
    const float expected = 0.5f / Pi * radiance * Pi * r * r / (h * h);
    if (area) {
      EXPECT_NEAR(below.g, expected, 0.15f * expected);
    } else {
      EXPECT_LE(below.g, expected / 3.0f);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(GlobalIllumination, AreaLight, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? std::string("WithItsArea") : std::string("WithoutItsArea");
                         });

TEST_F(GlobalIllumination, AThingThatMovesAwayTakesItsShadowAlong) {
  ScratchAssets assets;
  std::vector<Tri> floor, box;
  AddQuad(floor, {-3.0f, -3.0f, 0.0f}, {3.0f, -3.0f, 0.0f}, {3.0f, 3.0f, 0.0f}, {-3.0f, 3.0f, 0.0f});
  AddBox(box, {-0.6f, -0.6f, 1.0f}, {0.6f, 0.6f, 1.4f}, false);
  assets.Mesh("Floor", floor);
  assets.Mesh("Box", box);
  assets.Material("White", glm::vec3(0.6f));
  assets.Level("Shadow", FieldThing("0.01,0.02,1.5", "3.2,3.2,1.6", "16,16,8") + MeshThing("Floor", "Floor", "White") +
                             MeshThing("Box", "Box", "White", "-2,0,0") +
                             R"(<Thing Name="Sky"><Sky SunDirection="0,0,1" SunStrength="50000"/></Thing>)");
  LevelRender r(32, 32);
  r.Load("Shadow");
  // Low, so that the floor under the box stays in view; direct light only,
  // so that the shadow is black.
  r.Look({1.2f, -2.5f, 0.6f}, {1.2f, 0.0f, 0.0f}, 25.0f);
  CastGI->value = false;
  r.Frames(3);
  const glm::ivec2 under = PixelOf(r, {1.2f, 0.0f, 0.0f});
  const glm::vec3 open = MeanAround(r.Lit(), under, 1);
  ComponentHandler<Transform>::Get(r.Find("Box"))->Position = glm::vec3(1.2f, 0.0f, 0.0f);
  r.Frames(3);
  const glm::vec3 shaded = MeanAround(r.Lit(), under, 1);
  ComponentHandler<Transform>::Get(r.Find("Box"))->Position = glm::vec3(-2.0f, 0.0f, 0.0f);
  r.Frames(2);
  const glm::vec3 again = MeanAround(r.Lit(), under, 1);
  ASSERT_GT(open.g, 0.1f);
  EXPECT_LT(shaded.g, 0.02f * open.g) << "the box shades the floor below it";
  EXPECT_NEAR(again.g, open.g, 0.05f * open.g) << "and nothing of it stays behind";
}

// A block 0.5 m tall under a sun 13 degrees up, off the field's axes: its
// shadow runs along the sun's heading and ends 2.2 m from it.
TEST_F(GlobalIllumination, ALowSunsShadowFollowsItsHeadingAndEnds) {
  ScratchAssets assets;
  std::vector<Tri> floor, block;
  AddQuad(floor, {-4.0f, -4.0f, 0.0f}, {4.0f, -4.0f, 0.0f}, {4.0f, 4.0f, 0.0f}, {-4.0f, 4.0f, 0.0f});
  AddBox(block, {-0.3f, -0.3f, 0.0f}, {0.3f, 0.3f, 0.5f}, false);
  assets.Mesh("Floor", floor);
  assets.Mesh("Block", block);
  assets.Material("White", glm::vec3(0.6f));
  assets.Level("LowSun", FieldThing("0.01,0.02,1", "4.2,4.2,1.2", "32,32,8") + MeshThing("Floor", "Floor", "White") +
                             MeshThing("Block", "Block", "White") +
                             R"(<Thing Name="Sky"><Sky SunDirection="0.4,-1,0.25" SunStrength="50000"/></Thing>)");
  LevelRender r(48, 48);
  r.Load("LowSun");
  r.Look({0.0f, -1.5f, 5.0f}, {0.0f, 1.5f, 0.0f}, 60.0f);
  CastGI->value = false;
  r.Frames(3);
  const LinearImage lit = r.Lit();
  const glm::vec3 open = MeanAround(lit, PixelOf(r, {1.5f, 0.5f, 0.0f}), 1);
  ASSERT_GT(open.g, 0.1f);
  struct Spot {
    glm::vec3 At;
    bool Shaded;
  };
  for (const Spot& s : {Spot{{-0.4f, 1.0f, 0.0f}, true}, Spot{{0.0f, 3.0f, 0.0f}, false},
                        Spot{{-1.2f, 3.2f, 0.0f}, false}}) {
    const float seen = MeanAround(lit, PixelOf(r, s.At), 1).g / open.g;
    if (s.Shaded) {
      EXPECT_LT(seen, 0.3f) << s.At.x << ", " << s.At.y;
    } else {
      EXPECT_GT(seen, 0.8f) << s.At.x << ", " << s.At.y;
    }
  }
}
