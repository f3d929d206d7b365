#pragma once
// The program's command line: what to load, how to configure it, how to
// place the camera, and whether to render a fixed number of frames and save
// the last one. Parsing checks every value up front, so a bad argument ends
// the program before a window opens. Without arguments everything keeps its
// usual default.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <glm/gtc/quaternion.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

namespace KestorEngine {

// Where the camera stands and where it looks. World units and degrees, Z up:
// yaw 0 looks along +Y and yaw 90 along +X; pitch 0 is level, positive up.
struct CameraPose {
  glm::vec3 Position{0.0f};
  float Yaw = 0.0f;
  float Pitch = 0.0f;

  // The camera's rotation: its view axis (local -Z) turned onto the pose's
  // direction, local +Y up.
  glm::quat Rotation() const;
};

// One keyframe of a scripted camera path (engine/CameraPath).
struct CameraKey {
  float Time = 0.0f;  // seconds from the start
  CameraPose Pose;
  std::optional<float> FieldOfView;  // vertical, degrees; none: the camera's own
};

struct LaunchOptions {
  // A level name under AssetsPath/Levels, or the path of a level file.
  std::string Level = "StreetTest";
  std::string ConfigPath = "KestorConfig.txt";
  std::optional<glm::ivec2> Size;
  bool Windowed = false;
  std::optional<CameraPose> Camera;
  std::optional<float> FieldOfView;  // vertical, degrees
  std::optional<int> Preset;
  // Configuration variables as "--set Name=value" gave them, in order.
  std::vector<std::pair<std::string, std::string>> Settings;
  int Frames = 0;  // 0: run until the user quits
  std::string CapturePath;     // PNG of the presented frame
  std::string CaptureHDRPath;  // PFM of the linear frame before tone mapping
  bool HidePanel = false;
  // Seconds each frame advances the clock by, whatever time it really took,
  // so that a run of N frames gives the same pictures anywhere.
  std::optional<float> FixedStep;
  // Keyframes the camera follows on the clock (empty: the user flies it).
  std::vector<CameraKey> CameraPath;
  // The light from outside: empty for the level's own Sky (daylight where
  // it has none), "day" or "none" over whatever the level says.
  std::string Sky;
};

struct CommandLine {
  LaunchOptions Options;
  // -1: go on and run. Otherwise the program ends at once with this status:
  // 0 after --help, 2 for a bad argument.
  int ExitStatus = -1;
  // The help text, or the one line saying what is wrong.
  std::string Message;
};

// `presetCount` bounds --preset. Configuration variables named by --set must
// be registered already (the renderer's are, before main starts).
CommandLine ParseCommandLine(int argc, const char* const argv[], int presetCount);

// The configuration the options override, as (variable, value text) pairs in
// the order they apply, after the configuration file: --size (which also asks
// for a window, since a full-screen one takes the desktop's size),
// --windowed, --frames (which keeps the render scale as set), then every
// --set.
std::vector<std::pair<std::string, std::string>> ConfigOverrides(const LaunchOptions& options);

// True when `level` names a level file rather than a level under
// AssetsPath/Levels: it ends in ".xml" or holds a path separator.
bool IsLevelPath(const std::string& level);

// The name to hand Resources<Scene> for the level option. For a level file,
// also points File::SceneAssetsPath at the folder its assets sit in: the
// folder above when the file lies in a folder called "Levels" (the layout of
// CompiledAssets and of KestorImport's output), else the file's own folder.
std::string SelectLevel(const std::string& level);

}  // namespace KestorEngine
