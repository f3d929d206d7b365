#pragma once
// One pass of a shader file: its GLSL stage texts (expanded at load time)
// and the program variants compiled from them on demand, one per distinct
// set of precompiled uniform values.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "render/ShaderSource.h"

namespace KestorEngine {

class ShaderVariant;
class UniformBuffer;

class ShaderPass {
 public:
  ShaderPass() = default;
  explicit ShaderPass(std::string name) : Name(std::move(name)) {}
  ~ShaderPass();
  ShaderPass(const ShaderPass&) = delete;
  ShaderPass& operator=(const ShaderPass&) = delete;

  // Resolves the includes of every non-empty stage and prepares its
  // precompiled uniforms. Each stage starts with its own include cache.
  void Load();
  // Picks the variant for the buffers' precompiled values (building it on
  // first use) and makes it current. Returns it.
  ShaderVariant* Use(std::vector<UniformBuffer*>* buffers);
  // The key Use looks the variant up by: the stored value hashes of the
  // precompiled uniforms, fragment and compute stages first, then vertex and
  // geometry (which only add to it when they have precompiled uniforms).
  uint64_t VariantKey(const std::vector<UniformBuffer*>* buffers) const;

  std::string VertexSource;
  std::string FragmentSource;
  std::string GeometrySource;
  std::string ComputeSource;
  // The shader's file name, ": " and the pass name.
  std::string Name;
  PrecompilePositions VertexPrecompiles;
  PrecompilePositions FragmentPrecompiles;
  PrecompilePositions GeometryPrecompiles;
  PrecompilePositions ComputePrecompiles;
  // Owned; never evicted, destroyed with the pass.
  std::unordered_map<uint64_t, ShaderVariant*> Variants;
};

}  // namespace KestorEngine
