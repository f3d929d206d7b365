// Guards the render-texture pool: reuse only on identical requests, the
// budget and its least-recently-used sweep, stand-ins when nothing fits, and
// the bookkeeping that ties the three lists together.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/RenderTextureGuy.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;

namespace {

class RenderTextureGuyTest : public KestorTest::GLTest {
 protected:
  void TearDown() override {
    RenderTextureGuy::Deinitialize();
    GLTest::TearDown();
  }
};

int CountOf(const std::string& text, const std::string& word) {
  int count = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

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

TEST_F(RenderTextureGuyTest, WithoutRoomTheClosestUnusedTextureStandsIn) {
  RenderTextureGuy::MaximumRamUsage = 6;
  // 520 x 500 RGBA16F and 512 x 256 RGBA16F are 1 MiB each; the busy one 4.
  RenderTexture* near = RenderTextureGuy::GrabTex(520, 500, TextureFormats::RGBA16F);
  RenderTexture* sameWidth = RenderTextureGuy::GrabTex(512, 256, TextureFormats::RGBA16F);
  RenderTexture* busy = RenderTextureGuy::GrabTex(1024, 1024, TextureFormats::RGBA8);
  ASSERT_NE(busy, nullptr);
  RenderTextureGuy::Done(near);
  RenderTextureGuy::Done(sameWidth);
  ASSERT_EQ(RenderTextureGuy::CurrentRamUsage, 6);

  // 4 MiB asked, 2 free: no sweep can help. Scores: near 8 x -524 x 2 =
  // 8384; sameWidth 0 x -768 = 0, the better one despite its higher index.
  CaptureStdout out;
  EXPECT_EQ(RenderTextureGuy::GrabTex(512, 1024, TextureFormats::RGBA16F), sameWidth);
  EXPECT_EQ(RenderTextureGuy::GrabTex(512, 1024, TextureFormats::RGBA16F), near);
  EXPECT_EQ(RenderTextureGuy::GrabTex(512, 1024, TextureFormats::RGBA16F), nullptr);
  EXPECT_EQ(out.Text(), "Oh jesus!\nOh jesus!\nOh noooooo!\n");
  EXPECT_EQ(sameWidth->Height, 256) << "a stand-in keeps its own size";

  // Far too small for a 2048 x 2048 RGBA32F request: both score over a million.
  RenderTextureGuy::Done(near);
  RenderTextureGuy::Done(sameWidth);
  EXPECT_EQ(RenderTextureGuy::GrabTex(2048, 2048, TextureFormats::RGBA32F), nullptr);
  EXPECT_EQ(RenderTextureGuy::CurrentRamUsage, 6) << "nothing was swept";
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
  t->Mipmaps = true;
  CaptureStdout out;
  RenderTextureGuy::Deinitialize();
  EXPECT_NE(out.Text().find("Render Texture Guy - There's been a leak! Aaaahhh -1Mbmbmb\n"),
            std::string::npos);
  EXPECT_EQ(RenderTextureGuy::CurrentRamUsage, 0);
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
