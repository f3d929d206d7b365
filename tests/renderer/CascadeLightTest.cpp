// The light of cascaded light fields: levels that follow the camera must
// give the picture one grid would, whatever lies far away and wherever the
// levels meet.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/Component.h"
#include "render/TextureReadback.h"
#include "renderer/FrameContext.h"
#include "renderer/LevelRender.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "scene/Lighting.h"
#include "support/GLTestContext.h"

using namespace KestorEngine;
using namespace KestorTest;

namespace {

class CascadeLight : public GLTest {};

// Writes `image` where KESTOR_DOCS_DIR points (the manual's pictures).
void Keep(const LinearImage& image, const std::string& name) {
  const char* docs = std::getenv("KESTOR_DOCS_DIR");
  if (docs != nullptr) image.WritePng(std::string(docs) + "/" + name, 4);
}

std::string CascadeThing(const std::string& resolution, float voxel, int levels) {
  char text[256];
  std::snprintf(text, sizeof(text),
                R"(<Thing Name="Field"><Transform Position="0,0,0" Rotation="1,0,0,0" Scale="1,1,1"/>)"
                R"(<LightField Resolution="%s" VoxelSize="%g" Levels="%d"/></Thing>)",
                resolution.c_str(), voxel, levels);
  return text;
}

}  // namespace

// A grey plane 400 m wide under a uniform sky, seen from 1.5 m up towards
// the horizon: the rows cross every level's edge, and the plane reflects
// its albedo times the sky wherever it is held.
TEST_F(CascadeLight, APlaneUnderAUniformSkyShowsNoStepWhereLevelsMeet) {
  ScratchAssets assets;
  std::vector<Tri> plane;
  AddQuad(plane, {-200.0f, -200.0f, 0.0f}, {200.0f, -200.0f, 0.0f}, {200.0f, 200.0f, 0.0f}, {-200.0f, 200.0f, 0.0f});
  assets.Mesh("Plane", plane);
  assets.Material("Grey", glm::vec3(0.5f));
  assets.Level("Plane", CascadeThing("32,32,16", 0.25f, 4) + MeshThing("Plane", "Plane", "Grey") +
                            R"(<Thing Name="Sky"><Sky ZenithColor="1,1,1" HorizonColor="1,1,1" GroundColor="1,1,1"
                                 SunStrength="0"/></Thing>)");
  LevelRender r(48, 48);
  r.Load("Plane");
  r.Look({0.3f, 0.2f, 1.5f}, {0.3f, 40.0f, 0.0f}, 60.0f);
  r.Frames(30);
  const LinearImage image = r.Average(8);
  Keep(image, "CascadePlane.png");
  // Rows bottom up; the horizon lies at the middle row.
  std::vector<float> rows;
  for (int y = 0; y < r.Height() / 2 - 2; ++y) rows.push_back(image.Mean(0, y, r.Width(), y + 1).g);
  float step = 0.0f;
  for (size_t i = 1; i < rows.size(); ++i) step = std::max(step, std::abs(rows[i] - rows[i - 1]) / rows[i - 1]);
  std::printf("plane across levels: rows %.3f .. %.3f, largest step %.3f\n", rows.front(), rows.back(), step);
  EXPECT_LE(step, 0.03f);
  for (float row : rows) EXPECT_NEAR(row, 0.5f, 0.05f);
}

// A paving slab 15 cm thick lying on the ground under a uniform sky, its
// underside on a face of the levels' voxels: the voxel holding both its
// sides must keep the light of the top, the side open to the sky, which
// then reads like the ground beside it.
TEST_F(CascadeLight, ASlabThinnerThanAVoxelOnTheGroundIsLitFromAbove) {
  ScratchAssets assets;
  std::vector<Tri> ground, slab;
  AddQuad(ground, {-20.0f, -20.0f, 0.0f}, {20.0f, -20.0f, 0.0f}, {20.0f, 20.0f, 0.0f}, {-20.0f, 20.0f, 0.0f});
  // The top first, the underside last: the voxel kept the plane drawn last.
  AddBox(slab, {-1.0f, -1.0f, 0.0f}, {1.0f, 1.0f, 0.15f}, false);
  AddQuad(slab, {-1.0f, -1.0f, 0.0f}, {-1.0f, 1.0f, 0.0f}, {1.0f, 1.0f, 0.0f}, {1.0f, -1.0f, 0.0f});
  assets.Mesh("Ground", ground);
  assets.Mesh("Slab", slab);
  assets.Material("Grey", glm::vec3(0.5f));
  assets.Level("Slab", CascadeThing("32,32,16", 0.25f, 3) + MeshThing("Ground", "Ground", "Grey") +
                           MeshThing("Slab", "Slab", "Grey") +
                           R"(<Thing Name="Sky"><Sky ZenithColor="1,1,1" HorizonColor="1,1,1" GroundColor="1,1,1"
                                SunStrength="0"/></Thing>)");
  LevelRender r(48, 48);
  r.Load("Slab");
  r.Look({0.1f, -0.8f, 1.2f}, {0.1f, 0.0f, 0.15f}, 60.0f);
  r.Frames(20);
  const LinearImage image = r.Average(4);
  const float top = image.Mean(20, 20, 28, 28).g;
  std::printf("slab top %.3f\n", top);
  EXPECT_NEAR(top, 0.5f, 0.1f);
}

// Relative RMSE of `a` against `b`, all pixels and channels.
double Apart(const LinearImage& a, const LinearImage& b) {
  double num = 0.0, den = 0.0;
  for (size_t i = 0; i < a.Pixels.size(); ++i) {
    const glm::dvec3 d = glm::dvec3(a.Pixels[i]) - glm::dvec3(b.Pixels[i]);
    num += glm::dot(d, d);
    den += glm::dot(glm::dvec3(b.Pixels[i]), glm::dvec3(b.Pixels[i]));
  }
  return den > 0.0 ? std::sqrt(num / den) : 0.0;
}

namespace {

// The yard the level test below flies over: boxes on the ground under a
// sky and a sun, a wall, and roofs at 45 degrees and blocks on half-voxels,
// where the level kept what it drew as it passed.
void WriteYard(ScratchAssets& assets) {
  std::vector<Tri> ground, boxes;
  AddQuad(ground, {-20.0f, -20.0f, 0.0f}, {20.0f, -20.0f, 0.0f}, {20.0f, 20.0f, 0.0f}, {-20.0f, 20.0f, 0.0f});
  for (glm::vec3 at : {glm::vec3(-1.5f, 3.0f, 0.0f), glm::vec3(0.8f, 4.5f, 0.0f), glm::vec3(2.5f, 2.0f, 0.0f)}) {
    AddBox(boxes, at, at + glm::vec3(1.0f, 1.0f, 1.2f), false);
  }
  AddBox(boxes, {-2.0f, -3.4f, 0.0f}, {2.0f, -2.6f, 2.5f}, false);
  for (int i = 0; i < 6; ++i) {
    const float x = -1.3125f + 0.5625f * i, y = -1.9375f + 0.25f * (i % 2);
    AddQuad(boxes, {x, y, 0.3f}, {x + 0.4f, y, 0.3f}, {x + 0.4f, y + 0.3f, 0.6f}, {x, y + 0.3f, 0.6f});
    AddQuad(boxes, {x + 0.4f, y + 0.6f, 0.3f}, {x, y + 0.6f, 0.3f}, {x, y + 0.3f, 0.6f}, {x + 0.4f, y + 0.3f, 0.6f});
    AddBox(boxes, {x, y + 1.0625f, 0.0f}, {x + 0.3125f, y + 1.4375f, 0.3125f + 0.0625f * i}, false);
  }
  assets.Mesh("Ground", ground);
  assets.Mesh("Boxes", boxes);
  assets.Material("Grey", glm::vec3(0.5f));
  assets.Material("Red", glm::vec3(0.7f, 0.15f, 0.1f));
  assets.Level("Yard", CascadeThing("32,32,32", 0.125f, 4) + MeshThing("Ground", "Ground", "Grey") +
                           MeshThing("Boxes", "Boxes", "Red") +
                           R"(<Thing Name="Sky"><Sky ZenithColor="0.5,0.5,0.5" HorizonColor="0.5,0.5,0.5"
                                GroundColor="0.5,0.5,0.5" SunDirection="0.3,-0.5,0.8" SunStrength="20000"
                                SunAngle="0.53"/></Thing>)");
}

}  // namespace

// Boxes on the ground under a sky and a sun, seen after the camera came
// 4 m (all of the finest level) in ten frames and the light settled, and
// seen from there at once, the levels then where the moving ones came to
// rest: what scrolled in, what stayed and what scrolled out must make the
// same field and the same picture. A wall beside the start scrolls out of
// the finest level: the texels it held come back as the open air before
// the camera. A roof at 45 degrees and a box whose faces lie on the finest
// voxels' halves are drawn as the levels lay at each step, and must leave
// the same facings as drawn in one go where they came to rest. And no
// pops: as the camera lands, what scrolled in is lit already, the picture
// no further off than after the same flight with the levels held there.
TEST_F(CascadeLight, LevelsMovedWithTheCameraMatchLevelsPlacedThereAtOnce) {
  ScratchAssets assets;
  WriteYard(assets);
  const glm::vec3 start(-1.5f, -4.0f, 1.5f), end(0.5f, 0.0f, 1.5f), at(0.5f, 3.5f, 0.5f);
  // 0 placed at once, 1 moved with the camera, 2 the same flight with the
  // levels held where it ends, which scrolls nothing in.
  LinearImage pictures[3], fields[3], landed[3];
  std::vector<glm::ivec3> origins[3];
  std::vector<uint8_t> facings[3], distances[3];
  for (int moved = 0; moved < 3; ++moved) {
    struct Hold {
      explicit Hold(bool on, glm::vec3 at) {
        if (on) RenderSystem::LevelsHeldAt = at;
      }
      ~Hold() { RenderSystem::LevelsHeldAt.reset(); }
    } hold(moved == 2, end);
    LevelRender r(48, 48);
    r.Load("Yard");
    if (moved > 0) {
      r.Look(start, at, 60.0f);
      r.Frames(20);
      for (int i = 1; i <= 10; ++i) {
        r.Look(glm::mix(start, end, static_cast<float>(i) / 10.0f), at, 60.0f);
        r.Frame();
      }
    } else {
      r.Look(end, at, 60.0f);
    }
    landed[moved] = r.Average(4);
    r.Frames(26);
    pictures[moved] = r.Average(16);
    VisualizeVoxels->value = true;
    fields[moved] = r.Average(2);
    VisualizeVoxels->value = false;
    const LightField* field = ComponentHandler<LightField>::Get(r.Find("Field"));
    ASSERT_TRUE(field != nullptr && field->State.Levels);
    origins[moved] = field->State.Levels->Tracker.Origins();
    Texbit& f = *field->FacingVolume;
    facings[moved] = ReadTexels(f, GL_RED_INTEGER, GL_UNSIGNED_INT, static_cast<size_t>(f.Width) * f.Height * f.Depth * 4);
    Texbit& d = *field->DistanceVolume;
    distances[moved] =
        ReadTexels(d, GL_RED_INTEGER, GL_UNSIGNED_BYTE, static_cast<size_t>(d.Width) * d.Height * d.Depth);
  }
  Keep(pictures[1], "CascadeMoved.png");
  ASSERT_EQ(origins[0], origins[1]) << "the levels must end where they would be placed at once";
  ASSERT_EQ(origins[0], origins[2]);
  EXPECT_TRUE(facings[1] == facings[0]) << "every voxel must face as it would drawn there at once";
  // A distance longer than one drawn there at once could step a ray over
  // a surface; shorter ones (the trailing side keeps those its window's
  // old edge gave) only cost steps.
  size_t longer = 0;
  for (size_t i = 0; i < distances[0].size() && i < distances[1].size(); ++i) {
    longer += distances[1][i] > distances[0][i];
  }
  EXPECT_EQ(longer, 0u) << "of " << distances[0].size() << " distances";
  const double picture = Apart(pictures[1], pictures[0]), voxels = Apart(fields[1], fields[0]);
  std::printf("moved with the camera against placed at once: relative RMSE %.4f, of the voxels seen %.4f\n",
              picture, voxels);
  EXPECT_LE(picture, 0.03);
  EXPECT_LE(voxels, 0.15);
  // Right as the flight lands, what scrolled in must be lit already: no
  // further from the settled picture than after the held flight, whose
  // difference is the motion's and the light's noise alone.
  const double scrolled = Apart(landed[1], pictures[0]), held = Apart(landed[2], pictures[0]);
  std::printf("as it lands: scrolled %.4f, held %.4f\n", scrolled, held);
  EXPECT_LE(scrolled, 1.1 * held + 0.005);
}
