#pragma once
// Typed uniform values and named sets of them. Every value a shader sees
// arrives in a UniformBuffer; each value caches a hash of its name (to find
// its location in a linked program) and of its value (to pick the compiled
// variant that has precompiled values baked in).
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "engine/Resource.h"

namespace KestorEngine {

class Texbit;

enum UniformTypes : int {
  TypeFloat = 0,
  TypeVector2 = 1,
  TypeVector3 = 2,
  TypeVector4 = 3,
  TypeFloatArray = 4,
  TypeVector3Array = 5,
  TypeTexture = 6,
  TypeMatrix3 = 7,
  TypeMatrix4 = 8,
  TypeMatrix4Array = 9,
};

// The combining step shared by every hash of the render code (uniform values,
// variant keys): seed ^= value + 0x9e3779b9 + (seed << 6) + (seed >> 2),
// wrapping on 64 bits.
inline uint64_t HashCombine(uint64_t seed, uint64_t value) {
  return seed ^ (value + 0x9e3779b9ull + (seed << 6) + (seed >> 2));
}

// 0 for +0 and -0 alike, otherwise the standard library's hash of the float.
uint64_t HashFloat(float value);

// The standard library's string hash: the same function a linked program keys
// its name-hash location table with, so the two always agree.
uint64_t HashName(const std::string& name);

class ShaderUniform {
 public:
  ShaderUniform();
  // A declaration of a shader file: the type's default value, no name.
  explicit ShaderUniform(UniformTypes type);

  explicit ShaderUniform(float value);
  explicit ShaderUniform(glm::vec2 value);
  explicit ShaderUniform(glm::vec3 value);
  explicit ShaderUniform(glm::vec4 value);
  explicit ShaderUniform(const glm::mat3& value);
  explicit ShaderUniform(const glm::mat4& value);
  explicit ShaderUniform(Texbit* texture);
  explicit ShaderUniform(const Resource<Texbit>& texture);
  explicit ShaderUniform(const std::vector<float>& values);
  explicit ShaderUniform(const std::vector<glm::vec3>& values);
  explicit ShaderUniform(const std::vector<glm::mat4>& values);

  ShaderUniform(const std::string& name, float value);
  ShaderUniform(const std::string& name, glm::vec2 value);
  ShaderUniform(const std::string& name, glm::vec3 value);
  ShaderUniform(const std::string& name, glm::vec4 value);
  ShaderUniform(const std::string& name, const glm::mat3& value);
  ShaderUniform(const std::string& name, const glm::mat4& value);
  ShaderUniform(const std::string& name, Texbit* texture);
  ShaderUniform(const std::string& name, const Resource<Texbit>& texture);
  ShaderUniform(const std::string& name, const std::vector<float>& values);
  ShaderUniform(const std::string& name, const std::vector<glm::vec3>& values);
  ShaderUniform(const std::string& name, const std::vector<glm::mat4>& values);

  // Out of line: only the source file needs the texture class complete.
  ShaderUniform(const ShaderUniform& other);
  ShaderUniform(ShaderUniform&& other) noexcept;
  ShaderUniform& operator=(const ShaderUniform& other);
  ShaderUniform& operator=(ShaderUniform&& other) noexcept;
  ~ShaderUniform();

  void SetUniformName(const std::string& name);
  // Hashes the value selected by Type into ValueHash. Editing a value field
  // directly leaves ValueHash stale until this runs again.
  void CalculateHash();
  // A copy with its own reference on the texture resource and ValueHash 0.
  ShaderUniform CopyPolite() const;

  UniformTypes Type = TypeFloat;
  std::string Name;
  float FloatValue = 0.0f;
  glm::vec2 Vector2Value{0.0f};
  glm::vec3 Vector3Value{0.0f};
  glm::vec4 Vector4Value{0.0f};
  glm::mat3 Matrix3Value{1.0f};
  glm::mat4 Matrix4Value{1.0f};
  std::vector<float> FloatValues;
  std::vector<glm::vec3> Vector3Values;
  std::vector<glm::mat4> Matrix4Values;
  // Not owned: whoever set it keeps the texture alive.
  Texbit* TexturePointer = nullptr;
  Resource<Texbit> TextureResource;
  uint64_t NameHash = 0;
  uint64_t ValueHash = 0;
};

class UniformBuffer {
 public:
  // The entry under u.Name becomes a complete copy of u, hashes included.
  void Ingest(const ShaderUniform& u);

  // Each replaces the entry under `name` with a fresh uniform of the setter's
  // kind: the type follows the setter and ValueHash is 0 until CalculateHash.
  void SetFloat(const std::string& name, float value);
  void SetVector(const std::string& name, glm::vec2 value);
  void SetVector(const std::string& name, glm::vec3 value);
  void SetVector(const std::string& name, glm::vec4 value);
  void SetMatrix3(const std::string& name, const glm::mat3& value);
  void SetMatrix4(const std::string& name, const glm::mat4& value);
  void SetTexture(const std::string& name, Texbit* texture);
  void SetFloatArray(const std::string& name, const std::vector<float>& values);
  void SetVectorArray(const std::string& name, const std::vector<glm::vec3>& values);
  void SetMatrix4Array(const std::string& name, const std::vector<glm::mat4>& values);

  // Rehashes every entry and combines their value hashes into Hash, in the
  // map's iteration order.
  void CalculateHash();

  std::unordered_map<std::string, ShaderUniform> Uniforms;
  uint64_t Hash = 0;

 private:
  void Replace(ShaderUniform&& fresh);
};

}  // namespace KestorEngine
