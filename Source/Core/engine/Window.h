#pragma once
#include <string>

struct SDL_Window;
struct SDL_SysWMinfo;

namespace KestorEngine {

// Prints SDL's pending error text (and the line, unless it is -1), then
// clears it.
void ReportSDLError(int line);

class Window {
 public:
  // Pointer shapes a frame may ask for (IMGUI::SetCursor); 0 is the arrow.
  enum Cursors : int { Arrow = 0, IBeam, Wait, Crosshair, SizeWE, SizeNS, SizeAll, Hand, No };

  // A zero size asks for a maximised 1280 x 720 window.
  Window(std::string title, int width, int height);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Full screen, granted by the window manager, or without one the window
  // covering the screen itself; off puts back the window it was before.
  void Fullscreen(bool on);
  bool IsFullscreen() const { return fullscreen; }
  void CheckSDLError(int line);

  std::string Title;
  SDL_Window* window = nullptr;  // null when SDL or the window failed
  SDL_SysWMinfo* info = nullptr;

 private:
  bool videoStarted = false;
  bool fullscreen = false;
  int windowedX = 0, windowedY = 0, windowedW = 0, windowedH = 0;
};

class GLContext {
 public:
  GLContext(Window* window, int major, int minor);
  ~GLContext();
  GLContext(const GLContext&) = delete;
  GLContext& operator=(const GLContext&) = delete;

  static void MessageCallback(unsigned int source, unsigned int type, unsigned int id,
                              unsigned int severity, int length, const char* message,
                              const void* userParam);

  void* context = nullptr;  // SDL_GLContext
};

}  // namespace KestorEngine
