// Guards framebuffers: incremental attachment and draw-buffer selection, mip
// levels and layers, depth and stencil, the save/restore stack (nesting,
// attachment-less passes, destroyed targets) and completeness reports.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/Shutter.h"
#include "render/FrameBuffer.h"
#include "render/TextureReadback.h"
#include "render/RenderGL.h"
#include "sanegl/SaneglFixture.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::GetInt;
using KestorTest::ReadTexels;

namespace {

class FrameBufferTest : public KestorTest::SaneGLFixture {
 protected:
  void SetUp() override {
    SaneGLFixture::SetUp();
    KestorTest::ResetRenderStatics();
    Shutter::Width(64);
    Shutter::Height(64);
  }

  static std::unique_ptr<RenderTexture> Target(int w, int h) {
    auto t = std::make_unique<RenderTexture>(w, h, TextureFormats::RGBA8);
    return t;
  }

  // Clears whatever is current to `rgba` through the state layer.
  static void ClearTo(glm::vec4 rgba) {
    SaneGL::ClearColor(rgba);
    SaneGL::Clear(SaneGL::ClearTypes::Color);
  }

  static GLint AttachmentParameter(GLenum attachment, GLenum name) {
    GLint value = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment, name, &value);
    return value;
  }

  static std::vector<GLint> Viewport() {
    std::vector<GLint> v(4);
    glGetIntegerv(GL_VIEWPORT, v.data());
    return v;
  }
};

std::vector<uint8_t> Fill(size_t texels, std::vector<uint8_t> rgba) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < texels; ++i) out.insert(out.end(), rgba.begin(), rgba.end());
  return out;
}

}  // namespace

TEST_F(FrameBufferTest, ReorderingAnAttachedSetOnlySwitchesDrawBuffers) {
  auto a = Target(8, 8), b = Target(8, 8);
  a->ToGPU();  // sits on a sampler unit until it becomes a target
  const int unit = a->CurrentBind;
  FrameBuffer fb;
  EXPECT_EQ(fb.ActivateRenderTargets({a.get(), b.get()}), static_cast<unsigned>(GL_COLOR_ATTACHMENT0));
  EXPECT_EQ(a->CurrentBind, -1);
  glActiveTexture(GL_TEXTURE0 + unit);
  EXPECT_EQ(GetInt(GL_TEXTURE_BINDING_2D), 0) << "a target is never left on a sampler unit";

  const auto attachesBefore = KestorTest::Calls(SaneGL::GLCall::FramebufferTexture);
  CaptureStdout quiet;
  EXPECT_EQ(fb.ActivateRenderTargets({b.get(), a.get()}), static_cast<unsigned>(GL_COLOR_ATTACHMENT1));
  EXPECT_EQ(KestorTest::Calls(SaneGL::GLCall::FramebufferTexture), attachesBefore);
  EXPECT_EQ(GetInt(GL_DRAW_BUFFER0), GL_COLOR_ATTACHMENT1);
  EXPECT_EQ(GetInt(GL_DRAW_BUFFER1), GL_COLOR_ATTACHMENT0);
  EXPECT_EQ(fb.Targets, (std::vector<RenderTexture*>{a.get(), b.get()}));
  EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));

  // Draws land where the draw buffers say: slot 1 (b) first.
  ClearTo({1, 0, 0, 1});
  EXPECT_EQ(ReadTexels(*b, GL_RGBA, GL_UNSIGNED_BYTE, 8 * 8 * 4), Fill(64, {255, 0, 0, 255}));
}

TEST_F(FrameBufferTest, MipPassesRenderIntoTheirLevelOverTheirOwnArea) {
  auto t = Target(16, 16);
  FrameBuffer fb;
  fb.ActivateRenderTargets({t.get()});
  ClearTo({0, 0, 1, 1});
  fb.ActivateRenderTargets({t.get()}, {2});
  EXPECT_EQ(fb.Width, 4);
  EXPECT_EQ(fb.Height, 4);
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 4, 4}));
  EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_TEXTURE_LEVEL), 2);
  ClearTo({1, 0, 0, 1});

  EXPECT_EQ(ReadTexels(*t, GL_RGBA, GL_UNSIGNED_BYTE, 4 * 4 * 4, 2), Fill(16, {255, 0, 0, 255}));
  EXPECT_EQ(ReadTexels(*t, GL_RGBA, GL_UNSIGNED_BYTE, 16 * 16 * 4, 0), Fill(256, {0, 0, 255, 255}));

  // Asking for level 0 again moves the attachment back.
  fb.ActivateRenderTargets({t.get()}, {0});
  EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_TEXTURE_LEVEL), 0);
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 16, 16}));
}

TEST_F(FrameBufferTest, VolumesAttachOneSliceOrAllOfThem) {
  auto volume = std::make_unique<RenderTexture>(4, 4, TextureFormats::RGBA8);
  volume->Depth = 3;
  FrameBuffer fb;
  fb.ActivateRenderTargets({volume.get()});
  EXPECT_TRUE(fb.Is3D);
  EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_LAYERED), GL_TRUE);
  ClearTo({0, 0, 0, 1});

  fb.Activate3DRenderTargets({volume.get()}, {1});
  EXPECT_FALSE(fb.Is3D);
  EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_TEXTURE_LAYER), 1);
  ClearTo({0, 1, 0, 1});
  std::vector<uint8_t> expected = Fill(16, {0, 0, 0, 255});
  const std::vector<uint8_t> green = Fill(16, {0, 255, 0, 255});
  expected.insert(expected.end(), green.begin(), green.end());
  const std::vector<uint8_t> black = Fill(16, {0, 0, 0, 255});
  expected.insert(expected.end(), black.begin(), black.end());
  EXPECT_EQ(ReadTexels(*volume, GL_RGBA, GL_UNSIGNED_BYTE, 4 * 4 * 3 * 4), expected);

  // Without layers the whole volume is attached again.
  fb.ActivateRenderTargets({volume.get()});
  EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_LAYERED), GL_TRUE);
}

TEST_F(FrameBufferTest, DepthFormatsPickTheirAttachments) {
  auto color = Target(8, 8);
  DepthTexture depthStencil(8, 8, TextureFormats::Depth24Stencil8);
  DepthTexture depthOnly(8, 8);
  FrameBuffer fb(true, &depthStencil);
  fb.ActivateRenderTargets({color.get()});
  EXPECT_EQ(AttachmentParameter(GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
            static_cast<GLint>(depthStencil.ID));
  EXPECT_EQ(AttachmentParameter(GL_STENCIL_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
            static_cast<GLint>(depthStencil.ID));

  // A depth-only texture leaves no stale stencil beside it.
  fb.DepthTex = &depthOnly;
  fb.ActivateRenderTargets({color.get()});
  EXPECT_EQ(AttachmentParameter(GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
            static_cast<GLint>(depthOnly.ID));
  EXPECT_EQ(AttachmentParameter(GL_STENCIL_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE), GL_NONE);

  fb.HasDepth = false;
  fb.ActivateRenderTargets({color.get()});
  EXPECT_EQ(AttachmentParameter(GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE), GL_NONE);
  EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
}

TEST_F(FrameBufferTest, NestedPassesRestoreTargetAndViewportInTurn) {
  auto a = Target(16, 8), b = Target(4, 4);
  FrameBuffer fbA, fbB;
  FrameBuffer::SaveState();  // the window
  fbA.ActivateRenderTarget(a.get(), true);
  EXPECT_EQ(GetInt(GL_READ_BUFFER), GL_COLOR_ATTACHMENT0);
  FrameBuffer::SaveState();  // A
  fbB.ActivateRenderTarget(b.get(), true);
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), static_cast<GLint>(fbB.FBO.glID()));

  FrameBuffer::RestoreState();
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, &fbA);
  EXPECT_EQ(FrameBuffer::ActiveFrameBufferTextures, (std::vector<RenderTexture*>{a.get()}));
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), static_cast<GLint>(fbA.FBO.glID()));
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 16, 8}));

  FrameBuffer::RestoreState();
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, nullptr);
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 64, 64}));
  EXPECT_TRUE(FrameBuffer::ActiveFrameBufferStack.empty());

  // One restore too many stays at the window.
  FrameBuffer::RestoreState();
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), 0);
}

TEST_F(FrameBufferTest, AnAttachmentlessPassComesBackWithItsOwnSizeAndDepth) {
  auto inner = Target(4, 4);
  DepthTexture depth(16, 16);
  auto outer = Target(16, 16);
  FrameBuffer empty, fb(true, &depth), other;

  empty.ActivateEmpty(32, 16, 0);
  EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  FrameBuffer::SaveState();
  other.ActivateRenderTarget(inner.get(), false);
  FrameBuffer::RestoreState();
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, &empty);
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 32, 16}));
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), static_cast<GLint>(empty.FBO.glID()));

  // The same framebuffer reused without depth inside a pass with depth: the
  // outer pass gets its depth back.
  fb.ActivateRenderTargets({outer.get()});
  FrameBuffer::SaveState();
  fb.HasDepth = false;
  fb.ActivateRenderTargets({outer.get()});
  EXPECT_EQ(AttachmentParameter(GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE), GL_NONE);
  FrameBuffer::RestoreState();
  EXPECT_EQ(AttachmentParameter(GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
            static_cast<GLint>(depth.ID));
  FrameBuffer::ClearRenderTargets();
}

TEST_F(FrameBufferTest, DestroyingASavedTargetDropsOnlyItFromTheStackAndFreesItsSlot) {
  auto a = Target(8, 8), b = Target(8, 8), inner = Target(4, 4);
  FrameBuffer fb, fbInner;
  FrameBuffer::SaveState();  // the window
  fb.ActivateRenderTargets({a.get(), b.get()});
  FrameBuffer::SaveState();  // {a, b}
  fbInner.ActivateRenderTargets({inner.get()});
  a.reset();
  ASSERT_EQ(FrameBuffer::ActiveFrameBufferStack.size(), 2u) << "the other saved passes stay";
  EXPECT_EQ(FrameBuffer::ActiveFrameBufferTexturesStack.back(), (std::vector<RenderTexture*>{b.get()}));
  EXPECT_EQ(fb.Targets[0], nullptr);
  EXPECT_EQ(fb.CarriedCount(), 1);
  EXPECT_EQ(fb.FirstTarget(), b.get());

  FrameBuffer::RestoreState();
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, &fb);
  EXPECT_EQ(FrameBuffer::ActiveFrameBufferTextures, (std::vector<RenderTexture*>{b.get()}));
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), static_cast<GLint>(fb.FBO.glID()));
  EXPECT_EQ(GetInt(GL_DRAW_BUFFER0), GL_COLOR_ATTACHMENT1);

  // The next new texture takes the freed slot, even if GL reuses the name.
  auto c = Target(8, 8);
  CaptureStdout quiet;
  fb.ActivateRenderTargets({c.get(), b.get()});
  EXPECT_EQ(fb.Targets[0], c.get());
  EXPECT_EQ(AttachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
            static_cast<GLint>(c->ID));

  FrameBuffer::RestoreState();
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, nullptr);
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), 0);
  // Restores with nothing saved stay at the window.
  FrameBuffer::RestoreState();
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), 0);
}

TEST_F(FrameBufferTest, ATargetDestroyedMidPassLeavesTheCurrentPassBound) {
  auto current = Target(8, 8), elsewhere = Target(8, 8);
  FrameBuffer fbCurrent, fbElsewhere;
  fbElsewhere.ActivateRenderTargets({elsewhere.get()});
  fbCurrent.ActivateRenderTargets({current.get()});
  elsewhere.reset();
  ClearTo({0, 1, 0, 1});
  EXPECT_EQ(ReadTexels(*current, GL_RGBA, GL_UNSIGNED_BYTE, 8 * 8 * 4), Fill(64, {0, 255, 0, 255}));
  FrameBuffer::ClearRenderTargets();
}

TEST_F(FrameBufferTest, IncompleteCombinationsAreReportedAndTheRunGoesOn) {
  auto plain = Target(8, 8);
  RenderTexture multisampled(8, 8, TextureFormats::RGBA8);
  multisampled.Samples = 4;
  FrameBuffer fb;
  CaptureStdout out;
  fb.ActivateRenderTargets({plain.get(), &multisampled});
  EXPECT_NE(out.Text().find("GL_GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE - Anonymous\n"),
            std::string::npos)
      << out.Text();
  FrameBuffer::ClearRenderTargets();
}

TEST_F(FrameBufferTest, DeletingTheActiveFramebufferReturnsToTheWindow) {
  auto t = Target(8, 8);
  auto fb = std::make_unique<FrameBuffer>();
  FrameBuffer::SaveState();
  fb->ActivateRenderTarget(t.get(), false);
  FrameBuffer::SaveState();
  fb.reset();
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, nullptr);
  EXPECT_TRUE(FrameBuffer::ActiveFrameBufferStack.empty());
  EXPECT_EQ(GetInt(GL_DRAW_FRAMEBUFFER_BINDING), 0);
}
