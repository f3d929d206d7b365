#pragma once
// A scene file dropped on the window becomes the level. KestorImport, run as
// a program of its own from beside the engine's executable (or from PATH),
// turns the file into a level in the cache folder, and the demo opens it
// with the camera at its viewpoint. A program apart keeps the importer's
// library out of the engine, and a hostile file that crashes it or eats
// its memory takes only the importer down; it runs while the frames go on,
// and it writes all of a level or nothing, so a file it cannot import
// leaves the shown level as it was, with one line on the console and on
// screen.
#include <cstddef>
#include <string>

namespace KestorEngine {

class KestorEngineFlyHahaJk;

class SceneDrop {
 public:
  // After the input pump (10), before the widgets take their input (15).
  static constexpr std::size_t UpdateSlot = 12;

  static void Attach(KestorEngineFlyHahaJk* engine);
  // The stage: this frame's drops, the import in flight, the notice on screen.
  static std::string Frame();

  // The endings KestorImport is asked to read: .gltf, .glb, .obj, .fbx and
  // .dae, in any case.
  static bool Importable(const std::string& path);
  // $XDG_CACHE_HOME/KestorEngine/Imports, or ~/.cache/KestorEngine/Imports;
  // empty when neither variable is set.
  static std::string CacheFolder();
  // KestorImport beside the running program, else on PATH; empty if none.
  static std::string Importer();
  // A level name KestorImport writes safely: the file's name without its
  // ending, in letters, digits, '-' and '_'.
  static std::string LevelName(const std::string& path);

  // An import is in flight.
  static bool Busy();
  // Waits for the import in flight, if any, and opens its level (tests, and
  // the end of the run).
  static void Finish();
  // What the screen says now; empty when nothing.
  static const std::string& Notice();
};

}  // namespace KestorEngine
