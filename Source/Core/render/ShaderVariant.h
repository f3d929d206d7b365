#pragma once
// One compiled program of a shader pass. Compile and link failures are kept
// in Errors and printed again at every use; such a variant never makes its
// program current.
#include <string>
#include <vector>

#include "sanegl/Objects.h"

namespace KestorEngine {

class UniformBuffer;

class ShaderVariant {
 public:
  // Generic vertex attribute indices; the mesh vertex layout uses them.
  static constexpr int PositionAttribute = 0;
  static constexpr int NormalAttribute = 1;
  static constexpr int UVAttribute = 4;

  ShaderVariant(const std::string& name, const std::string& vertexText,
                const std::string& fragmentText, const std::string& geometryText,
                const std::string& computeText);
  ~ShaderVariant();
  ShaderVariant(const ShaderVariant&) = delete;
  ShaderVariant& operator=(const ShaderVariant&) = delete;

  // Makes the program current in the requested GL state and stages every
  // buffer's values for it (later buffers win at the same location).
  void Use(std::vector<UniformBuffer*>* buffers);
  bool Failed() const { return !Errors.empty(); }
  bool IsCompute() const { return isCompute; }

  SaneGL::Shader VertexStage;
  SaneGL::Shader FragmentStage;
  SaneGL::Shader GeometryStage;
  SaneGL::Shader ComputeStage;
  SaneGL::Program Program;
  std::string Name;
  std::string Errors;

  // The variant that last ran Use; null once it is destroyed.
  static ShaderVariant* Current;

 private:
  bool CompileStage(SaneGL::Shader& stage, const std::string& text, const char* stageName);
  void Stage(std::vector<UniformBuffer*>* buffers);

  bool isCompute = false;
};

}  // namespace KestorEngine
