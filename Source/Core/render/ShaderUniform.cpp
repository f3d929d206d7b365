#include "render/ShaderUniform.h"

#include <functional>
#include <utility>

#include <glm/gtc/type_ptr.hpp>

#include "render/Texbit.h"

namespace KestorEngine {

uint64_t HashFloat(float value) {
  // +0 and -0 compare equal but differ in their bytes; both must pick the
  // same variant.
  if (value == 0.0f) return 0;
  return static_cast<uint64_t>(std::hash<float>{}(value));
}

uint64_t HashName(const std::string& name) {
  return static_cast<uint64_t>(std::hash<std::string>{}(name));
}

namespace {

uint64_t HashFloats(uint64_t seed, const float* values, int count) {
  for (int i = 0; i < count; ++i) seed = HashCombine(seed, HashFloat(values[i]));
  return seed;
}

// glm stores vectors and matrices as contiguous floats, matrices column by
// column: exactly the component order the hash is defined over.
template <typename T>
uint64_t HashValue(uint64_t seed, const T& value) {
  return HashFloats(seed, glm::value_ptr(value), static_cast<int>(sizeof(T) / sizeof(float)));
}

}  // namespace

ShaderUniform::ShaderUniform() = default;
ShaderUniform::ShaderUniform(UniformTypes type) : Type(type) {}

ShaderUniform::ShaderUniform(float value) : Type(TypeFloat), FloatValue(value) {}
ShaderUniform::ShaderUniform(glm::vec2 value) : Type(TypeVector2), Vector2Value(value) {}
ShaderUniform::ShaderUniform(glm::vec3 value) : Type(TypeVector3), Vector3Value(value) {}
ShaderUniform::ShaderUniform(glm::vec4 value) : Type(TypeVector4), Vector4Value(value) {}
ShaderUniform::ShaderUniform(const glm::mat3& value) : Type(TypeMatrix3), Matrix3Value(value) {}
ShaderUniform::ShaderUniform(const glm::mat4& value) : Type(TypeMatrix4), Matrix4Value(value) {}
ShaderUniform::ShaderUniform(Texbit* texture) : Type(TypeTexture), TexturePointer(texture) {}
ShaderUniform::ShaderUniform(const Resource<Texbit>& texture)
    : Type(TypeTexture), TextureResource(texture) {}
ShaderUniform::ShaderUniform(const std::vector<float>& values)
    : Type(TypeFloatArray), FloatValues(values) {}
ShaderUniform::ShaderUniform(const std::vector<glm::vec3>& values)
    : Type(TypeVector3Array), Vector3Values(values) {}
ShaderUniform::ShaderUniform(const std::vector<glm::mat4>& values)
    : Type(TypeMatrix4Array), Matrix4Values(values) {}

ShaderUniform::ShaderUniform(const std::string& name, float value) : ShaderUniform(value) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, glm::vec2 value) : ShaderUniform(value) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, glm::vec3 value) : ShaderUniform(value) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, glm::vec4 value) : ShaderUniform(value) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, const glm::mat3& value)
    : ShaderUniform(value) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, const glm::mat4& value)
    : ShaderUniform(value) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, Texbit* texture) : ShaderUniform(texture) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, const Resource<Texbit>& texture)
    : ShaderUniform(texture) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, const std::vector<float>& values)
    : ShaderUniform(values) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, const std::vector<glm::vec3>& values)
    : ShaderUniform(values) {
  SetUniformName(name);
}
ShaderUniform::ShaderUniform(const std::string& name, const std::vector<glm::mat4>& values)
    : ShaderUniform(values) {
  SetUniformName(name);
}

ShaderUniform::ShaderUniform(const ShaderUniform& other) = default;
ShaderUniform::ShaderUniform(ShaderUniform&& other) noexcept = default;
ShaderUniform& ShaderUniform::operator=(const ShaderUniform& other) = default;
ShaderUniform& ShaderUniform::operator=(ShaderUniform&& other) noexcept = default;
ShaderUniform::~ShaderUniform() = default;

void ShaderUniform::SetUniformName(const std::string& name) {
  Name = name;
  NameHash = HashName(name);
}

void ShaderUniform::CalculateHash() {
  uint64_t hash = 0;
  switch (Type) {
    case TypeFloat: hash = HashCombine(hash, HashFloat(FloatValue)); break;
    case TypeVector2: hash = HashValue(hash, Vector2Value); break;
    case TypeVector3: hash = HashValue(hash, Vector3Value); break;
    case TypeVector4: hash = HashValue(hash, Vector4Value); break;
    case TypeMatrix3: hash = HashValue(hash, Matrix3Value); break;
    case TypeMatrix4: hash = HashValue(hash, Matrix4Value); break;
    case TypeFloatArray:
      for (float value : FloatValues) hash = HashCombine(hash, HashFloat(value));
      break;
    case TypeVector3Array:
      for (const glm::vec3& value : Vector3Values) hash = HashValue(hash, value);
      break;
    case TypeMatrix4Array:
      for (const glm::mat4& value : Matrix4Values) hash = HashValue(hash, value);
      break;
    case TypeTexture:
      // Textures never distinguish variants.
      break;
  }
  ValueHash = hash;
}

ShaderUniform ShaderUniform::CopyPolite() const {
  ShaderUniform copy(*this);
  copy.SetUniformName(Name);
  copy.ValueHash = 0;
  return copy;
}

void UniformBuffer::Ingest(const ShaderUniform& u) { Uniforms.insert_or_assign(u.Name, u); }

void UniformBuffer::Replace(ShaderUniform&& fresh) {
  auto found = Uniforms.find(fresh.Name);
  if (found != Uniforms.end()) {
    found->second = std::move(fresh);
  } else {
    std::string key = fresh.Name;
    Uniforms.emplace(std::move(key), std::move(fresh));
  }
}

void UniformBuffer::SetFloat(const std::string& name, float value) {
  Replace(ShaderUniform(name, value));
}
void UniformBuffer::SetVector(const std::string& name, glm::vec2 value) {
  Replace(ShaderUniform(name, value));
}
void UniformBuffer::SetVector(const std::string& name, glm::vec3 value) {
  Replace(ShaderUniform(name, value));
}
void UniformBuffer::SetVector(const std::string& name, glm::vec4 value) {
  Replace(ShaderUniform(name, value));
}
void UniformBuffer::SetMatrix3(const std::string& name, const glm::mat3& value) {
  Replace(ShaderUniform(name, value));
}
void UniformBuffer::SetMatrix4(const std::string& name, const glm::mat4& value) {
  Replace(ShaderUniform(name, value));
}
void UniformBuffer::SetTexture(const std::string& name, Texbit* texture) {
  Replace(ShaderUniform(name, texture));
}
void UniformBuffer::SetFloatArray(const std::string& name, const std::vector<float>& values) {
  Replace(ShaderUniform(name, values));
}
void UniformBuffer::SetVectorArray(const std::string& name, const std::vector<glm::vec3>& values) {
  Replace(ShaderUniform(name, values));
}
void UniformBuffer::SetMatrix4Array(const std::string& name,
                                    const std::vector<glm::mat4>& values) {
  Replace(ShaderUniform(name, values));
}

void UniformBuffer::CalculateHash() {
  Hash = 0;
  for (auto& entry : Uniforms) {
    entry.second.CalculateHash();
    Hash = HashCombine(Hash, entry.second.ValueHash);
  }
}

}  // namespace KestorEngine
