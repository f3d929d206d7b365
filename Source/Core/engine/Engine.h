#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <glm/vec2.hpp>

#include "engine/Window.h"

namespace KestorEngine {

template <typename T>
class CVar;

// A stage callback; the returned text is discarded by the engine.
using StageCallback = std::function<std::string()>;

class KestorEngineFlyHahaJk {
 public:
  static constexpr size_t StartListSize = 30;
  static constexpr size_t UpdateListSize = 60;
  static constexpr size_t ShutdownListSize = 30;
  // Reserved: never run by RunGame, whatever it holds.
  static constexpr size_t SkippedUpdateIndex = 25;

  KestorEngineFlyHahaJk();
  ~KestorEngineFlyHahaJk();
  KestorEngineFlyHahaJk(const KestorEngineFlyHahaJk&) = delete;
  KestorEngineFlyHahaJk& operator=(const KestorEngineFlyHahaJk&) = delete;

  // Sizes the three lists once, the first time a system is about to attach.
  void PrepareStageLists();

  void Initialize();
  void RunGame();
  // One pass of the update list; then the clock's fixed step, if any, moves on.
  void RunPass();
  void Quit() { Running = false; }
  // The clock everything that moves follows: PassesRun x FixedStep with a
  // fixed step, else the wall clock's whole milliseconds since the start.
  float TimeSinceStart() const;
  // The wall clock alone, for what measures the program (frame rates).
  float WallTimeSinceStart() const;

  void CheckSDLError(int line);
  void PrintSDL_GL_Attributes();
  void SetOpenGLAttributes();
  void SetFullscreen(bool) {}

  // Read by Initialize: the configuration file, then these (variable, value
  // text) pairs over it in order, so the command line beats the file.
  std::string ConfigPath = "KestorConfig.txt";
  std::vector<std::pair<std::string, std::string>> ConfigOverrides;

  std::string Title;
  std::unique_ptr<Window> window;
  std::unique_ptr<GLContext> context;
  bool Running = true;
  std::chrono::system_clock::time_point StartTime{};
  // Seconds each pass advances the clock by; 0: the clock is the wall clock.
  float FixedStep = 0.0f;
  std::int64_t PassesRun = 0;
  std::vector<StageCallback> StartList;
  std::vector<StageCallback> UpdateList;
  std::vector<StageCallback> ShutdownList;
};

// The window size "Screen Resolution" asks for, in whole pixels. A side that
// is NaN, infinite, negative or above kMaxPixelSide cannot be a window: one
// console line, and the variable itself goes back to its default
// (1280, 720), so the renderer, which reads it too, agrees.
void CheckedWindowSize(CVar<glm::vec2>& resolution, int& width, int& height);

// Runs every non-empty entry in index order, re-reading the list after each
// call; `skip` names an index that is never run (none by default).
void RunStageList(std::vector<StageCallback>& list, size_t skip = SIZE_MAX);

std::string BrellInit();

}  // namespace KestorEngine
