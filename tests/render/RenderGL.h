#pragma once
// GL fixture and helpers for the render tests: a context whose GL state
// matches the state layer's mirror, a scratch asset folder holding the
// shipped error shader and white texture, a 64x64 colour target and pixel
// readback.
#include <array>
#include <cstdint>
#include <string>

#include "render/FrameBuffer.h"
#include "render/RenderAssets.h"
#include "render/RenderTextureGuy.h"
#include "render/Texbit.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "support/GLTestContext.h"

namespace KestorTest {

// The render layer's statics as a fresh process has them, for tests that
// share one: the pool empty, no pass current or saved, no texture on a unit.
inline void ResetRenderStatics() {
  KestorEngine::RenderTextureGuy::Deinitialize();
  KestorEngine::FrameBuffer::ForgetPasses();
  while (!KestorEngine::Texbit::ActiveTextures.empty()) {
    KestorEngine::Texbit::RemoveBind(KestorEngine::Texbit::ActiveTextures.front());
  }
}

class RenderGLTest : public GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    if (HasFatalFailure()) return;
    ResetRenderStatics();
    assets.CopyShipped("Shaders/Error.shader");
    assets.CopyShipped("Textures/White.bmp");
    // Whatever an earlier test of this process left requested starts over.
    SaneGL::ResetStateStack();
    SaneGL::Viewport(0, 0, 64, 64);
    SaneGL::StateSyncForce();
  }

  RenderAssets assets;
};

inline int CountOf(const std::string& text, const std::string& word) {
  int count = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

// A 64x64 RGBA8 colour target without depth, bound while it lives.
class ColourTarget {
 public:
  ColourTarget() : texture(64, 64) {
    texture.ToGPU();
    framebuffer.BindTexture(0, static_cast<int>(texture.ID), 0);
    framebuffer.DrawBuffers({0});
    SaneGL::StatePush();
    SaneGL::BindFramebuffer(framebuffer);
    SaneGL::Viewport(0, 0, 64, 64);
    SaneGL::DepthTest(SaneGL::ValueComparison::Always);
    SaneGL::StateSync();
  }
  ~ColourTarget() {
    SaneGL::StatePop();
    SaneGL::StateSync();
  }
  ColourTarget(const ColourTarget&) = delete;
  ColourTarget& operator=(const ColourTarget&) = delete;

  void Clear(float r, float g, float b) {
    SaneGL::ClearColor(glm::vec4(r, g, b, 1.0f));
    SaneGL::Clear(SaneGL::ClearTypes::Color);
  }
  // RGBA bytes of the pixel at (x, y), origin bottom-left.
  std::array<uint8_t, 4> Pixel(int x, int y) {
    SaneGL::StateSync();
    std::array<uint8_t, 4> rgba{};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
  }

 private:
  KestorEngine::RenderTexture texture;
  SaneGL::Framebuffer framebuffer = SaneGL::Framebuffer::Create();
};

}  // namespace KestorTest
