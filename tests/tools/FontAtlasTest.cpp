// Guards the glyph atlas layout the GUI's bitmap text depends on: every glyph
// whole inside its cell, and the image rows in the order the loader expects.
#include "FontAtlas.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "support/TestFiles.h"

namespace {

const char* kFont = "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf";

using KestorTools::AtlasLayout;
using KestorTools::GreyImage;

struct Ink {
  int Top = 1 << 30, Bottom = -1, Left = 1 << 30, Right = -1;
  bool Any() const { return Bottom >= 0; }
};

Ink InkOfCell(const GreyImage& atlas, const AtlasLayout& layout, char c) {
  Ink ink;
  const int cell = c - layout.FirstChar;
  const int x0 = (cell % layout.Columns) * layout.CellSize;
  const int y0 = (cell / layout.Columns) * layout.CellSize;
  for (int y = 0; y < layout.CellSize; ++y)
    for (int x = 0; x < layout.CellSize; ++x)
      if (atlas.At(x0 + x, y0 + y) > 32) {
        ink.Top = std::min(ink.Top, y);
        ink.Bottom = std::max(ink.Bottom, y);
        ink.Left = std::min(ink.Left, x);
        ink.Right = std::max(ink.Right, x);
      }
  return ink;
}

class FontAtlas : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(KestorTools::RenderFontAtlas(kFont, layout, atlas, error)) << error;
  }
  AtlasLayout layout;
  GreyImage atlas;
};

TEST_F(FontAtlas, EveryPrintableGlyphSitsWholeInsideTheSampledPartOfItsCell) {
  ASSERT_EQ(atlas.Width, 512);
  ASSERT_EQ(atlas.Height, 256);
  EXPECT_FALSE(InkOfCell(atlas, layout, ' ').Any());
  for (char c = '!'; c <= '~'; ++c) {
    const Ink ink = InkOfCell(atlas, layout, c);
    ASSERT_TRUE(ink.Any()) << "no ink for '" << c << "'";
    // Ink on a cell edge means the clip cut a stroke.
    EXPECT_GT(ink.Top, 0) << c;
    EXPECT_LT(ink.Bottom, layout.CellSize - 1) << c;
    EXPECT_LT(ink.Right, static_cast<int>(layout.GlyphWidth)) << c;
  }
}

TEST_F(FontAtlas, GlyphsShareOneBaselineSoDescendersHangBelowIt) {
  const Ink x = InkOfCell(atlas, layout, 'x');
  const Ink g = InkOfCell(atlas, layout, 'g');
  const Ink d = InkOfCell(atlas, layout, 'd');
  EXPECT_NEAR(x.Bottom, d.Bottom, 1);
  EXPECT_GT(g.Bottom, x.Bottom + 3);
  EXPECT_LT(d.Top, x.Top - 3);
}

TEST_F(FontAtlas, BmpStoresTheTopRowFirstForTheLoader) {
  KestorTest::TempDir dir;
  const std::string path = dir.Path() + "/atlas.bmp";
  std::string error;
  ASSERT_TRUE(KestorTools::WriteGreyBmp(path, atlas, error)) << error;

  SDL_Surface* loaded = SDL_LoadBMP(path.c_str());
  ASSERT_NE(loaded, nullptr) << SDL_GetError();
  SDL_Surface* rgb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB24, 0);
  SDL_FreeSurface(loaded);
  ASSERT_NE(rgb, nullptr);
  ASSERT_EQ(rgb->w, atlas.Width);
  ASSERT_EQ(rgb->h, atlas.Height);
  int mismatches = 0;
  for (int y = 0; y < rgb->h; ++y) {
    const auto* row = static_cast<const Uint8*>(rgb->pixels) + y * rgb->pitch;
    for (int x = 0; x < rgb->w; ++x) mismatches += row[3 * x] != atlas.At(x, y);
  }
  SDL_FreeSurface(rgb);
  EXPECT_EQ(mismatches, 0);
}

TEST(FontAtlasErrors, UnreadableFontOrOversizedLinesAreRefusedWithTheReason) {
  GreyImage atlas;
  std::string error;
  EXPECT_FALSE(KestorTools::RenderFontAtlas("/nonexistent/font.ttf", AtlasLayout{}, atlas, error));
  EXPECT_NE(error.find("/nonexistent/font.ttf"), std::string::npos);

  AtlasLayout huge;
  huge.PixelSize = 64;
  EXPECT_FALSE(KestorTools::RenderFontAtlas(kFont, huge, atlas, error));
  EXPECT_NE(error.find("do not fit"), std::string::npos) << error;
}

}  // namespace
