#pragma once
// Guards for numbers and matrices built from user-driven input (window sizes,
// scales, clip planes): a non-finite matrix is never stored over a good one,
// and no float outside int's range is converted to int.
#include <cmath>
#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>

namespace KestorEngine {

inline bool AllFinite(const glm::mat4& m) {
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      if (!std::isfinite(m[c][r])) return false;
    }
  }
  return true;
}

inline bool AllFinite(const glm::mat3& m) {
  for (int c = 0; c < 3; ++c) {
    for (int r = 0; r < 3; ++r) {
      if (!std::isfinite(m[c][r])) return false;
    }
  }
  return true;
}

// The largest window or render-target side a setting may ask for.
constexpr float kMaxPixelSide = 16384.0f;

// The vertical fields of view, in degrees, that a level or the command line
// may ask for: below a degree the projection's scale runs into the
// thousands and a small error fills the frame with one texel.
constexpr float kMinFieldOfView = 1.0f;
constexpr float kMaxFieldOfView = 179.0f;

// A size setting as whole pixels, or `fallback` when it is NaN, infinite,
// negative or above kMaxPixelSide.
inline int PixelSide(float v, int fallback) {
  if (!(v >= 0.0f && v <= kMaxPixelSide)) return fallback;
  return static_cast<int>(v);
}

}  // namespace KestorEngine
