// Guards textures: the 16-unit least-recently-used allocator, lazy upload
// into immutable storage, image decoding (channel counts, row order, files the
// decoder rejects), the format table as GL sees it, 3D and multisample
// storage, the budget arithmetic and the CPU buffer pool.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/File.h"
#include "render/RenderGL.h"
#include "render/Texbit.h"
#include "render/TextureReadback.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::CountOf;
using KestorTest::ReadTexels;

namespace {

class TexbitTest : public KestorTest::GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    KestorTest::ResetRenderStatics();
  }
};

// Loads images from a scratch asset folder instead of the shipped one.
class TexbitFileTest : public KestorTest::GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    savedAssets = File::AssetsPath;
    File::AssetsPath = dir.Path() + File::PathSeparator;
  }
  void TearDown() override {
    File::AssetsPath = savedAssets;
    GLTest::TearDown();
  }
  std::string Put(const std::string& name, const std::string& bytes) {
    return dir.Write(std::string("Textures") + File::PathSeparator + name, bytes);
  }

  KestorTest::TempDir dir;
  std::string savedAssets;
};

GLint BoundTexture2D(int unit) {
  GLint previous = 0, bound = 0;
  glGetIntegerv(GL_ACTIVE_TEXTURE, &previous);
  glActiveTexture(GL_TEXTURE0 + unit);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glActiveTexture(previous);
  return bound;
}

}  // namespace

TEST_F(TexbitTest, SeventeenthTextureTakesTheLeastRecentlyBoundUnit) {
  std::vector<std::unique_ptr<Texbit>> textures;
  for (int i = 0; i < 17; ++i) textures.push_back(std::make_unique<Texbit>(2, 2));
  for (int i = 0; i < 16; ++i) {
    textures[i]->ToGPU();
    EXPECT_EQ(textures[i]->CurrentBind, i);
  }

  // Touching texture 0 again only refreshes its place: no GL call, so the
  // active unit stays where the test left it.
  glActiveTexture(GL_TEXTURE5);
  textures[0]->ToGPU();
  GLint active = 0;
  glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
  EXPECT_EQ(active, GL_TEXTURE5);
  EXPECT_EQ(Texbit::ActiveTextures.back(), textures[0].get());

  textures[16]->ToGPU();
  EXPECT_EQ(textures[16]->CurrentBind, 1) << "texture 1 was the least recently bound";
  EXPECT_EQ(textures[1]->CurrentBind, -1);
  EXPECT_EQ(Texbit::ActiveTextures.size(), 16u);
  EXPECT_EQ(Texbit::ActiveTextures.front(), textures[2].get());
  EXPECT_EQ(BoundTexture2D(1), static_cast<GLint>(textures[16]->ID));

  // The evicted texture comes back on the next free unit without a second
  // upload.
  CaptureStdout out;
  EXPECT_EQ(textures[1]->GetCurrentBind(), 2);
  EXPECT_EQ(textures[2]->CurrentBind, -1);
  EXPECT_EQ(BoundTexture2D(2), static_cast<GLint>(textures[1]->ID));
  EXPECT_EQ(CountOf(out.Text(), "NewUpload"), 0);
}

TEST_F(TexbitTest, RemovedAndDeletedTexturesFreeTheirUnits) {
  std::vector<std::unique_ptr<Texbit>> textures;
  for (int i = 0; i < 4; ++i) {
    textures.push_back(std::make_unique<Texbit>(2, 2));
    textures.back()->ToGPU();
  }
  Texbit::RemoveBind(textures[1].get());
  EXPECT_EQ(textures[1]->CurrentBind, -1);
  textures[2].reset();
  EXPECT_EQ(Texbit::ActiveTextures.size(), 2u);

  Texbit fresh(2, 2);
  EXPECT_EQ(Texbit::RequestBind(&fresh), 1) << "the lowest free unit is handed out";
  EXPECT_EQ(Texbit::RequestBind(nullptr), -1);
  Texbit::RemoveBind(&fresh);
}

TEST_F(TexbitTest, StorageIsMadeAtTheFirstBindAndKeptByForcedUploads) {
  Texbit t(8, 4, TextureFormats::RGBA8);
  t.Mipmaps = false;
  EXPECT_EQ(glIsTexture(t.ID), GL_FALSE) << "nothing but the name exists before the first bind";

  std::vector<uint8_t> first(8 * 4 * 4, 0x11);
  t.Data = first.data();
  {
    CaptureStdout out;
    t.ToGPU();
    t.ToGPU();
    EXPECT_EQ(CountOf(out.Text(), "NewUpload"), 1);
  }
  EXPECT_TRUE(t.OnGPU);
  EXPECT_TRUE(t.StorageMade);
  GLint immutable = 0, levels = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_IMMUTABLE_FORMAT, &immutable);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_IMMUTABLE_LEVELS, &levels);
  EXPECT_EQ(immutable, GL_TRUE);
  EXPECT_EQ(levels, 4) << "the whole chain for 8 x 4, even with mipmaps off";

  // A forced upload sends level 0 again into the storage it already has.
  std::vector<uint8_t> second(8 * 4 * 4, 0x22);
  t.Data = second.data();
  {
    CaptureStdout out;
    t.ToGPUForce();
    EXPECT_EQ(CountOf(out.Text(), "NewUpload"), 0);
  }
  EXPECT_EQ(ReadTexels(t, GL_RGBA, GL_UNSIGNED_BYTE, second.size()), second);
}

TEST_F(TexbitTest, FormatsReachGLWithTheirTableEnums) {
  struct Case {
    TextureFormats format;
    GLenum internal;
    int bytesPerTexel;
  };
  const Case cases[] = {
      {TextureFormats::R8, GL_R8, 1},           {TextureFormats::RG8, GL_RG8, 2},
      {TextureFormats::RGB8, GL_RGB8, 3},       {TextureFormats::RGBA8, GL_RGBA8, 4},
      {TextureFormats::RGB10A2, GL_RGB10_A2, 4}, {TextureFormats::RGBA16F, GL_RGBA16F, 8},
      {TextureFormats::R32F, GL_R32F, 4},       {TextureFormats::RG32F, GL_RG32F, 8},
      {TextureFormats::RGBA32UI, GL_RGBA32UI, 16},
  };
  // Half floats 0.25, 0.5, 1, 2 and floats of plain values: every pattern
  // survives the trip unchanged.
  const uint16_t halves[] = {0x3400, 0x3800, 0x3C00, 0x4000};
  const float floats[] = {0.25f, -1.5f, 3.0f, 1024.0f};

  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    const TextureFormatInfo& info = GetTextureFormatInfo(c.format);
    EXPECT_EQ(info.internalFormat, c.internal);
    const int w = 3, h = 2;
    std::vector<uint8_t> texels(w * h * c.bytesPerTexel);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = static_cast<uint8_t>(i * 37 + 11);
    if (info.pixelType == GL_HALF_FLOAT) {
      for (size_t i = 0; i < texels.size() / 2; ++i) std::memcpy(&texels[i * 2], &halves[i % 4], 2);
    } else if (info.pixelType == GL_FLOAT) {
      for (size_t i = 0; i < texels.size() / 4; ++i) std::memcpy(&texels[i * 4], &floats[i % 4], 4);
    }

    Texbit t(w, h, c.format);
    t.Mipmaps = false;
    t.FilterMode = 0;
    t.Data = texels.data();
    t.ToGPU();
    GLint internal = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internal);
    EXPECT_EQ(static_cast<GLenum>(internal), c.internal);
    EXPECT_EQ(ReadTexels(t, info.pixelFormat, info.pixelType, texels.size()), texels);
  }
}

TEST_F(TexbitTest, VolumesGetThreeDimensionalStorageWithTheirOwnChain) {
  std::vector<uint8_t> texels(4 * 2 * 8 * 4);
  for (size_t i = 0; i < texels.size(); ++i) texels[i] = static_cast<uint8_t>(i);
  Texbit volume(4, 2, 8, TextureFormats::RGBA8);
  volume.Data = texels.data();
  CaptureStdout quiet;
  volume.ToGPU();
  EXPECT_EQ(volume.Target(), static_cast<unsigned>(GL_TEXTURE_3D));
  GLint levels = 0, wrapR = 0;
  glGetTexParameteriv(GL_TEXTURE_3D, GL_TEXTURE_IMMUTABLE_LEVELS, &levels);
  glGetTexParameteriv(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, &wrapR);
  EXPECT_EQ(levels, 4);
  EXPECT_EQ(wrapR, GL_CLAMP_TO_EDGE);
  EXPECT_EQ(ReadTexels(volume, GL_RGBA, GL_UNSIGNED_BYTE, texels.size()), texels);
  // Level 1 was built from level 0: 2 x 1 x 4 texels.
  std::vector<uint8_t> level1 = ReadTexels(volume, GL_RGBA, GL_UNSIGNED_BYTE, 2 * 1 * 4 * 4, 1);
  EXPECT_NE(level1[0], 0xCD);
}

TEST_F(TexbitTest, MultisampleTargetsTakeNoSamplerStateOrMipmaps) {
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_COLOR_TEXTURE_SAMPLES, &maxSamples);
  ASSERT_GE(maxSamples, 4);
  // Mipmaps stays on: a multisample texture must still come out clean.
  RenderTexture target(16, 16, TextureFormats::RGBA16F);
  target.Samples = 4;
  target.Mipmaps = true;
  target.ToGPU();
  target.GenerateMipmaps();
  EXPECT_EQ(target.Target(), static_cast<unsigned>(GL_TEXTURE_2D_MULTISAMPLE));
  GLint samples = 0, bound = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_SAMPLES, &samples);
  glGetIntegerv(GL_TEXTURE_BINDING_2D_MULTISAMPLE, &bound);
  EXPECT_EQ(samples, 4);
  EXPECT_EQ(bound, static_cast<GLint>(target.ID));
}

TEST_F(TexbitFileTest, BmpRowsStayTopFirstAndThreeChannelsBecomeRGB8) {
  // Red, green / blue, white, top row first.
  const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  const std::string path = Put("Corner.bmp", KestorTest::MakeBmp24(2, 2, rgb));
  CaptureStdout out;
  Texbit t(std::string("Corner.bmp"));
  EXPECT_EQ(out.Text(), path + "(2,2)\n");
  EXPECT_EQ(t.Format, TextureFormats::RGB8);
  EXPECT_EQ(t.WrapMode, 0);
  EXPECT_FALSE(t.Mipmaps);
  EXPECT_EQ(ReadTexels(t, GL_RGB, GL_UNSIGNED_BYTE, rgb.size()), rgb);
}

TEST_F(TexbitFileTest, AlphaImagesBecomeRGBA8AndGreyOnesAreWidened) {
  const std::vector<uint8_t> rgba = {10, 20, 30, 40, 50, 60, 70, 80};
  Put("Alpha.tga", KestorTest::MakeTga(2, 1, 4, rgba));
  Texbit alpha(std::string("Alpha.tga"));
  EXPECT_EQ(alpha.Format, TextureFormats::RGBA8);
  EXPECT_EQ(ReadTexels(alpha, GL_RGBA, GL_UNSIGNED_BYTE, rgba.size()), rgba);

  // One channel per texel in the file, four in the upload that reads it.
  Put("Grey.tga", KestorTest::MakeTga(3, 1, 1, {0, 128, 255}));
  Texbit grey(std::string("Grey.tga"));
  EXPECT_EQ(grey.Format, TextureFormats::RGBA8);
  const std::vector<uint8_t> widened = {0, 0, 0, 255, 128, 128, 128, 255, 255, 255, 255, 255};
  EXPECT_EQ(ReadTexels(grey, GL_RGBA, GL_UNSIGNED_BYTE, widened.size()), widened);
}

TEST_F(TexbitFileTest, UndecodableFilesAreReportedAndLeaveAnEmptyTexture) {
  const std::string broken = Put("Broken.png", std::string("\x89PNG\r\n\x1a\n garbage", 17));
  const std::string missing = dir.Path() + File::PathSeparator + "Textures" + File::PathSeparator + "Nope.bmp";
  for (const std::string& path : {broken, missing}) {
    SCOPED_TRACE(path);
    const std::string name = path.substr(path.find_last_of(File::PathSeparator) + 1);
    CaptureStdout out;
    Texbit t{std::string(name)};
    const std::string text = out.Text();
    EXPECT_EQ(text.find(path + "(8,8)\n"), 0u);
    const std::string failure = text.substr(text.find('\n') + 1);
    EXPECT_EQ(failure.find(path + ": cannot decode the image ("), 0u) << failure;
    EXPECT_EQ(CountOf(failure, "\n"), 1) << "one line for the failure";
    EXPECT_EQ(t.Data, nullptr);
    EXPECT_EQ(t.Format, TextureFormats::RGBA8);
    t.ToGPU();
    EXPECT_TRUE(t.StorageMade);
  }
}

TEST_F(TexbitTest, WhiteIsTheShippedBitmapMadeOnce) {
  Texbit* white = Texbit::White();
  ASSERT_NE(white, nullptr);
  EXPECT_EQ(Texbit::White(), white);
  EXPECT_EQ(white->Width, 8);
  EXPECT_EQ(white->Height, 8);
  EXPECT_TRUE(white->OnGPU);
  EXPECT_EQ(ReadTexels(*white, GL_RGB, GL_UNSIGNED_BYTE, 8 * 8 * 3), std::vector<uint8_t>(8 * 8 * 3, 255));
}

TEST(TexbitBudget, SizesAreWholeMiBWithAThirdMoreForMipChains) {
  // 1920 x 1080 x 8 bytes = 15.8 MiB; with mips x 1.34 = 21.2 MiB.
  EXPECT_EQ(Texbit::CalcSize(1920, 1080, TextureFormats::RGBA16F, true), 21);
  EXPECT_EQ(Texbit::CalcSize(1920, 1080, TextureFormats::RGBA16F), 15);
  // 4 GiB does not wrap around.
  EXPECT_EQ(Texbit::CalcSize(16384, 16384, TextureFormats::RGBA32F), 4096);
  EXPECT_EQ(Texbit::CalcSize(16384, 16384, TextureFormats::RGBA32F, true), 5488);
  // Integer formats are charged one byte per texel; unknown values as RGBA8.
  EXPECT_EQ(Texbit::CalcSize(1024, 1024, TextureFormats::RGBA32UI), 1);
  EXPECT_EQ(Texbit::CalcSize(1024, 1024, static_cast<TextureFormats>(99)), 4);
}

TEST(RawTexturePool, BuffersAreReusedBySizeAndRefusedOverBudget) {
  unsigned char* a = RawTextureGuy::GrabTex(4, 4, 1, 4);
  ASSERT_NE(a, nullptr);
  EXPECT_NE(RawTextureGuy::GrabTex(4, 4, 1, 4), a) << "still in use";
  RawTextureGuy::Done(a);
  EXPECT_EQ(RawTextureGuy::GrabTex(2, 8, 4, 1), a) << "same byte count, free again";
  EXPECT_EQ(RawTextureGuy::GrabTex(0, 4, 4, 4), nullptr);
  EXPECT_EQ(RawTextureGuy::GrabTex(65536, 65536, 4, 4), nullptr) << "would wrap a 32-bit size";

  RawTextureGuy::MaximumRamUsage = RawTextureGuy::CurrentRamUsage + 1;
  CaptureStdout out;
  EXPECT_EQ(RawTextureGuy::GrabTex(1024, 1024, 2, 1), nullptr);
  EXPECT_EQ(out.Text(), "!AAAA\n");
}
