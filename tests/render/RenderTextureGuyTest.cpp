// Guards the render-texture pool: reuse only on identical requests, the
// budget and its least-recently-used sweep, refusals when nothing fits, the
// bookkeeping that ties the three lists together, and the framebuffers its
// passes share.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Shutter.h"
#include "render/FrameBuffer.h"
#include "render/RenderTextureGuy.h"
#include "render/RenderGL.h"
#include "sanegl/SaneglFixture.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::CountOf;

namespace {

class RenderTextureGuyTest : public KestorTest::SaneGLFixture {
 protected:
  void SetUp() override {
    SaneGLFixture::SetUp();
    KestorTest::ResetRenderStatics();
    Shutter::Width(64);
    Shutter::Height(64);
  }
  void TearDown() override {
    RenderTextureGuy::Deinitialize();
    RenderTextureGuy::MaximumRamUsage = 10200;
    RenderTextureGuy::SweepHeadroom = 200;
    SaneGLFixture::TearDown();
  }

  static std::vector<GLint> Viewport() {
    std::vector<GLint> v(4);
    glGetIntegerv(GL_VIEWPORT, v.data());
    return v;
  }
  static GLint DepthAttachment() {
    GLint name = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
    return name;
  }
};

// 512 x 512 RGBA8: exactly 1 MiB in the budget.
RenderTexture* GrabMiB() { return RenderTextureGuy::GrabTex(512, 512, TextureFormats::RGBA8); }

}  // namespace

TEST_F(RenderTextureGuyTest, OnlyAnIdenticalHandedBackRequestIsReused) {
  RenderTexture* a = GrabMiB();
  RenderTexture* b = GrabMiB();
  ASSERT_NE(a, nullptr);
  EXPECT_NE(a, b) << "a is still handed out";
  EXPECT_TRUE(a->OnGPU) << "storage is made when the texture is created";
  EXPECT_EQ(RenderTextureGuy::CurrentRamUsage, 2);

  unsigned char stale[4] = {};
  a->Data = stale;
  RenderTextureGuy::Done(a);
  EXPECT_EQ(a->Data, nullptr);

  // Differing only in samples or in the mip flag is another texture.
  RenderTexture* multisampled = RenderTextureGuy::GrabTex(512, 512, TextureFormats::RGBA8, 4);
  RenderTexture* mipmapped = RenderTextureGuy::GrabTex(512, 512, TextureFormats::RGBA8, true);
  EXPECT_NE(multisampled, a);
  EXPECT_NE(mipmapped, a);
  EXPECT_EQ(mipmapped->FilterMode, 2);
  EXPECT_EQ(multisampled->Samples, 4);

  CaptureStdout out;
  EXPECT_EQ(GrabMiB(), a);
  EXPECT_EQ(out.Text(), "") << "reuse creates nothing";
  EXPECT_EQ(RenderTextureGuy::Cache.size(), 4u);
  EXPECT_EQ(RenderTextureGuy::CacheAccessOrder.back(), 0) << "a was handed out last";

  RenderTextureGuy::Done(nullptr);
  EXPECT_EQ(RenderTextureGuy::GrabTex(0, 16, TextureFormats::RGBA8), nullptr);
}

TEST_F(RenderTextureGuyTest, SweepTakesTheLeastRecentlyHandedOutUntilTheHeadroomIsFree) {
  RenderTextureGuy::MaximumRamUsage = 6;
  RenderTextureGuy::SweepHeadroom = 2;
  std::vector<RenderTexture*> t;
  for (int i = 0; i < 6; ++i) t.push_back(GrabMiB());
  for (RenderTexture* each : t) RenderTextureGuy::Done(each);
  // Reuse takes the first free one, t0, which becomes the most recent.
  ASSERT_EQ(GrabMiB(), t[0]);
  // Order now: t1 t2 t3 t4 t5 t0 (t0 in use).

  CaptureStdout out;
  // 512 x 512 RG16F: 1 MiB, matching nothing in the pool.
  RenderTexture* fresh = RenderTextureGuy::GrabTex(512, 512, TextureFormats::RG16F);
  ASSERT_NE(fresh, nullptr);
  // 6 + 1 >= 6 - 2: sweep t1, t2, t3 (leaving 3; 3 + 1 is still >= 4), t4 (2 + 1 < 4: stop).
  EXPECT_EQ(CountOf(out.Text(), "Sweeping Scene"), 4);
  EXPECT_NE(out.Text().find("Dust to Dust!\n"), std::string::npos);
  EXPECT_EQ(RenderTextureGuy::CurrentRamUsage, 3);
  ASSERT_EQ(RenderTextureGuy::Cache.size(), 3u);
  EXPECT_EQ(RenderTextureGuy::Cache[0], t[0]);
  EXPECT_EQ(RenderTextureGuy::Cache[1], t[5]);
  EXPECT_EQ(RenderTextureGuy::Cache[2], fresh);
  EXPECT_EQ(RenderTextureGuy::CacheAccessOrder, (std::vector<int>{1, 0, 2}));
  EXPECT_EQ(RenderTextureGuy::CacheUsed, (std::vector<bool>{true, false, true}));
}

TEST_F(RenderTextureGuyTest, WithoutRoomNothingOfAnotherSizeOrFormatIsHandedOut) {
  RenderTextureGuy::MaximumRamUsage = 6;
  // 520 x 500 RGBA16F and 512 x 256 RGBA16F are 1 MiB each; the busy one 4.
  RenderTexture* near = RenderTextureGuy::GrabTex(520, 500, TextureFormats::RGBA16F);
  RenderTexture* sameWidth = RenderTextureGuy::GrabTex(512, 256, TextureFormats::RGBA16F);
  RenderTexture* busy = RenderTextureGuy::GrabTex(1024, 1024, TextureFormats::RGBA8);
  ASSERT_NE(busy, nullptr);
  RenderTextureGuy::Done(near);
  RenderTextureGuy::Done(sameWidth);
  ASSERT_EQ(RenderTextureGuy::CurrentRamUsage, 6);

  // 4 MiB asked, 2 unused: no sweep can help.
  CaptureStdout out;
  EXPECT_EQ(RenderTextureGuy::GrabTex(512, 1024, TextureFormats::RGBA16F), nullptr);
  EXPECT_EQ(out.Text(), "RenderTextureGuy: no room for a 512x1024 texture of format " +
                            std::to_string(static_cast<int>(TextureFormats::RGBA16F)) +
                            " (4 MiB; 6 of 6 MiB in use, 2 MiB unused), refused\n");
  EXPECT_EQ(RenderTextureGuy::CurrentRamUsage, 6) << "nothing was swept";
  EXPECT_EQ(RenderTextureGuy::GrabTex(512, 256, TextureFormats::RGBA16F), sameWidth)
      << "an identical request is still served";
}

TEST_F(RenderTextureGuyTest, AnEmptyPoolOverBudgetHandsOutNothing) {
  RenderTextureGuy::MaximumRamUsage = 0;
  CaptureStdout out;
  EXPECT_EQ(GrabMiB(), nullptr);
  EXPECT_EQ(out.Text(), "Oh noooooo!\n");
}

TEST_F(RenderTextureGuyTest, DeinitializeReportsChargesItCannotAccountFor) {
  RenderTexture* t = GrabMiB();
  GrabMiB();
  {
    CaptureStdout out;
    EXPECT_EQ(RenderTextureGuy::Deinitialize(), "");
    EXPECT_EQ(CountOf(out.Text(), "leak"), 0);
  }
  EXPECT_TRUE(RenderTextureGuy::Cache.empty());
  EXPECT_TRUE(RenderTextureGuy::CacheAccessOrder.empty());

  // A caller that turns mipmaps on makes the texture look bigger (5 MiB)
  // than it was charged (4).
  t = RenderTextureGuy::GrabTex(1024, 1024, TextureFormats::RGBA8);
  ASSERT_NE(t, nullptr);
  t->Mipmaps = true;
  CaptureStdout out;
  RenderTextureGuy::Deinitialize();
  EXPECT_NE(out.Text().find("Render Texture Guy - There's been a leak! Aaaahhh -1Mbmbmb\n"),
            std::string::npos);
  EXPECT_EQ(RenderTextureGuy::CurrentRamUsage, 0);
}

TEST_F(RenderTextureGuyTest, PassesShareFramebuffersOfTheirSize) {
  RenderTexture* a = RenderTextureGuy::GrabTex(8, 8, TextureFormats::RGBA8);
  RenderTexture* b = RenderTextureGuy::GrabTex(8, 8, TextureFormats::RGBA16F);
  RenderTexture* big = RenderTextureGuy::GrabTex(16, 16, TextureFormats::RGBA8);
  CaptureStdout out;
  RenderTextureGuy::UseTex(a);
  RenderTextureGuy::UseTexDone();
  RenderTextureGuy::UseTex(b);
  RenderTextureGuy::UseTexDone();
  EXPECT_EQ(CountOf(out.Text(), "New Framebuffer!"), 1);
  EXPECT_EQ(RenderTextureGuy::TheViewer.front()->Targets, (std::vector<RenderTexture*>{a, b}));

  RenderTextureGuy::UseTex(big);
  EXPECT_EQ(CountOf(out.Text(), "New Framebuffer!"), 2);
  EXPECT_EQ(RenderTextureGuy::TheViewer.size(), 2u);
  EXPECT_EQ(KestorTest::GetInt(GL_DRAW_FRAMEBUFFER_BINDING),
            static_cast<GLint>(RenderTextureGuy::TheViewer.back()->FBO.glID()));
  RenderTextureGuy::UseTexDone();
  EXPECT_EQ(KestorTest::GetInt(GL_DRAW_FRAMEBUFFER_BINDING), 0);

  // A request that got nothing still pairs with its UseTexDone.
  RenderTextureGuy::UseTex(nullptr);
  RenderTextureGuy::UseTexDone();
  EXPECT_TRUE(FrameBuffer::ActiveFrameBufferStack.empty());
}

TEST_F(RenderTextureGuyTest, NestedPassesComeBackWithTheirAreaAndDepth) {
  RenderTexture* a = RenderTextureGuy::GrabTex(8, 8, TextureFormats::RGBA8);
  RenderTexture* b = RenderTextureGuy::GrabTex(8, 8, TextureFormats::RGBA8);
  DepthTexture depth(8, 8);
  RenderTextureGuy::UseTexs({a}, &depth);
  EXPECT_EQ(DepthAttachment(), static_cast<GLint>(depth.ID));
  RenderTextureGuy::UseTex(32, 16);
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 32, 16}));
  RenderTextureGuy::UseTexs({b});
  ASSERT_EQ(RenderTextureGuy::TheViewer.size(), 1u) << "b shares a's framebuffer";
  EXPECT_EQ(DepthAttachment(), 0);

  RenderTextureGuy::UseTexDone();
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, RenderTextureGuy::genericDude);
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 32, 16}));
  RenderTextureGuy::UseTexDone();
  EXPECT_EQ(FrameBuffer::ActiveFrameBufferTextures, (std::vector<RenderTexture*>{a}));
  EXPECT_EQ(DepthAttachment(), static_cast<GLint>(depth.ID));
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 8, 8}));
  RenderTextureGuy::UseTexDone();
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, nullptr);
  EXPECT_EQ(Viewport(), (std::vector<GLint>{0, 0, 64, 64}));
}

TEST_F(RenderTextureGuyTest, ASweptTargetIsDetachedAndItsFramebufferServesAgain) {
  RenderTextureGuy::MaximumRamUsage = 1;
  RenderTextureGuy::SweepHeadroom = 0;
  RenderTexture* old = GrabMiB();
  RenderTextureGuy::UseTex(old);
  RenderTextureGuy::UseTexDone();
  RenderTextureGuy::Done(old);

  RenderTexture* fresh = RenderTextureGuy::GrabTex(512, 512, TextureFormats::RG16F);
  ASSERT_NE(fresh, nullptr);
  ASSERT_EQ(RenderTextureGuy::Cache.size(), 1u) << "the old target was swept";
  FrameBuffer* shared = RenderTextureGuy::TheViewer.front();
  EXPECT_EQ(shared->CarriedCount(), 0);

  CaptureStdout out;
  RenderTextureGuy::UseTex(fresh);
  EXPECT_EQ(CountOf(out.Text(), "New Framebuffer!"), 0);
  GLint name = 0;
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                        GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
  EXPECT_EQ(name, static_cast<GLint>(fresh->ID));
  EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  RenderTextureGuy::UseTexDone();
}

TEST_F(RenderTextureGuyTest, ForceClearDropsTexturesStillHandedOut) {
  RenderTexture* kept = GrabMiB();
  RenderTextureGuy::Done(GrabMiB());
  RenderTextureGuy::UseTex(kept);
  RenderTextureGuy::ForceClear();
  EXPECT_TRUE(RenderTextureGuy::Cache.empty());
  EXPECT_TRUE(RenderTextureGuy::TheViewer.empty());
  EXPECT_TRUE(FrameBuffer::ActiveFrameBufferStack.empty());
  EXPECT_EQ(FrameBuffer::ActiveFrameBuffer, nullptr);
  EXPECT_EQ(RenderTextureGuy::CurrentRamUsage, 1) << "the one handed out stays charged";
  delete kept;
  RenderTextureGuy::CurrentRamUsage = 0;
}

TEST(FormatGolfScore, RanksChannelsBeforeBitDepth) {
  using F = TextureFormats;
  EXPECT_EQ(RenderTextureGuy::FormatGolfScore(F::RGBA8, F::RGBA8), 1);
  EXPECT_EQ(RenderTextureGuy::FormatGolfScore(F::R32F, F::RGBA8), 1) << "unlisted formats count as RGBA8";
  EXPECT_EQ(RenderTextureGuy::FormatGolfScore(F::RGB10A2, F::RGBA16F), 2);
  EXPECT_EQ(RenderTextureGuy::FormatGolfScore(F::RGBA32F, F::RGBA16F), 3);
  EXPECT_EQ(RenderTextureGuy::FormatGolfScore(F::R8, F::RGB16F), 4);
  EXPECT_EQ(RenderTextureGuy::FormatGolfScore(F::RG16F, F::RGB8), 5);
  EXPECT_EQ(RenderTextureGuy::FormatGolfScore(F::RG8, F::RGBA8), 6);
}
