#include "support/GLTestContext.h"

#include <SDL.h>

#include <cstdio>

#include "engine/Debug.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"

namespace KestorTest {

namespace {

SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;
unsigned long debugErrors = 0;

void GLAPIENTRY CountDebugErrors(GLenum, GLenum type, GLuint, GLenum severity, GLsizei,
                                 const GLchar* message, const void*) {
  if (type == GL_DEBUG_TYPE_ERROR) {
    ++debugErrors;
    std::fprintf(stderr, "GL debug error: %s\n", message);
  }
}

// One attempt at the hidden window, its context and GLEW; leaves nothing
// behind when it fails.
bool CreateContextOnce() {
  window = SDL_CreateWindow("KestorEngine test", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                            64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (window == nullptr) {
    std::fprintf(stderr, "Test window failed: %s\n", SDL_GetError());
    return false;
  }
  context = SDL_GL_CreateContext(window);
  if (context != nullptr) {
    SDL_GL_MakeCurrent(window, context);
    const GLenum glew = InitGLEW();
    if (glew == GLEW_OK) return true;
    std::fprintf(stderr, "glewInit failed in the test context: %s\n",
                 reinterpret_cast<const char*>(glewGetErrorString(glew)));
    SDL_GL_DeleteContext(context);
    context = nullptr;
  } else {
    std::fprintf(stderr, "Test GL 4.3 core context failed: %s\n", SDL_GetError());
  }
  SDL_DestroyWindow(window);
  window = nullptr;
  return false;
}

}  // namespace

bool EnsureGLContext() {
  if (context != nullptr) {
    SDL_GL_MakeCurrent(window, context);
    return true;
  }
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "SDL_Init failed (is there a display?): %s\n", SDL_GetError());
    return false;
  }
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 4);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  // A loaded X server now and then fails a context or GLEW's GLX query; a
  // second try a moment later succeeds, and a test should not fail for it.
  bool created = false;
  for (int attempt = 0; attempt < 3 && !created; ++attempt) {
    if (attempt > 0) SDL_Delay(200);
    created = CreateContextOnce();
  }
  if (!created) return false;
  while (glGetError() != GL_NO_ERROR) {
  }
  glEnable(GL_DEBUG_OUTPUT);
  glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
  glDebugMessageCallback(&CountDebugErrors, nullptr);
  SaneGL::AdoptContextDebugOutput();
  return true;
}

SDL_Window* TestWindow() { return window; }

void GLTest::SetUp() {
  ASSERT_TRUE(EnsureGLContext()) << "GL tests need a display (run them under xvfb-run)";
  ForgetGLErrors();
}

void GLTest::TearDown() {
  if (context == nullptr) return;
  KestorEngine::Debug::_CheckGLError("test", 0);
  EXPECT_EQ(KestorEngine::Debug::GLErrorCount(), 0u) << "the engine reported GL errors";
  EXPECT_EQ(debugErrors, 0u) << "the driver reported GL errors";
}

unsigned long GLTest::DriverErrorCount() { return debugErrors; }

void GLTest::ForgetGLErrors() {
  while (glGetError() != GL_NO_ERROR) {
  }
  KestorEngine::Debug::ResetGLErrorCount();
  debugErrors = 0;
}

}  // namespace KestorTest
