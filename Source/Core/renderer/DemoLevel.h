#pragma once
// The level the demo shows: opened at start from the command line, replaced
// by a scene dropped on the window. Opening one gives it a sky when it has
// none (the daylight every level had before levels named their sky) or the
// one --sky asks for, and puts the fly camera at its viewpoint.
#include <string>

#include "engine/Thing.h"

namespace KestorEngine {

class Scene;
class Sky;
struct LaunchOptions;

enum class SkyChoice { Level, Day, None };

class DemoLevel {
 public:
  // "--sky" as the command line gave it: empty for the level's own.
  static SkyChoice ChoiceOf(const std::string& option);

  // The first level: loads `options.Level`, gives it its sky and builds the
  // fly camera where the options or the level's viewpoint say. The level
  // is held until Close.
  static Scene* Open(const LaunchOptions& options);
  // Another level in its place: the current one's Things go (their light
  // fields' volumes with them), the new one is loaded, given its sky, and
  // the camera moves to its viewpoint (--camera and --fov were for the
  // first level). `path` is a level file's path.
  static Scene* Replace(const std::string& path);
  static Scene* Current();
  // The fly camera's Thing that Open built (the dud before).
  static Thing Camera();
  // Lets go of the level; after the engine is gone, as main's handle was.
  static void Close();

  // Gives `level` a sky as `choice` says, with one console line when the
  // program chose it: a level without a Sky gets the daylight; Day and
  // None set every Sky of the level (adding one where it has none).
  static void ChooseSky(Scene& level, SkyChoice choice);
  // The daylight of the shader constants levels were lit by before the Sky
  // component: a warm horizon under a blue zenith, and a low afternoon sun
  // from (30, -40, 18) giving an irradiance of (1.7, 1.33, 0.94).
  static void Daylight(Sky& sky);
  // No light from outside at all.
  static void Darkness(Sky& sky);
};

}  // namespace KestorEngine
