#include "renderer/ComputePass.h"

#include "engine/Debug.h"
#include "render/Shader.h"
#include "render/ShaderVariant.h"
#include "render/Texbit.h"
#include "sanegl/GL.h"
#include "sanegl/Objects.h"
#include "sanegl/SaneGL.h"

namespace KestorEngine {

unsigned CurrentProgram() {
  ShaderVariant* v = ShaderVariant::Current;
  if (v == nullptr || v->Failed()) return 0;
  return v->Program.glID();
}

unsigned UseCompute(Shader& shader, const std::string& pass, std::vector<UniformBuffer*>* buffers) {
  shader.Use(pass, buffers);
  SaneGL::StateSync();
  const unsigned program = CurrentProgram();
  return program != 0 && ShaderVariant::Current->IsCompute() ? program : 0;
}

void BindImage(unsigned program, const char* name, int unit, Texbit* t, int level, unsigned format,
               unsigned access) {
  glProgramUniform1i(program, glGetUniformLocation(program, name), unit);
  Debug::_CheckGLError("RELEASE", __LINE__);
  // A volume the field does not have (a cascade's one-grid copies) leaves
  // the unit empty: stores to it do nothing, loads read zero.
  glBindImageTexture(static_cast<unsigned>(unit), t != nullptr ? t->ID : 0, level, GL_TRUE, 0,
                     access != 0 ? access : GL_WRITE_ONLY, format);
  Debug::_CheckGLError("RELEASE", __LINE__);
}

void DispatchIndirect(const SaneGL::Buffer& groups, unsigned barriers) {
  glBindBuffer(GL_DISPATCH_INDIRECT_BUFFER, groups.glID());
  Debug::_CheckGLError("RELEASE", __LINE__);
  glDispatchComputeIndirect(0);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glBindBuffer(GL_DISPATCH_INDIRECT_BUFFER, 0);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glMemoryBarrier(barriers);
  Debug::_CheckGLError("RELEASE", __LINE__);
}

void WorkList::Reset(size_t wanted, unsigned binding) {
  if (buffer.Empty() || capacity < wanted) {
    buffer = SaneGL::Buffer::Create(SaneGL::BufferType::ShaderStorageBuffer);
    capacity = wanted;
    buffer.BufferData(static_cast<unsigned>(16 + 4 * capacity), nullptr, SaneGL::BufferUsage::DynamicCopy);
  }
  const GLuint header[4] = {0, 1, 1, 0};
  glBindBuffer(GL_SHADER_STORAGE_BUFFER, buffer.glID());
  Debug::_CheckGLError("RELEASE", __LINE__);
  glBufferSubData(GL_SHADER_STORAGE_BUFFER, 0, sizeof(header), header);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glBindBufferBase(GL_SHADER_STORAGE_BUFFER, binding, buffer.glID());
  Debug::_CheckGLError("RELEASE", __LINE__);
}

void WorkList::Bind(unsigned binding) const {
  glBindBufferBase(GL_SHADER_STORAGE_BUFFER, binding, buffer.glID());
  Debug::_CheckGLError("RELEASE", __LINE__);
}

}  // namespace KestorEngine
