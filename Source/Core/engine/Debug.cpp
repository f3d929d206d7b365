#include "engine/Debug.h"

#include <iostream>

#include <SDL.h>

#include "sanegl/GL.h"

namespace KestorEngine {

namespace {
unsigned long glErrorCount = 0;
}

void Debug::Log(const std::string& text) {
  std::cout << text;
  std::cout.flush();
}

const char* Debug::GLErrorName(unsigned int code) {
  switch (code) {
    case GL_INVALID_ENUM: return "INVALID_ENUM";
    case GL_INVALID_VALUE: return "INVALID_VALUE";
    case GL_INVALID_OPERATION: return "INVALID_OPERATION";
    case GL_OUT_OF_MEMORY: return "OUT_OF_MEMORY";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "INVALID_FRAMEBUFFER_OPERATION";
    default: return "IDKWat";
  }
}

void Debug::_CheckGLError(const char* file, int line) {
  // Static objects may be destroyed after the context is gone; no GL call
  // may be made then.
  if (SDL_GL_GetCurrentContext() == nullptr) return;
  for (GLenum err = glGetError(); err != GL_NO_ERROR; err = glGetError()) {
    std::cout << "GL_" << GLErrorName(err) << " - " << file << ":" << line << std::endl;
    CountGLError();
  }
}

unsigned long Debug::GLErrorCount() { return glErrorCount; }
void Debug::CountGLError() { ++glErrorCount; }
void Debug::ResetGLErrorCount() { glErrorCount = 0; }

}  // namespace KestorEngine
