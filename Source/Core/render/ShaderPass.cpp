#include "render/ShaderPass.h"

#include <iostream>

#include "render/ShaderUniform.h"
#include "render/ShaderVariant.h"

namespace KestorEngine {

ShaderPass::~ShaderPass() {
  for (auto& variant : Variants) delete variant.second;
  Variants.clear();
}

void ShaderPass::Load() {
  struct Stage {
    std::string& text;
    PrecompilePositions& positions;
  };
  Stage stages[] = {{VertexSource, VertexPrecompiles},
                    {FragmentSource, FragmentPrecompiles},
                    {GeometrySource, GeometryPrecompiles},
                    {ComputeSource, ComputePrecompiles}};
  for (Stage& stage : stages) {
    stage.positions.clear();
    if (stage.text.empty()) continue;
    stage.text = IncludeWoop(stage.text, IncludeCache(), stage.positions, true, Name);
  }
}

uint64_t ShaderPass::VariantKey(const std::vector<UniformBuffer*>* buffers) const {
  uint64_t key = 0;
  key = CombineVariantKey(key, FragmentPrecompiles, buffers);
  key = CombineVariantKey(key, ComputePrecompiles, buffers);
  // Precompiled values of these stages are filled in too, so they must
  // distinguish variants as well.
  key = CombineVariantKey(key, VertexPrecompiles, buffers);
  key = CombineVariantKey(key, GeometryPrecompiles, buffers);
  return key;
}

ShaderVariant* ShaderPass::Use(std::vector<UniformBuffer*>* buffers) {
  uint64_t key = VariantKey(buffers);
  auto found = Variants.find(key);
  if (found != Variants.end()) {
    found->second->Use(buffers);
    return found->second;
  }

  std::string fragment = ComputeVariant(FragmentPrecompiles, FragmentSource, buffers);
  std::string compute = ComputeVariant(ComputePrecompiles, ComputeSource, buffers);
  std::string vertex = VertexPrecompiles.empty()
                           ? VertexSource
                           : ComputeVariant(VertexPrecompiles, VertexSource, buffers);
  std::string geometry = GeometryPrecompiles.empty()
                             ? GeometrySource
                             : ComputeVariant(GeometryPrecompiles, GeometrySource, buffers);
  std::cout << fragment << "\n";
  std::cout << compute << "\n";
  ShaderVariant* variant = new ShaderVariant(Name, vertex, fragment, geometry, compute);
  Variants[key] = variant;
  variant->Use(buffers);
  return variant;
}

}  // namespace KestorEngine
