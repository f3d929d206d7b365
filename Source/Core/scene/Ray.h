#pragma once
#include <glm/vec3.hpp>

namespace KestorEngine {

// A half-line for picking. The direction is not normalised: casts read their
// hit distance in units of its length.
struct Ray {
  glm::vec3 Origin{0.0f};
  glm::vec3 Direction{0.0f};
};

}  // namespace KestorEngine
