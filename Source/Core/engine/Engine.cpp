#include "engine/Engine.h"

#include <SDL.h>

#include <cstdlib>
#include <iostream>

#include "engine/CVar.h"
#include "engine/Debug.h"
#include "engine/MathChecks.h"
#include "render/Draw.h"
#include "sanegl/GL.h"

namespace KestorEngine {

KestorEngineFlyHahaJk::KestorEngineFlyHahaJk() : Title("I can fly like a real bird!") {}

KestorEngineFlyHahaJk::~KestorEngineFlyHahaJk() {
  RunStageList(ShutdownList);
  // Only an engine that opened its window shuts SDL down: a host or test
  // that attached systems to one it never initialised keeps its own windows.
  const bool opened = window != nullptr;
  context.reset();
  window.reset();
  if (opened) SDL_Quit();
}

void KestorEngineFlyHahaJk::PrepareStageLists() {
  if (!StartList.empty()) return;
  StartList.resize(StartListSize);
  UpdateList.resize(UpdateListSize);
  ShutdownList.resize(ShutdownListSize);
}

void RunStageList(std::vector<StageCallback>& list, size_t skip) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (i == skip || !list[i]) continue;
    // Copy first: the callback may resize the list it lives in.
    StageCallback callback = list[i];
    callback();
  }
}

void CheckedWindowSize(CVar<glm::vec2>& resolution, int& width, int& height) {
  const glm::vec2 asked = resolution.value;
  width = PixelSide(asked.x, -1);
  height = PixelSide(asked.y, -1);
  if (width >= 0 && height >= 0) return;
  const glm::vec2 fallback(1280.0f, 720.0f);
  std::cout << "KestorConfig.txt: \"" << resolution.name << "\" (" << asked.x << ", " << asked.y
            << ") is no window size (0 to " << kMaxPixelSide << " pixels a side); using " << fallback.x
            << " x " << fallback.y << std::endl;
  resolution.value = fallback;
  width = static_cast<int>(fallback.x);
  height = static_cast<int>(fallback.y);
}

void KestorEngineFlyHahaJk::Initialize() {
  CVarHandler::Load(ConfigPath);
  for (const auto& [name, value] : ConfigOverrides) {
    std::string problem;
    if (!CVarHandler::SetFromText(name, value, problem)) std::cout << "Command line: " << problem << ", ignored" << std::endl;
  }
  CVar<glm::vec2>* resolution = CVarHandler::Create<glm::vec2>("Screen Resolution", {1920, 1080});
  CVar<bool>* fullscreen = CVarHandler::Create<bool>("Fullscreen", false);

  int width = 0, height = 0;
  CheckedWindowSize(*resolution, width, height);
  window = std::make_unique<Window>(Title, width, height);
  if (window->window == nullptr) {
    // Nothing can be drawn without a window; the reason is already printed.
    std::exit(1);
  }
  window->Fullscreen(fullscreen->value);
  context = std::make_unique<GLContext>(window.get(), 4, 3);
  SDL_GL_SetSwapInterval(1);

  const GLubyte* version = glGetString(GL_VERSION);
  if (version != nullptr) {
    std::cout << reinterpret_cast<const char*>(version);
  } else {
    std::cout.setstate(std::ios::failbit);
  }

  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  SDL_GL_SwapWindow(window->window);
  Debug::_CheckGLError("RELEASE", __LINE__);

  // The quad exists before any start callback, so start-up code may blit.
  Draw::Initialize();

  RunStageList(StartList);
  StartTime = std::chrono::system_clock::now();
}

void KestorEngineFlyHahaJk::RunGame() {
  while (Running) RunPass();
}

void KestorEngineFlyHahaJk::RunPass() {
  RunStageList(UpdateList, SkippedUpdateIndex);
  ++PassesRun;
}

float KestorEngineFlyHahaJk::TimeSinceStart() const {
  // Counted in passes, not summed: no rounding builds up over a long run.
  if (FixedStep > 0.0f) return static_cast<float>(static_cast<double>(PassesRun) * FixedStep);
  return WallTimeSinceStart();
}

float KestorEngineFlyHahaJk::WallTimeSinceStart() const {
  auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now() - StartTime);
  int32_t millis = static_cast<int32_t>(elapsed.count() / 1000000);
  return static_cast<float>(millis) / 1000.0f;
}

void KestorEngineFlyHahaJk::CheckSDLError(int line) { ReportSDLError(line); }

void KestorEngineFlyHahaJk::PrintSDL_GL_Attributes() {
  int value = 0;
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, &value);
  std::cout << "SDL_GL_CONTEXT_MAJOR_VERSION : " << value << std::endl;
  SDL_GL_GetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, &value);
  std::cout << "SDL_GL_CONTEXT_MINOR_VERSION: " << value << std::endl;
}

void KestorEngineFlyHahaJk::SetOpenGLAttributes() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

std::string BrellInit() {
  Draw::Initialize();
  return "";
}

}  // namespace KestorEngine
