#include "renderer/TemporalFill.h"

#include "engine/Debug.h"
#include "render/Shader.h"
#include "render/ShaderUniform.h"
#include "sanegl/GL.h"

namespace KestorEngine {

void TemporalFill::Begin(size_t pixels) { list.Reset(pixels, Binding); }

void TemporalFill::Run(Shader& shader, std::vector<UniformBuffer*> buffers, Texbit* lit, Texbit* target) {
  // The temporal pass appended to the list as it drew.
  glMemoryBarrier(GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  // The temporal pass had its source from the blit.
  UniformBuffer source;
  source.SetTexture("_MainTex", lit);
  source.CalculateHash();
  buffers.push_back(&source);
  const unsigned program = UseCompute(shader, "Fill", &buffers);
  if (program == 0) return;
  BindImage(program, "img_output", 0, target, 0, GL_RGBA16F, GL_READ_WRITE);
  // The filled pixels are read as a texture next: by the presentation and,
  // as the history, by the next frame.
  DispatchIndirect(list.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT | GL_FRAMEBUFFER_BARRIER_BIT |
                                      GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
}

}  // namespace KestorEngine
