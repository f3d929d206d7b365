#include "engine/CommandLine.h"

#include <CLI/CLI.hpp>
#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "engine/CVar.h"
#include "engine/CameraPath.h"
#include "engine/File.h"
#include "engine/MathChecks.h"
#include "engine/TextNumbers.h"

namespace KestorEngine {

namespace {

namespace fs = std::filesystem;

constexpr int LargestWindowSide = 16384;

// Thrown by the checks below and turned into the one line the user sees.
struct BadArgument {
  std::string line;
};

[[noreturn]] void Refuse(const std::string& option, const std::string& problem) {
  throw BadArgument{option + ": " + problem};
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A whole number from `low` to `high`, written as digits (no sign for a size).
bool ReadInt(const std::string& text, int low, int high, int& out) {
  int32_t value = 0;
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || !ParseWholeInt(text, value)) return false;
  if (value < low || value > high) return false;
  out = value;
  return true;
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    pieces.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return pieces;
    start = at + 1;
  }
}

bool HasExtension(const std::string& path, const std::string& extension) {
  std::string actual = fs::path(path).extension().string();
  std::transform(actual.begin(), actual.end(), actual.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return actual == extension;
}

// The file will be written at the end of the run; finding out then that its
// folder is missing would waste the whole run.
void CheckOutputFile(const std::string& option, const std::string& path, const std::string& extension) {
  if (!HasExtension(path, extension)) Refuse(option, "the file name must end in " + extension + ", not " + Quoted(path));
  const fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  if (!folder.empty() && !fs::is_directory(folder, error)) {
    Refuse(option, "there is no folder " + Quoted(folder.string()) + " to write " + Quoted(path) + " in");
  }
}

glm::ivec2 ReadSize(const std::string& text) {
  const size_t x = text.find_first_of("xX");
  int w = 0, h = 0;
  if (x == std::string::npos || !ReadInt(text.substr(0, x), 1, LargestWindowSide, w) ||
      !ReadInt(text.substr(x + 1), 1, LargestWindowSide, h)) {
    Refuse("--size", "expected WIDTHxHEIGHT in whole pixels from 1 to " + std::to_string(LargestWindowSide) +
                         ", such as 1280x720, not " + Quoted(text));
  }
  return {w, h};
}

CameraPose ReadCamera(const std::string& text) {
  const std::vector<std::string> pieces = SplitAt(text, ',');
  float values[5] = {};
  bool ok = pieces.size() == 5;
  for (size_t i = 0; ok && i < 5; ++i) ok = ParseWholeFloat(pieces[i], values[i]);
  if (!ok) Refuse("--camera", "expected five numbers x,y,z,yaw,pitch, such as 0,-3,1,0,0, not " + Quoted(text));
  if (std::abs(values[4]) > 90.0f) Refuse("--camera", "the pitch must lie between -90 and 90 degrees, not " + pieces[4]);
  CameraPose pose;
  pose.Position = glm::vec3(values[0], values[1], values[2]);
  pose.Yaw = values[3];
  pose.Pitch = values[4];
  return pose;
}

// A file that is no level would give an empty, black run that ends with
// status 0: refused here like any other bad argument.
void CheckLevelText(const std::string& path) {
  tinyxml2::XMLDocument document;
  std::string problem;
  if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
    problem = std::string("it is not XML (") + document.ErrorName() +
              (document.ErrorLineNum() > 0 ? " at line " + std::to_string(document.ErrorLineNum()) : "") + ")";
  } else if (document.FirstChildElement("Level") == nullptr) {
    problem = "it has no \"Level\" element";
  } else if (document.FirstChildElement("Level")->FirstChildElement("Things") == nullptr) {
    problem = "its \"Level\" has no \"Things\" element";
  }
  if (!problem.empty()) Refuse("--level", Quoted(path) + " is not a level: " + problem);
}

void CheckLevel(const std::string& level) {
  std::error_code error;
  if (IsLevelPath(level)) {
    if (fs::path(level).extension() != ".xml") {
      Refuse("--level", "a level file's name ends in .xml, " + Quoted(level) + " does not");
    }
    if (!fs::is_regular_file(level, error)) Refuse("--level", "there is no level file " + Quoted(level));
    CheckLevelText(level);
    return;
  }
  const std::string path = File::AssetsPath + "Levels" + File::PathSeparator + level + ".xml";
  if (fs::is_regular_file(path, error)) {
    CheckLevelText(path);
    return;
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(File::AssetsPath + "Levels", error)) {
    if (entry.path().extension() == ".xml") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  std::string known;
  for (const std::string& name : names) known += (known.empty() ? "" : ", ") + name;
  Refuse("--level", "no level is called " + Quoted(level) + " (the levels are: " +
                        (known.empty() ? "none found" : known) + "; a level file is named by its path)");
}

std::pair<std::string, std::string> ReadSetting(const std::string& text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    Refuse("--set", "expected Name=value, such as \"Temporal Sampling=false\", not " + Quoted(text));
  }
  std::pair<std::string, std::string> setting(text.substr(0, equals), text.substr(equals + 1));
  std::string problem;
  if (!CVarHandler::SetFromText(setting.first, setting.second, problem, false)) Refuse("--set", problem);
  return setting;
}

// Longer steps than this are surely a mistake (a frame count typed in the
// step's place): a scripted run moves in steps of seconds, not minutes.
constexpr float LongestFixedStep = 60.0f;

float ReadFixedStep(const std::string& text) {
  float step = 0.0f;
  if (!ParseWholeFloat(text, step) || !(step > 0.0f) || step > LongestFixedStep) {
    std::ostringstream most;
    most << LongestFixedStep;
    Refuse("--fixed-step", "expected the seconds each frame advances the clock by, above 0 and at most " +
                               most.str() + ", such as 0.5, not " + Quoted(text));
  }
  return step;
}

std::vector<CameraKey> ReadPath(const std::string& file) {
  std::vector<CameraKey> keys;
  std::string problem;
  if (!ReadCameraPath(file, keys, problem)) Refuse("--camera-path", problem);
  return keys;
}

const char* const Examples =
    "Examples:\n"
    "  KestorEngine --level CornellBox --windowed\n"
    "  KestorEngine --level StreetTest --size 640x360 --frames 64 --capture street.png\n"
    "  KestorEngine --level my/Levels/Scene.xml --camera 0,-3,1,0,0 --fov 50\n"
    "  KestorEngine --set \"Temporal Sampling=false\" --set \"Temporal Sample Blend=0.3\"\n"
    "  KestorEngine --fixed-step 0.5 --camera-path tour.txt --frames 40 --capture tour.png\n";

}  // namespace

glm::quat CameraPose::Rotation() const {
  // Turning the view axis about X by 90 degrees looks along +Y with +Z up;
  // pitch adds to that turn, and yaw then turns about world up (clockwise
  // seen from above, so that yaw 90 looks along +X).
  const glm::quat yaw = glm::angleAxis(glm::radians(-Yaw), glm::vec3(0.0f, 0.0f, 1.0f));
  const glm::quat pitch = glm::angleAxis(glm::radians(90.0f + Pitch), glm::vec3(1.0f, 0.0f, 0.0f));
  return yaw * pitch;
}

bool IsLevelPath(const std::string& level) {
  return HasExtension(level, ".xml") || level.find_first_of("/\\") != std::string::npos;
}

std::string SelectLevel(const std::string& level) {
  if (!IsLevelPath(level)) {
    File::SceneAssetsPath.clear();
    return level;
  }
  std::error_code error;
  fs::path file = fs::absolute(level, error);
  if (error) file = level;
  fs::path root = file.parent_path();
  if (root.filename() == "Levels") root = root.parent_path();
  File::SceneAssetsPath = root.string() + File::PathSeparator;
  // Scene reads a name ending in ".xml" as the file's own path.
  return file.string();
}

namespace {

// The options' text as typed, before it is checked.
struct TypedArguments {
  std::string size, camera, capture, captureHDR, fixedStep, cameraPath, sky;
  float fov = 0.0f;
  int preset = -1, frames = 0;
  std::vector<std::string> settings;
};

void DeclareOptions(CLI::App& app, LaunchOptions& o, TypedArguments& a) {
  app.add_option("--level", o.Level,
                 "level to open: a name under CompiledAssets/Levels, or the path of a level file whose "
                 "Meshes, Materials and Textures folders sit beside it (or beside its Levels folder)")
      ->type_name("NAME|PATH");
  app.add_option("--config", o.ConfigPath, "configuration file to read instead of KestorConfig.txt")
      ->type_name("FILE");
  app.add_option("--size", a.size, "window size in pixels; opens a window rather than full screen")
      ->type_name("WxH");
  app.add_flag("--windowed", o.Windowed, "open a window rather than full screen");
  app.add_option("--camera", a.camera,
                 "start the camera at x,y,z looking at yaw,pitch (degrees, Z up; yaw 0 looks along +Y, "
                 "yaw 90 along +X; pitch 0 is level, positive up)")
      ->type_name("x,y,z,yaw,pitch");
  app.add_option("--fov", a.fov, "vertical field of view in degrees, 1 to 179")->type_name("DEG");
  app.add_option("--preset", a.preset, "apply lighting preset N of the control panel at start")->type_name("N");
  app.add_option("--set", a.settings, "set a configuration variable, after the configuration file; repeatable")
      ->type_name("\"Name=value\"")
      ->allow_extra_args(false);
  app.add_option("--frames", a.frames, "render N frames, then quit with status 0")->type_name("N");
  app.add_option("--capture", a.capture, "save the last frame shown, as the user sees it, as a PNG")
      ->type_name("FILE.png");
  app.add_option("--capture-hdr", a.captureHDR,
                 "save the last frame's linear light before tone mapping as float RGB (PFM)")
      ->type_name("FILE.pfm");
  app.add_flag("--hide-panel", o.HidePanel, "draw neither the control panel nor the frame rate");
  app.add_option("--fixed-step", a.fixedStep,
                 "advance the clock by S seconds every frame (camera path, animations, the curtain, the "
                 "lighting), so N frames give the same picture on any machine")
      ->type_name("S");
  app.add_option("--camera-path", a.cameraPath,
                 "move the camera along the keyframes of FILE, one a line: t x y z yaw pitch [fov] (seconds, "
                 "then as --camera and --fov; # starts a comment)")
      ->type_name("FILE");
  app.add_option("--sky", a.sky,
                 "day: daylight over any level; none: dark outside, lit by emissive surfaces alone (without "
                 "it: the level's own sky, daylight for a level without one)")
      ->type_name("day|none");
}

// Checks what was typed and fills the options; a bad argument throws.
void ReadArguments(const CLI::App& app, const TypedArguments& a, int presetCount, LaunchOptions& o) {
  CheckLevel(o.Level);
  if (app.count("--config") != 0) {
    std::error_code error;
    if (!fs::is_regular_file(o.ConfigPath, error)) Refuse("--config", "there is no file " + Quoted(o.ConfigPath));
  }
  if (app.count("--size") != 0) o.Size = ReadSize(a.size);
  if (app.count("--camera") != 0) o.Camera = ReadCamera(a.camera);
  if (app.count("--fov") != 0) {
    if (!(a.fov >= kMinFieldOfView && a.fov <= kMaxFieldOfView)) {
      std::ostringstream shown;
      shown << "the field of view must lie between " << kMinFieldOfView << " and " << kMaxFieldOfView
            << " degrees, not " << a.fov;
      Refuse("--fov", shown.str());
    }
    o.FieldOfView = a.fov;
  }
  if (app.count("--preset") != 0) {
    if (a.preset < 0 || a.preset >= presetCount) {
      Refuse("--preset", "the presets are numbered 0 to " + std::to_string(presetCount - 1) + ", not " +
                             std::to_string(a.preset));
    }
    o.Preset = a.preset;
  }
  for (const std::string& setting : a.settings) o.Settings.push_back(ReadSetting(setting));
  if (app.count("--frames") != 0) {
    if (a.frames < 1) Refuse("--frames", "the frame count must be at least 1, not " + std::to_string(a.frames));
    o.Frames = a.frames;
  }
  if (app.count("--capture") != 0) {
    CheckOutputFile("--capture", a.capture, ".png");
    o.CapturePath = a.capture;
  }
  if (app.count("--capture-hdr") != 0) {
    CheckOutputFile("--capture-hdr", a.captureHDR, ".pfm");
    o.CaptureHDRPath = a.captureHDR;
  }
  if (app.count("--fixed-step") != 0) o.FixedStep = ReadFixedStep(a.fixedStep);
  if (app.count("--camera-path") != 0) o.CameraPath = ReadPath(a.cameraPath);
  if (app.count("--sky") != 0) {
    if (a.sky != "day" && a.sky != "none") Refuse("--sky", "expected day or none, not " + Quoted(a.sky));
    o.Sky = a.sky;
  }
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const argv[], int presetCount) {
  CommandLine result;
  LaunchOptions& o = result.Options;

  CLI::App app("KestorEngine: a real-time engine with voxel global illumination. Without options it "
               "opens the street level \"StreetTest\" with the settings of KestorConfig.txt.",
               "KestorEngine");
  app.footer(Examples);
  app.get_formatter()->column_width(30);
  TypedArguments typed;
  DeclareOptions(app, o, typed);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    result.ExitStatus = 0;
    result.Message = app.help();
    return result;
  } catch (const CLI::ParseError& e) {
    result.ExitStatus = 2;
    result.Message = std::string("KestorEngine: ") + e.what() + " (--help lists the options)";
    return result;
  }

  try {
    ReadArguments(app, typed, presetCount, o);
  } catch (const BadArgument& bad) {
    result.ExitStatus = 2;
    result.Message = "KestorEngine: " + bad.line;
  }
  return result;
}

std::vector<std::pair<std::string, std::string>> ConfigOverrides(const LaunchOptions& options) {
  std::vector<std::pair<std::string, std::string>> overrides;
  if (options.Size) {
    overrides.emplace_back("Screen Resolution",
                           std::to_string(options.Size->x) + "," + std::to_string(options.Size->y));
  }
  if (options.Size || options.Windowed) overrides.emplace_back("Fullscreen", "false");
  // A set number of frames makes pictures and benchmarks: the render scale
  // stays as set, however busy the machine.
  if (options.Frames > 0) overrides.emplace_back("Auto Render Scale", "false");
  overrides.insert(overrides.end(), options.Settings.begin(), options.Settings.end());
  return overrides;
}

}  // namespace KestorEngine
