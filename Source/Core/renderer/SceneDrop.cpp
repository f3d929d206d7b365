#include "renderer/SceneDrop.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <memory>
#include <thread>
#include <iostream>
#include <sstream>
#include <system_error>
#include <vector>

#include "engine/Engine.h"
#include "engine/File.h"
#include "engine/Scene.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/Subprocess.h"
#include "renderer/DemoLevel.h"
#include "scene/InputSystem.h"

namespace KestorEngine {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long a notice stays up, seconds.
constexpr double NoticeSeconds = 8.0;

struct Outcome {
  bool Started = false;
  int Status = -1;
  std::string Errors;  // KestorImport's standard error
};

// Filled by the import's thread, read by the frame once Done is set. The
// thread is not joined: a run that ends while it works leaves it (and the
// importer, which writes its level whole or not at all) to finish alone.
struct Shared {
  std::atomic<bool> Done{false};
  Outcome Result;
};

struct Job {
  std::string Source;     // the dropped file
  std::string LevelPath;  // where its level will be
  std::shared_ptr<Shared> Import;
};

struct State {
  std::vector<Job> Jobs;  // one at most
  std::string Notice;
  Clock::time_point NoticeUntil{};
};

State& S() {
  static State* s = new State();
  return *s;
}

void Tell(const std::string& line, bool onConsole = true) {
  if (onConsole) std::cout << line << std::endl;
  S().Notice = line;
  S().NoticeUntil = Clock::now() + std::chrono::milliseconds(static_cast<int>(NoticeSeconds * 1000));
}

std::string FirstLine(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) return line;
  }
  return "";
}

// The importer names the source at the start of its lines; the notice
// names it once.
std::string Problem(const Job& job, const Outcome& outcome) {
  if (!outcome.Started) return "KestorImport could not be started";
  if (outcome.Status < 0) return "KestorImport stopped on it before writing anything";
  std::string line = FirstLine(outcome.Errors);
  for (const std::string& prefix : {job.Source + ": ", fs::path(job.Source).filename().string() + ": "}) {
    if (line.compare(0, prefix.size(), prefix) == 0) line = line.substr(prefix.size());
  }
  return line.empty() ? "KestorImport ended with status " + std::to_string(outcome.Status) : line;
}

void Start(const std::string& source) {
  const std::string name = fs::path(source).filename().string();
  const std::string importer = SceneDrop::Importer();
  if (importer.empty()) {
    Tell(source + ": cannot be imported: no KestorImport beside the engine or on PATH");
    return;
  }
  const std::string cache = SceneDrop::CacheFolder();
  if (cache.empty()) {
    Tell(source + ": cannot be imported: no cache folder (neither XDG_CACHE_HOME nor HOME is set)");
    return;
  }
  std::error_code error;
  fs::create_directories(cache, error);
  if (!fs::is_directory(cache, error)) {
    Tell(source + ": cannot be imported: the cache folder " + cache + " cannot be made");
    return;
  }
  const std::string level = SceneDrop::LevelName(source);
  Job job;
  job.Source = source;
  job.LevelPath = (fs::path(cache) / "Levels" / (level + ".xml")).string();
  const std::vector<std::string> args = {"KestorImport", source, "--out", cache, "--name", level};
  job.Import = std::make_shared<Shared>();
  std::thread([shared = job.Import, importer, args] {
    Outcome& o = shared->Result;
    o.Started = Subprocess::Run(importer, args, o.Errors, o.Status, Subprocess::Capture::Errors);
    shared->Done = true;
  }).detach();
  S().Jobs.push_back(std::move(job));
  Tell("Importing " + name + " ...", false);
  S().NoticeUntil = Clock::time_point::max();
}

void Complete(Job& job) {
  const Outcome& outcome = job.Import->Result;
  std::error_code error;
  if (!outcome.Started || outcome.Status != 0 || !fs::is_regular_file(job.LevelPath, error)) {
    Tell(job.Source + ": cannot be imported: " + Problem(job, outcome) + "; the level stays as it was");
    return;
  }
  DemoLevel::Replace(job.LevelPath);
  Tell("Opened " + job.LevelPath + ", imported from " + job.Source);
}

void Poll(bool wait) {
  std::vector<Job>& jobs = S().Jobs;
  if (jobs.empty()) return;
  while (wait && !jobs.front().Import->Done) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (!jobs.front().Import->Done) return;
  Job job = std::move(jobs.front());
  jobs.erase(jobs.begin());
  Complete(job);
}

void QueueNotice() {
  State& s = S();
  if (s.Notice.empty()) return;
  if (Clock::now() > s.NoticeUntil) {
    s.Notice.clear();
    return;
  }
  static GUIStyle back = [] {
    GUIStyle b = GUI::Default.Content;
    b.TopColor = b.BottomColor = glm::vec4(0.05f, 0.05f, 0.05f, 0.8f);
    return b;
  }();
  GUIStyle text = GUI::Default.Click;
  // About ten pixels a character; the box keeps to the window.
  const float width = std::min(Shutter::Width() - 20.0f, 10.0f * static_cast<float>(s.Notice.size()) + 24.0f);
  const glm::vec2 size(width, 28.0f), pos((Shutter::Width() - width) * 0.5f, Shutter::Height() - 90.0f);
  GUI::DrawStyle(pos, size, &back);
  GUI::DrawText(pos, size, &text, s.Notice);
}

}  // namespace

void SceneDrop::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->UpdateList[UpdateSlot] = [] { return Frame(); };
}

std::string SceneDrop::Frame() {
  Poll(false);
  for (const InputEvent& e : InputSystem::InputEvents) {
    if (!(e == InputSystem::DropFile) || e.text.empty()) continue;
    if (Busy()) {
      Tell(e.text + ": not imported: " + fs::path(S().Jobs.front().Source).filename().string() +
           " is still being imported; drop it again then");
    } else if (!Importable(e.text)) {
      Tell(e.text + ": not imported: only .gltf, .glb, .obj, .fbx and .dae files are");
    } else {
      Start(e.text);
    }
  }
  QueueNotice();
  return "";
}

bool SceneDrop::Importable(const std::string& path) {
  std::string ending = fs::path(path).extension().string();
  std::transform(ending.begin(), ending.end(), ending.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* known : {".gltf", ".glb", ".obj", ".fbx", ".dae"}) {
    if (ending == known) return true;
  }
  return false;
}

std::string SceneDrop::CacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  // A relative cache home is ignored, as desktops do: it would land
  // wherever the program happened to start.
  if (xdg != nullptr && xdg[0] == '/') return (fs::path(xdg) / "KestorEngine" / "Imports").string();
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return (fs::path(home) / ".cache" / "KestorEngine" / "Imports").string();
  return "";
}

std::string SceneDrop::Importer() {
  const std::string beside = Subprocess::FindProgram(File::ExecutablePath + "KestorImport");
  return beside.empty() ? Subprocess::FindProgram("KestorImport") : beside;
}

std::string SceneDrop::LevelName(const std::string& path) {
  std::string name;
  for (char c : fs::path(path).stem().string()) {
    const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
    name += plain ? c : '_';
  }
  return name.empty() || name.front() == '-' ? "Dropped" + name : name;
}

bool SceneDrop::Busy() { return !S().Jobs.empty(); }

void SceneDrop::Finish() { Poll(true); }

const std::string& SceneDrop::Notice() { return S().Notice; }

}  // namespace KestorEngine
