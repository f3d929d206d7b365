#pragma once
// Renders a level through the engine's real frame from a still camera and
// reads back the lit linear colour (the lighting compute plus emission: what
// the presentation pass tone-maps), for the picture tests of the lighting.
// Tests may write their own levels, meshes and materials into a scratch
// asset folder that borrows the shipped shaders and textures.
#include <string>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "engine/Thing.h"
#include "support/TestFiles.h"
#if KESTOR_TEST_IMPORT
#include "SceneImport.h"
#endif

namespace KestorEngine {
class KestorEngineFlyHahaJk;
}

namespace KestorTest {

// Linear RGB, rows bottom first (as GL reads them).
struct LinearImage {
  int Width = 0;
  int Height = 0;
  std::vector<glm::vec3> Pixels;

  glm::vec3 At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
  // Mean over the half-open box [x0, x1) x [y0, y1).
  glm::vec3 Mean(int x0, int y0, int x1, int y1) const;
  glm::vec3 Mean() const { return Mean(0, 0, Width, Height); }
  // Tone-mapped like the presentation pass (exposure, filmic curve, sRGB),
  // written as a PNG, top row first, each pixel `scale` x `scale`.
  bool WritePng(const std::string& path, int scale = 1) const;
};

// A flat-shaded triangle for the mesh writer; its normal follows the
// winding (counter-clockwise seen from the front).
struct Tri {
  glm::vec3 A, B, C;
};
// The two triangles of the quad a, b, c, d (counter-clockwise from the front).
void AddQuad(std::vector<Tri>& tris, glm::vec3 a, glm::vec3 b, glm::vec3 c, glm::vec3 d);
// An axis-aligned box, faces looking out (or in, for a room seen inside).
void AddBox(std::vector<Tri>& tris, glm::vec3 lo, glm::vec3 hi, bool inward);

// A scratch asset folder made current (File::AssetsPath) while it lives.
class ScratchAssets {
 public:
  ScratchAssets();
  ~ScratchAssets();
  ScratchAssets(const ScratchAssets&) = delete;
  ScratchAssets& operator=(const ScratchAssets&) = delete;

  void Mesh(const std::string& name, const std::vector<Tri>& tris);
  // A Standard material: albedo, emitted radiance = emission x strength.
  void Material(const std::string& name, glm::vec3 colour, glm::vec3 emission = glm::vec3(0.0f),
                float strength = 0.0f, float roughness = 1.0f);
  // A level made of the given Thing elements.
  void Level(const std::string& name, const std::string& things);
#if KESTOR_TEST_IMPORT
  // The level `name` with its meshes and materials, imported as KestorImport
  // does from an OBJ and its MTL (given as text) under `options`; false with
  // a test failure when the import is refused.
  bool Import(const std::string& name, const std::string& obj, const std::string& mtl,
              KestorTools::ImportOptions options);
#endif

 private:
  TempDir dir;
  std::string shipped;
};

// The engine's scene systems and the renderer, driven frame by frame
// without a window of their own, at a small size.
class LevelRender {
 public:
  LevelRender(int width, int height);
  ~LevelRender();

  // Loads a level through the resource cache (held while this lives).
  void Load(const std::string& level);
  // A still camera at `from` looking at `at` (Z up).
  void Look(glm::vec3 from, glm::vec3 at, float verticalFovDegrees);
  // The camera the level's Thing `name` suggests with its Viewpoint.
  void LookFromViewpoint(const std::string& name);
  KestorEngine::Thing Find(const std::string& name) const;
  KestorEngine::Thing CameraThing() const { return camera; }

  void Frame();
  void Frames(int n) {
    for (int i = 0; i < n; ++i) Frame();
  }
  // The lit colour of the last frame.
  LinearImage Lit() const;
  // The mean of the next `n` frames' lit colour.
  LinearImage Average(int n);

  // The camera's projection and view, and its position, for references.
  glm::mat4 ViewProjection() const;
  glm::vec3 CameraPosition() const;
  int Width() const { return width; }
  int Height() const { return height; }

 private:
  int width;
  int height;
  KestorEngine::Thing camera;
  struct Held;
  Held* held;
};

}  // namespace KestorTest

namespace KestorTest {

// Level text of a Thing drawing `mesh` with `material` at `position`
// (drawn by the cameras and voxelised unless said otherwise).
std::string MeshThing(const std::string& name, const std::string& mesh, const std::string& material,
                      const std::string& position = "0,0,0", bool voxelised = true);
// Level text of a light field centred at `position` with half-extents `scale`.
std::string FieldThing(const std::string& position, const std::string& scale, const std::string& resolution);

}  // namespace KestorTest
