// The panel's lighting switches do what their labels say, read back from
// small pictures: how area lights are sampled ("NoiseStyle"), reflections
// of the scene ("HQ Reflections"), indirect light frozen ("Update GI") and
// the light field's voxels shown ("Visualize Voxels"); and the temporal
// pass keeping a noisy penumbra's mean.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <glm/geometric.hpp>

#include "engine/Component.h"
#include "render/Material.h"
#include "render/Texbit.h"
#include "render/TextureReadback.h"
#include "renderer/FrameResources.h"
#include "renderer/LevelRender.h"
#include "renderer/RenderSystem.h"
#include "renderer/RenderSettings.h"
#include "scene/Camera.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "support/GLTestContext.h"

using namespace KestorEngine;
using namespace KestorTest;

namespace {

class LightingControls : public GLTest {};

// Mean over pixels of the spread of each pixel over the frames.
double PixelSpread(const std::vector<LinearImage>& frames) {
  const size_t n = frames.front().Pixels.size();
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) {
    glm::dvec3 mean(0.0);
    for (const LinearImage& f : frames) mean += glm::dvec3(f.Pixels[i]);
    mean /= static_cast<double>(frames.size());
    double var = 0.0;
    for (const LinearImage& f : frames) var += glm::dot(glm::dvec3(f.Pixels[i]) - mean, glm::dvec3(f.Pixels[i]) - mean);
    sum += std::sqrt(var / static_cast<double>(frames.size()));
  }
  return sum / static_cast<double>(n);
}

double MeanDifference(const LinearImage& a, const LinearImage& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.Pixels.size(); ++i) sum += glm::length(glm::dvec3(a.Pixels[i]) - glm::dvec3(b.Pixels[i]));
  return sum / static_cast<double>(a.Pixels.size());
}

LinearImage MeanOf(const std::vector<LinearImage>& frames, size_t from, size_t count) {
  LinearImage m = frames[from];
  for (size_t k = from + 1; k < from + count; ++k) {
    for (size_t i = 0; i < m.Pixels.size(); ++i) m.Pixels[i] += frames[k].Pixels[i];
  }
  for (glm::vec3& p : m.Pixels) p /= static_cast<float>(count);
  return m;
}

std::vector<LinearImage> Frames(LevelRender& r, int n) {
  std::vector<LinearImage> frames;
  for (int i = 0; i < n; ++i) {
    r.Frame();
    frames.push_back(r.Lit());
  }
  return frames;
}

// Level text of a small ball-shaped area light at each of `places`.
std::string BulbAreas(std::initializer_list<const char*> places) {
  std::string things;
  for (const char* at : places) {
    things += std::string("<Thing Name=\"Area") + at + "\"><Transform Position=\"" + at +
              "\" Rotation=\"1,0,0,0\" Scale=\"0.1,0.1,0.1\"/><ISArea Type=\"0\" Samples=\"4\"/></Thing>\n";
  }
  return things;
}

}  // namespace

TEST_F(LightingControls, NoiseStyleSamplesOneAreaAtRandomOneInTurnOrAll) {
  // A floor under two lamps of different strength, direct light only.
  ScratchAssets assets;
  std::vector<Tri> floor, bulb;
  AddQuad(floor, {-3.0f, -3.0f, 0.0f}, {3.0f, -3.0f, 0.0f}, {3.0f, 3.0f, 0.0f}, {-3.0f, 3.0f, 0.0f});
  AddBox(bulb, glm::vec3(-0.1f), glm::vec3(0.1f), false);
  assets.Mesh("Floor", floor);
  assets.Mesh("Bulb", bulb);
  assets.Material("White", glm::vec3(0.6f));
  assets.Material("Warm", glm::vec3(1.0f), glm::vec3(1.0f, 0.7f, 0.4f), 400.0f);
  assets.Material("Cold", glm::vec3(1.0f), glm::vec3(0.4f, 0.6f, 1.0f), 200.0f);
  const std::string level = FieldThing("0,0,1.5", "3.2,3.2,1.6", "16,16,8") + MeshThing("Floor", "Floor", "White") +
                      MeshThing("WarmBulb", "Bulb", "Warm", "-1,0,1.5", false) +
                      MeshThing("ColdBulb", "Bulb", "Cold", "1,0.5,1", false);
  assets.Level("Lamps", level + BulbAreas({"-1,0,1.5", "1,0.5,1"}));
  LevelRender r(32, 32);
  r.Load("Lamps");
  r.Look({0.0f, -3.0f, 3.0f}, {0.0f, 0.0f, 0.0f}, 60.0f);
  CastGI->value = false;
  std::vector<std::vector<LinearImage>> styles;
  for (int style : {0, 1, 2}) {
    NoiseStyle->value = style;
    r.Frames(2);
    styles.push_back(Frames(r, 8));
  }
  const LinearImage all = MeanOf(styles[2], 0, 8);
  // Every light every frame: far quieter than one picked at random.
  std::printf("spread: random %.4f, in turn %.4f, all %.4f\n", PixelSpread(styles[0]), PixelSpread(styles[1]), PixelSpread(styles[2]));
  EXPECT_LT(PixelSpread(styles[2]), 0.25 * PixelSpread(styles[0]));
  // One in turn: any two frames in a row hold both lights once, so their
  // mean is the all-lights picture, which two random picks rarely are.
  double inTurn = 0.0, random = 0.0;
  for (size_t k = 0; k < 8; k += 2) {
    inTurn += MeanDifference(MeanOf(styles[1], k, 2), all);
    random += MeanDifference(MeanOf(styles[0], k, 2), all);
  }
  std::printf("pairs off the all-lights picture: in turn %.4f, random %.4f\n", inTurn, random);
  EXPECT_LT(inTurn, 0.25 * random);
}

TEST_F(LightingControls, HQReflectionsShowTheSceneInGlossySurfaces) {
  // A glowing red panel stands on a glossy black floor in the dark: only
  // the floor's reflection can show the panel there.
  ScratchAssets assets;
  std::vector<Tri> floor, panel;
  AddQuad(floor, {-3.0f, -3.0f, 0.0f}, {3.0f, -3.0f, 0.0f}, {3.0f, 3.0f, 0.0f}, {-3.0f, 3.0f, 0.0f});
  AddBox(panel, {-1.5f, 1.0f, 0.0f}, {1.5f, 1.3f, 1.5f}, false);
  assets.Mesh("Floor", floor);
  assets.Mesh("Panel", panel);
  assets.Material("Glossy", glm::vec3(0.05f), glm::vec3(0.0f), 0.0f, 0.05f);
  assets.Material("Red", glm::vec3(0.0f), glm::vec3(1.0f, 0.0f, 0.0f), 2.0f);
  assets.Level("Mirror", FieldThing("0,0,1.5", "3.2,3.2,1.6", "32,32,16") + MeshThing("Floor", "Floor", "Glossy") +
                             MeshThing("Panel", "Panel", "Red"));
  LevelRender r(32, 32);
  r.Load("Mirror");
  r.Look({0.0f, -2.5f, 0.6f}, {0.0f, 1.0f, 0.0f}, 40.0f);
  r.Frames(4);
  // The floor in front of the panel: the lower part of the picture.
  const float on = r.Average(4).Mean(0, 0, 32, 8).r;
  HQReflections->value = false;
  r.Frames(2);
  const float off = r.Average(4).Mean(0, 0, 32, 8).r;
  std::printf("reflected red: HQ %.4f, not %.4f\n", on, off);
  EXPECT_GT(on, 5.0f * off + 0.01f);
}

TEST_F(LightingControls, UpdateGIOffFreezesTheIndirectLightInsteadOfDroppingIt) {
  LevelRender r(32, 32);
  r.Load("CornellBox");
  r.LookFromViewpoint("Camera");
  r.Frames(16);
  const glm::vec3 lit = r.Average(4).Mean();
  UpdateGI->value = false;
  r.Frame();
  LightField* field = ComponentHandler<LightField>::Get(r.Find("LightVolume"));
  ASSERT_NE(field, nullptr);
  const size_t bytes = static_cast<size_t>(field->Volume->Width) * field->Volume->Height * field->Volume->Depth * 8;
  const std::vector<uint8_t> frozen = ReadTexels(*field->Volume, GL_RGBA, GL_HALF_FLOAT, bytes);
  // The light goes out: its direct light leaves at once, the bounced light
  // the voxels hold stays as it was.
  ComponentHandler<MeshRenderer>::Get(r.Find("Light"))->Materials[0]->Buffer.SetFloat("Strength", 0.0f);
  r.Frames(6);
  EXPECT_EQ(ReadTexels(*field->Volume, GL_RGBA, GL_HALF_FLOAT, bytes), frozen) << "not one voxel changed";
  const glm::vec3 after = r.Lit().Mean();
  std::printf("frozen: %.3f of the lit room\n", glm::length(after) / glm::length(lit));
  EXPECT_GT(glm::length(after), 0.1f * glm::length(lit)) << "frozen, not black";
}

TEST_F(LightingControls, VisualizeVoxelsShowsTheLightFieldsBlocks) {
  LevelRender r(64, 64);
  r.Load("CornellBox");
  r.LookFromViewpoint("Camera");
  r.Frames(8);
  // Neighbours of equal colour: voxels (one and a half pixels wide here)
  // make runs of them; the lit picture none.
  auto runs = [](const LinearImage& image) {
    int same = 0, pairs = 0;
    for (int y = 0; y < image.Height; ++y) {
      for (int x = 1; x < image.Width; ++x) {
        const glm::vec3 a = image.At(x - 1, y), b = image.At(x, y);
        if (a == glm::vec3(0.0f) && b == glm::vec3(0.0f)) continue;
        ++pairs;
        same += a == b;
      }
    }
    return pairs > 0 ? static_cast<float>(same) / pairs : 0.0f;
  };
  const float lit = runs(r.Lit());
  VisualizeVoxels->value = true;
  r.Frame();
  const float voxels = runs(r.Lit());
  std::printf("equal neighbours: voxels %.3f, lit %.3f\n", voxels, lit);
  // The lit picture is smooth where its light is shared between
  // neighbouring pixels, so a few neighbours round to the same half float.
  EXPECT_GT(voxels, 0.2f);
  EXPECT_LT(lit, 0.25f * voxels);
}

TEST_F(LightingControls, ASettledPenumbraKeepsTheMeanOfItsLighting) {
  // A lamp over a floor, a plate below it a little wider than its bulb: round
  // the plate's shadow the floor sees part of the bulb, so one frame's shadow
  // rays find it and the next frame's miss it. A second lamp shut in a box
  // is picked as often and never seen. Still, the shown picture must settle
  // to the mean of its lighting, without dark dots: clipping a settled
  // history to one frame's samples (all of which may miss the lamp) kept
  // the street's penumbrae a fifth too dark.
  ScratchAssets assets;
  std::vector<Tri> floor, bulb, plate, shut;
  AddQuad(floor, {-3.0f, -3.0f, 0.0f}, {3.0f, -3.0f, 0.0f}, {3.0f, 3.0f, 0.0f}, {-3.0f, 3.0f, 0.0f});
  AddBox(bulb, glm::vec3(-0.1f), glm::vec3(0.1f), false);
  AddBox(plate, {-0.3f, -0.3f, 0.9f}, {0.3f, 0.3f, 0.95f}, false);
  AddBox(shut, {1.0f, 1.0f, 0.6f}, {2.0f, 2.0f, 1.6f}, false);
  assets.Mesh("Floor", floor);
  assets.Mesh("Bulb", bulb);
  assets.Mesh("Plate", plate);
  assets.Mesh("Shut", shut);
  assets.Material("White", glm::vec3(0.6f));
  assets.Material("Warm", glm::vec3(1.0f), glm::vec3(1.0f, 0.7f, 0.4f), 400.0f);
  const std::string level = FieldThing("0,0,1.5", "3.2,3.2,1.6", "32,32,16") + MeshThing("Floor", "Floor", "White") +
                      MeshThing("Plate", "Plate", "White") + MeshThing("Shut", "Shut", "White") +
                      MeshThing("Bulb", "Bulb", "Warm", "0,0,1.5", false) +
                      MeshThing("ShutBulb", "Bulb", "Warm", "1.5,1.5,1.1", false);
  assets.Level("Penumbra", level + BulbAreas({"0,0,1.5", "1.5,1.5,1.1"}));
  LevelRender r(32, 32);
  TemporalSS->value = true;
  RenderSystem::ReadAfterFrame.insert("BufferFinalLastFrame");
  r.Load("Penumbra");
  r.Look({0.0f, -2.5f, 0.6f}, {0.0f, 0.0f, 0.0f}, 60.0f);
  CastGI->value = false;
  r.Frames(16);
  const LinearImage lit = r.Average(160);
  Texbit* shown = ComponentHandler<Camera>::Get(r.CameraThing())->Targets.OldLayer1;
  std::vector<uint8_t> bytes = ReadTexels(*shown, GL_RGBA, GL_FLOAT, lit.Pixels.size() * 16);
  const float* f = reinterpret_cast<const float*>(bytes.data());
  float brightest = 0.0f;
  for (const glm::vec3& p : lit.Pixels) brightest = std::max(brightest, p.g);
  // What the lamp lights: pixels between a tenth and nine tenths of the
  // brightest.
  double litSum = 0.0, shownSum = 0.0;
  int pixels = 0;
  for (size_t i = 0; i < lit.Pixels.size(); ++i) {
    const float l = lit.Pixels[i].g;
    if (l < 0.1f * brightest || l > 0.9f * brightest) continue;
    litSum += l;
    shownSum += f[i * 4 + 1];
    ++pixels;
  }
  std::printf("%d pixels, shown over lit %.3f\n", pixels, shownSum / litSum);
  ASSERT_GT(pixels, 200);
  // The noise's own share of the difference is about 2 %; the clipped
  // history showed 0.927.
  EXPECT_NEAR(shownSum / litSum, 1.0, 0.05);
}
