#pragma once
// Moves a camera along a scripted path (engine/CameraPath) on the engine's
// clock, after the fly camera and before the transforms, so a path beats
// the user's flying and a fixed step makes every run of it the same.
#include <string>
#include <vector>

#include "engine/CommandLine.h"
#include "engine/Thing.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

class CameraPathSystem {
 public:
  // Written before the fly camera inserts its slot, so it runs at 21.
  static constexpr size_t UpdateSlot = 20;

  static void Attach(KestorEngineFlyHahaJk* engine);
  // `camera` (a Thing with a Transform, and a Camera for the field of view)
  // follows `path` from the next frame on; an empty path lets it go.
  static void Follow(Thing camera, std::vector<CameraKey> path);
  // Places the follower where the path is at `seconds`.
  static void Place(float seconds);

  static inline Thing Follower = Thing::GimmeDud();
  static inline std::vector<CameraKey> Path;

 private:
  static std::string Update(KestorEngineFlyHahaJk* engine);
};

}  // namespace KestorEngine
