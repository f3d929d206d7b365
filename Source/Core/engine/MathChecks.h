#pragma once
// Guards for matrices built from user-driven input (window sizes, scales,
// clip planes): a non-finite matrix is never stored over a good one.
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

}  // namespace KestorEngine
