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

#include "renderer/LevelRender.h"
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
