#pragma once
// One uniform value staged for upload at a known location.
#include <memory>

#include <glm/glm.hpp>

namespace SaneGL {

enum class UniformTypes : int {
  UniformFloat, UniformVec2, UniformVec3, UniformVec4, UniformInt, UniformMat3, UniformMat4
};

struct Uniform {
  UniformTypes type = UniformTypes::UniformFloat;
  // -1 when the name is unknown to the program; GL ignores such uploads.
  int location = -1;
  // The value in the first elements (matrices column by column) over a 4x4
  // identity; an int is stored as a float.
  float value[16];

  Uniform();
  Uniform(int location, float v);
  Uniform(int location, glm::vec2 v);
  Uniform(int location, glm::vec3 v);
  Uniform(int location, glm::vec4 v);
  Uniform(int location, const glm::mat3& v);
  Uniform(int location, const glm::mat4& v);
  Uniform(int location, int v);

  // Type and value only: the same value at another location is equal.
  bool operator==(const Uniform& other) const;
  bool operator!=(const Uniform& other) const { return !(*this == other); }

  std::unique_ptr<Uniform> Copy() const { return std::make_unique<Uniform>(*this); }
  Uniform CopyPolite() const { return *this; }

  // Uploads into the program bound in GL right now (StateSync binds it first).
  void ToGPU() const;
  void Use() const { ToGPU(); }
};

}  // namespace SaneGL
