#pragma once

namespace KestorEngine {

// The drawable size in pixels. The window sets it at creation and the input
// pump on every resize; cameras, framebuffers and the renderer read it.
class Shutter {
 public:
  static float Width() { return Width_; }
  static float Height() { return Height_; }
  static void Width(float w) {
    if (w != Width_) Width_ = w;
  }
  static void Height(float h) {
    if (h != Height_) Height_ = h;
  }

  static inline float Width_ = 1920.0f;
  static inline float Height_ = 1080.0f;
};

}  // namespace KestorEngine
