#include "BenchContext.h"

#include <SDL.h>

#include "sanegl/GL.h"

namespace KestorBench {

bool EnsureGLContext() {
  static bool ready = [] {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_Window* window =
        SDL_CreateWindow("Kestor bench", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (window == nullptr) return false;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (context == nullptr || SDL_GL_MakeCurrent(window, context) != 0) return false;
    return InitGLEW() == GLEW_OK;
  }();
  return ready;
}

}  // namespace KestorBench
