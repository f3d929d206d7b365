#include "scene/InputSystem.h"

#include <SDL.h>

#include "engine/Engine.h"
#include "engine/Shutter.h"

namespace KestorEngine {

void InputSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->UpdateList[10] = [engine] { return ISwearIDidntClickThereOohhhNooo(engine); };
}

std::string InputSystem::ISwearIDidntClickThereOohhhNooo(KestorEngineFlyHahaJk* engine) {
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_QUIT) engine->Quit();
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) engine->Quit();
    if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_RESIZED) {
      Shutter::Width(static_cast<float>(event.window.data1));
      Shutter::Height(static_cast<float>(event.window.data2));
    }
  }
  return "";
}

}  // namespace KestorEngine
