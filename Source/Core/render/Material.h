#pragma once
// A shader paired with a set of uniform values: the shader's declarations,
// overridden by the settings of Materials/<name>.xml. A material draws
// nothing itself; draws carry its shader and the address of its buffer.
#include <string>

#include "engine/Resource.h"
#include "render/Shader.h"
#include "render/ShaderUniform.h"

namespace KestorEngine {

// True when the whole text is one number as a stream extraction reads it,
// with no leading blank and nothing after it.
bool isFloat(const std::string& text);

class Material {
 public:
  // Loading constructor of Resources<Material>. A file that cannot be used
  // is reported and gives a material on the "Error" shader.
  explicit Material(std::string name);
  // Starts from the shader's declarations; no file is read.
  explicit Material(Resource<Shader> shader);
  // Empty, for materials filled in code (Resources<Material>::Make).
  Material() = default;

  void Use() {}
  void Use(const std::string& passName) {}

  // Writes one setting of a material file into the entry of that name.
  // Returns false (and changes nothing) when a part of a multi-part value is
  // not a number; `problem` then says which.
  static bool ApplySetting(ShaderUniform& entry, const std::string& value, std::string& problem);

  Resource<Shader> ShaderResource;
  UniformBuffer Buffer;

 private:
  void CopyDeclarations();
};

}  // namespace KestorEngine
