// Converts a scene (OBJ, glTF 2.0 or anything else Assimp reads) into a level
// with its meshes, materials and textures:
//   KestorImport scene.gltf --out MyAssets
//   KestorEngine --level MyAssets/Levels/scene.xml
// Exit status: 0 written, 1 the source cannot be imported (one line per
// problem, nothing written), 2 bad arguments.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <iostream>

#include "SceneImport.h"
#include "SourceChecks.h"
#include "engine/Thing.h"

namespace {

bool ReadPose(const std::string& text, KestorTools::ImportOptions& options) {
  float v[5];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%f,%f,%f,%f,%f%c", &v[0], &v[1], &v[2], &v[3], &v[4], &tail) != 5) return false;
  for (float x : v) {
    if (!std::isfinite(x)) return false;
  }
  if (std::abs(v[4]) > 90.0f) return false;
  options.CameraPosition = glm::vec3(v[0], v[1], v[2]);
  options.CameraYaw = v[3];
  options.CameraPitch = v[4];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  KestorTools::ImportOptions options;
  CLI::App app("KestorImport: turns a scene file (OBJ, glTF 2.0 and whatever else Assimp reads) into a level "
               "of KestorEngine with its meshes, materials on Standard.shader, textures, a light field around "
               "the scene, an area light for each emissive surface and the source's camera.",
               "KestorImport");
  const std::string limits =
      "Limits: the source is read in a child process of at most --max-memory MiB (default 4096) and\n"
      "--max-seconds (default 300); glTF, OFF and PLY counts must fit the file's own bytes; node trees\n"
      "deeper than " + std::to_string(KestorTools::MaxNodeDepth) + " levels and glTF nested deeper than " +
      std::to_string(KestorTools::MaxJsonDepth) + " are refused; every coordinate written lies\n"
      "within 1e6 m of the origin after --scale; textures are at most " + std::to_string(KestorTools::MaxImageSide) +
      " pixels a side, decode\nwhole and lie in the source's folder; a level holds " +
      std::to_string(KestorEngine::Thing::MaxLevelThings - 3) + " Things besides the light field, sky\n"
      "and camera, so beyond that the nodes' meshes are merged into one Thing per material.\n";
  static_assert(KestorTools::MaxCoordinate == 1e6f, "the text above says it");
  app.footer(
      "Writes OUT/Levels/NAME.xml and the folders NAME in OUT/Meshes, OUT/Materials and OUT/Textures\n"
      "(NAME@2 while an earlier import holds NAME), replacing an earlier import of the same name in one\n"
      "step; on any problem nothing is written, and a killed import leaves the earlier one whole.\n" +
      limits +
      "Example:\n"
      "  KestorImport model.gltf --out MyAssets --voxels 96\n"
      "  KestorEngine --level MyAssets/Levels/model.xml");
  std::string camera, up = "y";
  float fov = 0.0f;
  app.add_option("SOURCE", options.Source, "the scene file")->required();
  app.add_option("-o,--out", options.OutDir, "asset folder to write into (default: the current folder)")
      ->type_name("DIR");
  app.add_option("-n,--name", options.Name, "the level's name (default: the source's file name)")
      ->type_name("NAME");
  app.add_option("--voxels", options.Voxels,
                 "light-field voxels along the scene's longest side (default 64); with --voxel-size, the "
                 "voxels along each side of a level (32 to 256, default 64)")
      ->type_name("N")
      ->check(CLI::Range(8, 512));
  app.add_option("--voxel-size", options.VoxelSize,
                 "a light field that follows the camera instead of one grid over the scene: its finest "
                 "voxels this many metres (0.001 to 1000), each next level of twice the voxel")
      ->type_name("M")
      ->check(CLI::Range(KestorTools::MinVoxelSize, KestorTools::MaxVoxelSize));
  app.add_option("--levels", options.CascadeLevels,
                 "with --voxel-size, the levels the field has (1 to 8, default 6): the same memory and cost "
                 "whatever the scene's extent")
      ->type_name("N")
      ->check(CLI::Range(1, 8));
  app.add_option("--up", up, "the source's up axis: y (OBJ and glTF, the default) or z")
      ->type_name("y|z")
      ->check(CLI::IsMember({"y", "z"}));
  std::string scale;
  app.add_option("--scale", scale, "source units to metres, such as 0.01 for centimetres (default 1; 1e-6 to 1e6)")
      ->type_name("S");
  app.add_option("--camera", camera,
                 "camera for a source without one: x,y,z,yaw,pitch in the engine's coordinates (metres and "
                 "degrees, Z up; yaw 0 looks along +Y, 90 along +X)")
      ->type_name("x,y,z,yaw,pitch");
  std::string sky = "day";
  app.add_option("--sky", sky, "day: a daylight sky and sun (the default); none: dark outside, lit by the "
                               "scene's emissive surfaces alone")
      ->type_name("day|none")
      ->check(CLI::IsMember({"day", "none"}));
  app.add_option("--fov", fov, "that camera's vertical field of view in degrees")
      ->type_name("DEG")
      ->check(CLI::Range(1.0f, 179.0f));
  app.add_flag("--allow-outside-textures", options.AllowOutsideTextures,
               "take textures the source names outside its own folder (by default refused: a model file can "
               "name any file on the machine)");
  app.add_option("--max-memory", options.MemoryLimitMiB, "memory the reading may take, in MiB (default 4096)")
      ->type_name("MIB")
      ->check(CLI::Range(size_t{16}, size_t{1} << 30));
  app.add_option("--max-seconds", options.TimeLimitSeconds, "time the reading may take, in seconds (default 300)")
      ->type_name("S")
      ->check(CLI::Range(0.001, 86400.0));
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << "KestorImport: " << e.what() << " (--help lists the options)\n";
    return 2;
  }
  if (!scale.empty()) {
    char* end = nullptr;
    options.Scale = std::strtof(scale.c_str(), &end);
    if (end != scale.c_str() + scale.size() || !(options.Scale >= KestorTools::MinScale && options.Scale <= KestorTools::MaxScale)) {
      std::cerr << "KestorImport: --scale: expected a number from 1e-6 to 1e6, not \"" << scale << "\"\n";
      return 2;
    }
  }
  if (options.VoxelSize > 0.0f) {
    options.LevelVoxels = app.count("--voxels") != 0 ? options.Voxels : 64;
    options.Voxels = 64;
    if (options.LevelVoxels < 32 || options.LevelVoxels > 256) {
      std::cerr << "KestorImport: --voxels: a level of --voxel-size has 32 to 256 voxels a side, not "
                << options.LevelVoxels << "\n";
      return 2;
    }
  } else if (app.count("--levels") != 0) {
    std::cerr << "KestorImport: --levels: a field of one grid has no levels; give --voxel-size too\n";
    return 2;
  }
  options.ZUp = up == "z";
  options.Sky = sky == "day";
  if (!camera.empty() && !ReadPose(camera, options)) {
    std::cerr << "KestorImport: --camera: expected five numbers x,y,z,yaw,pitch with the pitch within 90 "
                 "degrees, not \""
              << camera << "\"\n";
    return 2;
  }
  if (app.count("--fov") != 0) options.FieldOfView = fov;

  const KestorTools::ImportResult result = KestorTools::ImportScene(options);
  for (const std::string& note : result.Notes) std::cout << note << "\n";
  if (!result.Ok) {
    for (const std::string& problem : result.Problems) std::cerr << problem << "\n";
    std::cerr << "KestorImport: nothing written\n";
    return 1;
  }
  std::cout << "Wrote " << result.LevelPath << ": " << result.Things << " Things, " << result.Meshes << " meshes, "
            << result.Materials << " materials, " << result.Textures << " textures, " << result.Areas
            << " area lights; the view is " << result.Camera << "\n"
            << "See it with: KestorEngine --level " << result.LevelPath << "\n";
  return 0;
}
