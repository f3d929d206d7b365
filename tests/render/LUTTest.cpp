// Guards colour lookup tables: the identity grid, conversions between real
// profiles (made here with Little CMS), the GPU copy, and the fallbacks for
// profiles that cannot be used and sizes too small for a grid.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "render/LUT.h"
#include "render/TextureReadback.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;

namespace {

class LUTTest : public KestorTest::GLTest {
 protected:
  std::string SaveProfile(const std::string& name, cmsHPROFILE profile) {
    const std::string path = dir.Path() + "/" + name;
    EXPECT_TRUE(cmsSaveProfileToFile(profile, path.c_str()));
    cmsCloseProfile(profile);
    return path;
  }
  std::string SRGB(const std::string& name) { return SaveProfile(name, cmsCreate_sRGBProfile()); }
  // Rec. 2020 primaries with a 2.2 gamma: a much wider gamut than sRGB.
  std::string Wide(const std::string& name) {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    cmsCIExyYTRIPLE primaries = {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    return SaveProfile(name, profile);
  }
  static const unsigned char* TexelAt(const LUT& lut, int x, int y, int z) {
    return lut.Data + ((z * lut.Height + y) * lut.Width + x) * 3;
  }

  KestorTest::TempDir dir;
};

}  // namespace

TEST_F(LUTTest, IdenticalProfilesLeaveTheGridUnchangedAndItReachesTheGPU) {
  const std::string a = SRGB("a.icc"), b = SRGB("b.icc");
  LUT lut(a, b, 5);
  ASSERT_NE(lut.Data, nullptr);
  EXPECT_EQ(lut.Format, TextureFormats::RGB8);
  EXPECT_EQ(lut.Depth, 5);
  for (int z = 0; z < 5; ++z) {
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 5; ++x) {
        const unsigned char* texel = TexelAt(lut, x, y, z);
        const int expected[3] = {x * 255 / 4, y * 255 / 4, z * 255 / 4};
        for (int c = 0; c < 3; ++c) EXPECT_LE(std::abs(texel[c] - expected[c]), 1) << x << y << z;
      }
    }
  }
  const std::vector<uint8_t> table(lut.Data, lut.Data + 5 * 5 * 5 * 3);
  EXPECT_EQ(KestorTest::ReadTexels(lut, GL_RGB, GL_UNSIGNED_BYTE, table.size()), table);
  EXPECT_EQ(lut.Target(), static_cast<unsigned>(GL_TEXTURE_3D));
}

TEST_F(LUTTest, AWiderSpaceDesaturatesPureColoursAndKeepsWhite) {
  CaptureStdout quiet;
  LUT lut(SRGB("srgb.icc"), Wide("wide.icc"), 3);
  const unsigned char* red = TexelAt(lut, 2, 0, 0);
  EXPECT_LT(red[0], 245) << "sRGB red is well inside the wider gamut";
  EXPECT_GT(red[1], 10);
  const unsigned char* white = TexelAt(lut, 2, 2, 2);
  for (int c = 0; c < 3; ++c) EXPECT_GE(white[c], 253);
}

TEST_F(LUTTest, UnusableProfilesAreReportedAndLeaveTheIdentity) {
  const std::string good = SRGB("good.icc");
  const std::string missing = dir.Path() + "/missing.icc";
  const std::string junk = dir.Write("junk.icc", "not a colour profile at all");
  for (const std::string& bad : {missing, junk}) {
    SCOPED_TRACE(bad);
    CaptureStdout out;
    LUT lut(good, bad, 2);
    const std::string text = out.Text();
    const size_t report = text.find("LUT: cannot open the colour profile " + bad);
    ASSERT_NE(report, std::string::npos) << text;
    EXPECT_EQ(text.find('\n', report), text.size() - 1) << "one line, and nothing after it";
    ASSERT_NE(lut.Data, nullptr);
    const unsigned char* corner = TexelAt(lut, 1, 0, 1);
    EXPECT_EQ(corner[0], 255);
    EXPECT_EQ(corner[1], 0);
    EXPECT_EQ(corner[2], 255);
  }
}

TEST_F(LUTTest, TooSmallSizesAreRaisedAndEmptyPathsMakeNoData) {
  CaptureStdout out;
  LUT tiny("", "", 1);
  EXPECT_NE(out.Text().find("LUT: 1 entries per axis cannot span the colour cube, using 2\n"),
            std::string::npos);
  EXPECT_EQ(tiny.Width, 2);
  EXPECT_EQ(tiny.Depth, 2);
  EXPECT_EQ(tiny.Data, nullptr);
  tiny.ToGPU();
  EXPECT_TRUE(tiny.StorageMade);
}
