#include "render/ShaderVariant.h"

#include <iostream>
#include <string>

#include "engine/Debug.h"
#include "render/ShaderUniform.h"
#include "render/Texbit.h"
#include "sanegl/StateCache.h"

namespace KestorEngine {

ShaderVariant* ShaderVariant::Current = nullptr;

ShaderVariant::ShaderVariant(const std::string& name, const std::string& vertexText,
                             const std::string& fragmentText, const std::string& geometryText,
                             const std::string& computeText)
    : Name(name), isCompute(!computeText.empty()) {
  VertexStage = SaneGL::Shader::Create(SaneGL::ShaderType::VertexShader);
  FragmentStage = SaneGL::Shader::Create(SaneGL::ShaderType::FragmentShader);
  GeometryStage = SaneGL::Shader::Create(SaneGL::ShaderType::GeometryShader);
  ComputeStage = SaneGL::Shader::Create(SaneGL::ShaderType::ComputeShader);
  Program = SaneGL::Program::Create();
  Errors = "";

  if (!vertexText.empty()) {
    std::cout << "VertexShader" << VertexStage.glID() << "\n";
    if (!CompileStage(VertexStage, vertexText, "vertex")) return;
  }
  if (!fragmentText.empty() && !CompileStage(FragmentStage, fragmentText, "fragment")) return;
  if (!geometryText.empty() && !CompileStage(GeometryStage, geometryText, "geometry")) return;
  if (!computeText.empty() && !CompileStage(ComputeStage, computeText, "compute")) return;

  if (!vertexText.empty()) Program.AttachShader(VertexStage);
  if (!fragmentText.empty()) Program.AttachShader(FragmentStage);
  if (!geometryText.empty()) Program.AttachShader(GeometryStage);
  if (!computeText.empty()) Program.AttachShader(ComputeStage);

  Program.BindAttribLocation(PositionAttribute, "position");
  Program.BindAttribLocation(NormalAttribute, "normal");
  Program.BindAttribLocation(UVAttribute, "uv");

  Program.LinkProgram();
  if (Program.GetProgramiv(SaneGL::ProgramParameter::LinkStatus) != 0) {
    // The driver's binary is machine code: written raw it garbles the
    // console, so only its size is reported.
    Debug::Log("Linked, program binary of " +
               std::to_string(Program.GetProgramBinary().size()) + " bytes\n");
  } else {
    Errors = "Error linking " + Name + ":\t" + Program.GetProgramInfoLog();
    Debug::Log(Errors);
  }
}

ShaderVariant::~ShaderVariant() {
  if (Current == this) Current = nullptr;
}

bool ShaderVariant::CompileStage(SaneGL::Shader& stage, const std::string& text,
                                 const char* stageName) {
  stage.ShaderSource(text);
  stage.CompileShader();
  if (stage.GetShaderiv(SaneGL::ShaderParameter::CompileStatus) != 0) return true;
  Errors = "Error compiling " + Name + "'s " + stageName + " shader:\t" + stage.GetShaderInfoLog();
  Debug::Log(Errors);
  return false;
}

void ShaderVariant::Use(std::vector<UniformBuffer*>* buffers) {
  if (!Errors.empty()) std::cout << Name << ": " << Errors << "\n";
  Current = this;
  if (Failed()) {
    // GL refuses to make an unlinked program current; the caller falls back
    // to the error shader instead.
    SaneGL::UseProgram(SaneGL::Program());
    return;
  }
  SaneGL::UseProgram(Program);
  SaneGL::StateSyncShaderCore();
  Stage(buffers);
}

void ShaderVariant::Stage(std::vector<UniformBuffer*>* buffers) {
  SaneGL::ProgramState* program = Program.Use();
  if (buffers == nullptr || program == nullptr) return;
  for (UniformBuffer* buffer : *buffers) {
    if (buffer == nullptr) continue;
    for (const auto& entry : buffer->Uniforms) {
      const ShaderUniform& u = entry.second;
      int location = program->GetUniformLocation(u.NameHash);
      // Every name the program lacks shares location -1, which GL ignores.
      // Skipping it before the texture case matters: binding a texture the
      // program does not read can push one it does out of the 16 units.
      if (location < 0) continue;
      SaneGL::Uniform value;
      switch (u.Type) {
        case TypeFloat: value = SaneGL::Uniform(location, u.FloatValue); break;
        case TypeVector2: value = SaneGL::Uniform(location, u.Vector2Value); break;
        case TypeVector3: value = SaneGL::Uniform(location, u.Vector3Value); break;
        case TypeVector4: value = SaneGL::Uniform(location, u.Vector4Value); break;
        case TypeMatrix3: value = SaneGL::Uniform(location, u.Matrix3Value); break;
        case TypeMatrix4: value = SaneGL::Uniform(location, u.Matrix4Value); break;
        case TypeTexture: {
          Texbit* texture = u.TexturePointer != nullptr ? u.TexturePointer : u.TextureResource.Object();
          if (texture != nullptr) {
            texture->ToGPU();
          } else {
            texture = Texbit::White();
          }
          int unit = texture != nullptr ? texture->GetCurrentBind() : 0;
          value = SaneGL::Uniform(location, unit);
          break;
        }
        case TypeFloatArray:
        case TypeVector3Array:
        case TypeMatrix4Array:
          // Arrays reach GL only as precompiled source text.
          continue;
      }
      program->pendingUniforms[location] = value;
    }
  }
}

}  // namespace KestorEngine
