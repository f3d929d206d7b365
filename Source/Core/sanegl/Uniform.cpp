#include "sanegl/Uniform.h"

#include <algorithm>
#include <cstring>

#include <glm/gtc/type_ptr.hpp>

#include "sanegl/Detail.h"

namespace SaneGL {

namespace {

void FillIdentity(float* value) {
  std::fill(value, value + 16, 0.0f);
  value[0] = value[5] = value[10] = value[15] = 1.0f;
}

}  // namespace

Uniform::Uniform() { FillIdentity(value); }

Uniform::Uniform(int loc, float v) : type(UniformTypes::UniformFloat), location(loc) {
  FillIdentity(value);
  value[0] = v;
}

Uniform::Uniform(int loc, glm::vec2 v) : type(UniformTypes::UniformVec2), location(loc) {
  FillIdentity(value);
  std::memcpy(value, glm::value_ptr(v), sizeof(float) * 2);
}

Uniform::Uniform(int loc, glm::vec3 v) : type(UniformTypes::UniformVec3), location(loc) {
  FillIdentity(value);
  std::memcpy(value, glm::value_ptr(v), sizeof(float) * 3);
}

Uniform::Uniform(int loc, glm::vec4 v) : type(UniformTypes::UniformVec4), location(loc) {
  FillIdentity(value);
  std::memcpy(value, glm::value_ptr(v), sizeof(float) * 4);
}

Uniform::Uniform(int loc, const glm::mat3& v) : type(UniformTypes::UniformMat3), location(loc) {
  FillIdentity(value);
  std::memcpy(value, glm::value_ptr(v), sizeof(float) * 9);
}

Uniform::Uniform(int loc, const glm::mat4& v) : type(UniformTypes::UniformMat4), location(loc) {
  std::memcpy(value, glm::value_ptr(v), sizeof(float) * 16);
}

Uniform::Uniform(int loc, int v) : type(UniformTypes::UniformInt), location(loc) {
  FillIdentity(value);
  value[0] = static_cast<float>(v);
}

bool Uniform::operator==(const Uniform& other) const {
  if (type != other.type) return false;
  for (int i = 0; i < 16; ++i) {
    if (value[i] != other.value[i]) return false;
  }
  return true;
}

void Uniform::ToGPU() const {
  if (!detail::ContextAlive()) return;
  detail::Count(GLCall::Uniform);
  switch (type) {
    case UniformTypes::UniformFloat: glUniform1f(location, value[0]); break;
    case UniformTypes::UniformVec2: glUniform2f(location, value[0], value[1]); break;
    case UniformTypes::UniformVec3: glUniform3f(location, value[0], value[1], value[2]); break;
    case UniformTypes::UniformVec4:
      glUniform4f(location, value[0], value[1], value[2], value[3]);
      break;
    case UniformTypes::UniformInt: glUniform1i(location, static_cast<GLint>(value[0])); break;
    case UniformTypes::UniformMat3: glUniformMatrix3fv(location, 1, GL_FALSE, value); break;
    case UniformTypes::UniformMat4: glUniformMatrix4fv(location, 1, GL_FALSE, value); break;
  }
  SANEGL_CHECK();
}

}  // namespace SaneGL
