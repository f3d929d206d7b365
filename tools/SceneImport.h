#pragma once
// Turns a scene file that Assimp reads (OBJ, glTF 2.0 and many more) into the
// engine's own files under an asset folder OUT:
//   OUT/Levels/<Name>.xml           the Things with their transforms, a light
//                                   field fitted to the scene, a daylight
//                                   sky unless asked not to, an ISArea per
//                                   emissive surface, a Viewpoint (the
//                                   source's camera, the one given, or one
//                                   that sees the whole scene)
//   OUT/Meshes/<Name>/<Mesh>.fml    one per node, one index list per material
//   OUT/Materials/<Name>/<Mat>.xml  on Standard.shader
//   OUT/Textures/<Name>/<file>      the base-colour images, copied
// Everything is checked before anything is written, and the files appear
// together or not at all: a failed import leaves OUT as it was.
#include <optional>
#include <string>
#include <vector>

#include <glm/gtc/quaternion.hpp>
#include <glm/vec3.hpp>

namespace KestorTools {

struct ImportOptions {
  std::string Source;
  std::string OutDir = ".";
  std::string Name;     // the level's name; the source's file name without extension when empty
  int Voxels = 64;      // light-field voxels along the scene's longest side
  bool ZUp = false;     // the source's up axis is Z (else Y, as OBJ and glTF have it)
  float Scale = 1.0f;   // source units to metres
  // A daylight sky and sun (a Thing "Sky"); otherwise a Sky of no strength,
  // so the level is dark outside and lit by its emissive surfaces alone.
  bool Sky = true;
  // Used when the source has no camera: engine coordinates (Z up) and
  // degrees, as the engine's --camera and --fov take them. Without either,
  // the level gets a view of the whole scene from the front (-Y).
  std::optional<glm::vec3> CameraPosition;
  float CameraYaw = 0.0f;
  float CameraPitch = 0.0f;
  std::optional<float> FieldOfView;
};

struct ImportResult {
  bool Ok = false;
  // One line each: what is wrong with the source or the output folder.
  std::vector<std::string> Problems;
  // Things worth knowing that did not stop the import (skipped lights...).
  std::vector<std::string> Notes;
  std::string LevelPath;  // where the level was written
  int Things = 0, Meshes = 0, Materials = 0, Textures = 0, Areas = 0;
  std::string Camera;  // where the level's Viewpoint came from
};

ImportResult ImportScene(const ImportOptions& options);

// The lowest-area rectangle in the plane of `points` (all on one plane with
// normal `normal`): its centre, unit axes and half sizes, with
// cross(u, v) = -normal so that a rotation with columns (u, v, -normal) is
// proper. Exposed for its test.
struct PlaneRectangle {
  glm::vec3 Centre{0.0f};
  glm::vec3 U{1, 0, 0}, V{0, 1, 0};
  float HalfU = 0.0f, HalfV = 0.0f;
};
PlaneRectangle FitRectangle(const std::vector<glm::vec3>& points, glm::vec3 normal);

}  // namespace KestorTools
