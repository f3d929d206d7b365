#pragma once
// Turns a scene file that Assimp reads (OBJ, glTF 2.0 and many more) into the
// engine's own files under an asset folder OUT:
//   OUT/Levels/<Name>.xml           the Things with their transforms, a light
//                                   field fitted to the scene, a daylight
//                                   sky unless asked not to, an ISArea per
//                                   emissive surface, a Viewpoint (the
//                                   source's camera, the one given, or one
//                                   that sees the whole scene)
//   OUT/Meshes/<V>/<Mesh>.fml       one per node, one index list per material
//   OUT/Materials/<V>/<Mat>.xml     on Standard.shader
//   OUT/Textures/<V>/<file>         the base-colour images, copied
// where V is the name, or name@2 while an earlier import holds the name
// (ImportFolder.h). The source is read in a child process held to a memory
// and a time limit; every number written is checked (finite, within
// MaxCoordinate); the files appear together or not at all: a failed or
// killed import leaves OUT as it was.
#include <optional>
#include <string>
#include <vector>

#include <glm/gtc/quaternion.hpp>
#include <glm/vec3.hpp>

namespace KestorTools {

// Largest distance from the origin, in metres after --scale, of anything an
// import writes: float keeps centimetres up to here, and the light field's
// voxel counts and the renderer's products stay in range.
constexpr float MaxCoordinate = 1e6f;
// Largest image side a texture may have (what GL drivers take).
constexpr int MaxImageSide = 16384;
// --scale beyond these is a mistake, not a unit.
constexpr float MinScale = 1e-6f, MaxScale = 1e6f;
// --voxel-size in metres, as a level's LightField takes it.
constexpr float MinVoxelSize = 1e-3f, MaxVoxelSize = 1e3f;

struct ImportOptions {
  std::string Source;
  std::string OutDir = ".";
  std::string Name;     // the level's name; the source's file name without extension when empty
  int Voxels = 64;      // light-field voxels along the scene's longest side
  // Above 0: a cascaded light field instead, its finest voxels this many
  // metres, CascadeLevels levels of LevelVoxels per axis. The count is
  // fixed rather than fitted to the scene's extent, so that what lies far
  // outside the view costs no memory and no time; a scene reaching past
  // the coarsest level gets a note saying how many levels would hold it.
  float VoxelSize = 0.0f;
  int LevelVoxels = 64;
  int CascadeLevels = 6;
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
  // A model file may name any file on the machine as its texture; only
  // those inside the source's folder (or below it) are taken unless this
  // is set.
  bool AllowOutsideTextures = false;
  // What reading the source may take: address space in MiB and wall-clock
  // seconds. Beyond either the import stops and writes nothing.
  size_t MemoryLimitMiB = 4096;
  double TimeLimitSeconds = 300.0;
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

// The whole import: options checked, the source read within the limits in a
// child process, its files staged and switched in.
ImportResult ImportScene(const ImportOptions& options);

// Reads the source and makes every file's text in this process, without
// limits and without writing: what the fuzzer runs. Ok and Problems as
// ImportScene would give them.
ImportResult CheckScene(const ImportOptions& options);

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
