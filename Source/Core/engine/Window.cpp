#include "engine/Window.h"

// Before SDL_syswm.h, whose X11 headers define None.
#include "sanegl/SaneGL.h"

#include <SDL.h>
#include <SDL_syswm.h>
#ifdef KESTOR_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "engine/Debug.h"
#include "engine/Shutter.h"
#include "sanegl/GL.h"

namespace KestorEngine {

void ReportSDLError(int line) {
  const char* error = SDL_GetError();
  if (error != nullptr && *error != '\0') std::cout << "SLD Error : " << error << std::endl;
  if (line != -1) std::cout << "\nLine : " << line << std::endl;
  SDL_ClearError();
}

Window::Window(std::string title, int width, int height) : Title(std::move(title)) {
  if (SDL_Init(SDL_INIT_VIDEO) < 0) {
    std::cout << "Failed to init SDL VIDEO/AUDIO\n";
    SDL_Log("Unable to initialize SDL: %s", SDL_GetError());
    return;
  }
  videoStarted = true;
  // Without a display SDL falls back to drawing off screen: the program runs
  // and captures work, but nobody sees a window or can press a key in it.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver != nullptr && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
    std::cout << "No display: drawing off screen (SDL video driver \"" << driver
              << "\"); no window will show" << std::endl;
  }
  if (width + height != 0) {
    window = SDL_CreateWindow(Title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
  } else {
    window = SDL_CreateWindow(Title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              1280, 720,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_MAXIMIZED);
  }
  if (window == nullptr) {
    std::cout << "Unable to create window\n";
    CheckSDLError(150);
    return;
  }
  info = new SDL_SysWMinfo{};
  info->version.major = 2;
  info->version.minor = 0;
  info->version.patch = 9;
  SDL_GetWindowWMInfo(window, info);
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  Shutter::Width(static_cast<float>(w));
  Shutter::Height(static_cast<float>(h));
  SDL_SetRelativeMouseMode(SDL_TRUE);
  std::cout << "W: " << w << std::endl;
  std::cout << "H: " << h << std::endl;
}

Window::~Window() {
  delete info;
  if (window != nullptr) SDL_DestroyWindow(window);
  if (videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

namespace {

#ifdef KESTOR_HAVE_X11
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// The one window id a window's property holds, or 0. A window gone since
// (a manager that left its mark behind) answers with an error, not a crash.
XID WindowInProperty(Display* display, XID window, Atom property) {
  XSync(display, False);
  const auto previous = XSetErrorHandler(IgnoreXError);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const int read =
      XGetWindowProperty(display, window, property, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data);
  XID held = 0;
  if (read == Success && type == XA_WINDOW && format == 32 && count == 1 && data != nullptr)
    held = static_cast<XID>(*reinterpret_cast<unsigned long*>(data));
  if (data != nullptr) XFree(data);
  XSync(display, False);
  XSetErrorHandler(previous);
  return held;
}
#endif

// Full screen is granted by the window manager. Without one (a bare X
// server) SDL still takes the request as granted and reports the screen's
// size while the window keeps its own, so the picture would be laid out for
// a screen it is not shown on. A manager that has quit leaves its mark on
// the root window, so the mark counts only while the window it names still
// carries it too.
bool HasWindowManager(const SDL_SysWMinfo* info) {
#ifdef KESTOR_HAVE_X11
  if (info == nullptr || info->subsystem != SDL_SYSWM_X11) return true;
  Display* display = info->info.x11.display;
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == 0) return false;
  const XID supporting = WindowInProperty(display, DefaultRootWindow(display), check);
  return supporting != 0 && WindowInProperty(display, supporting, check) == supporting;
#else
  (void)info;
  return true;
#endif
}

}  // namespace

void Window::Fullscreen(bool on) {
  if (window == nullptr) return;
  if (on && !fullscreen) {
    SDL_GetWindowPosition(window, &windowedX, &windowedY);
    SDL_GetWindowSize(window, &windowedW, &windowedH);
  }
  if (on && !HasWindowManager(info)) {
    // Nobody to grant it: the window covers the screen itself.
    SDL_Rect screen;
    if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &screen) != 0) return;
    SDL_SetWindowPosition(window, screen.x, screen.y);
    SDL_SetWindowSize(window, screen.w, screen.h);
  } else if (on) {
    SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
  } else {
    SDL_SetWindowFullscreen(window, 0);
    // A window that covered the screen by hand, or one the window manager
    // gives back at the screen's size (a window started full screen),
    // returns to the size it had.
    if (fullscreen && windowedW > 0 && windowedH > 0) {
      SDL_SetWindowSize(window, windowedW, windowedH);
      SDL_SetWindowPosition(window, windowedX, windowedY);
    }
  }
  fullscreen = on;
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  Shutter::Width(static_cast<float>(w));
  Shutter::Height(static_cast<float>(h));
}

void Window::CheckSDLError(int line) { ReportSDLError(line); }

namespace {

void SetContextVersion(int major, int minor) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, major);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, minor);
}

// Reports the highest version the driver offers and stops the program: the
// engine cannot run below the version it asked for.
void ProbeVersions(SDL_Window* window) {
  std::printf("SDL_GL_CreateContext failed: %s\n", SDL_GetError());
  std::printf("Starting debug maximum available version check:");
  for (int major = 4; major >= 2; --major) {
    for (int minor = 4; minor >= 0; --minor) {
      SetContextVersion(major, minor);
      SDL_ClearError();
      SDL_GLContext probe = SDL_GL_CreateContext(window);
      std::printf("Version ");
      if (probe != nullptr) {
        std::printf("%d.%d is supported!\n", major, minor);
        SDL_GL_DeleteContext(probe);
        std::fflush(stdout);
        std::exit(1);
      }
      std::printf("%d.%d not supported.\n", major, minor);
      std::printf("SDL_GL_CreateContext failed: %s\n", SDL_GetError());
    }
  }
  std::fflush(stdout);
}

}  // namespace

GLContext::GLContext(Window* window, int major, int minor) {
  SDL_Window* sdlWindow = window != nullptr ? window->window : nullptr;
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SetContextVersion(major, minor);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_ClearError();
  context = sdlWindow != nullptr ? SDL_GL_CreateContext(sdlWindow) : nullptr;
  if (context != nullptr) {
    std::printf("SDL_GL_CreateContext worked...");
  } else {
    if (sdlWindow != nullptr) ProbeVersions(sdlWindow);
    // Nothing below can work without a context; stop cleanly rather than
    // let GLEW dereference missing entry points.
    Debug::Log("No OpenGL context could be created\n");
    std::exit(1);
  }
  std::fflush(stdout);
  SDL_GL_MakeCurrent(sdlWindow, context);
  GLenum result = InitGLEW();
  Debug::Log("EJISUGEGEHGH");
  if (result != GLEW_OK) {
    Debug::Log("NOT OK!!!");
    std::cout << "GLEW Error: " << glewGetErrorString(result) << std::endl;
    std::exit(1);
  }
  if (!GLEW_VERSION_2_1) Debug::Log("FUUUUFFFFF");
  // GLEW's experimental path can leave an INVALID_ENUM behind on core
  // profiles; it is not ours, so drop it before anyone checks.
  while (glGetError() != GL_NO_ERROR) {
  }
  glEnable(GL_DEBUG_OUTPUT);
  glDebugMessageCallback(reinterpret_cast<GLDEBUGPROC>(&GLContext::MessageCallback), nullptr);
  // The renderer forces the whole GL state every frame: the state layer must
  // not switch the messages off again.
  SaneGL::AdoptContextDebugOutput();
}

GLContext::~GLContext() {
  if (context != nullptr) SDL_GL_DeleteContext(context);
}

void GLContext::MessageCallback(unsigned int source, unsigned int type, unsigned int id,
                                unsigned int severity, int length, const char* message,
                                const void* userParam) {
  if (severity == GL_DEBUG_SEVERITY_NOTIFICATION) return;
  std::fprintf(stderr, "GL CALLBACK: %s type = 0x%x, severity = 0x%x, message = %s\n",
               type == GL_DEBUG_TYPE_ERROR ? "** GL ERROR **" : "", type, severity, message);
}

}  // namespace KestorEngine
