#include "FontAtlas.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <fstream>

namespace KestorTools {

namespace {

struct FreeTypeSession {
  FT_Library Library = nullptr;
  FT_Face Face = nullptr;
  ~FreeTypeSession() {
    if (Face) FT_Done_Face(Face);
    if (Library) FT_Done_FreeType(Library);
  }
};

void BlitGlyph(const FT_Bitmap& bitmap, int left, int top, int clipX0, int clipY0, int clipX1,
               int clipY1, GreyImage& out) {
  for (unsigned row = 0; row < bitmap.rows; ++row) {
    const int y = top + static_cast<int>(row);
    if (y < clipY0 || y >= clipY1) continue;
    const unsigned char* src = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
    for (unsigned col = 0; col < bitmap.width; ++col) {
      const int x = left + static_cast<int>(col);
      if (x < clipX0 || x >= clipX1) continue;
      std::uint8_t& dst = out.Pixels[static_cast<size_t>(y) * out.Width + x];
      dst = std::max<std::uint8_t>(dst, src[col]);
    }
  }
}

}  // namespace

bool RenderFontAtlas(const std::string& fontPath, const AtlasLayout& layout, GreyImage& out,
                     std::string& error) {
  FreeTypeSession ft;
  if (FT_Init_FreeType(&ft.Library) != 0) {
    error = "FreeType did not start";
    return false;
  }
  if (FT_New_Face(ft.Library, fontPath.c_str(), 0, &ft.Face) != 0) {
    error = fontPath + ": not a font FreeType can read";
    return false;
  }
  if (FT_Set_Pixel_Sizes(ft.Face, 0, static_cast<FT_UInt>(layout.PixelSize)) != 0) {
    error = fontPath + ": cannot scale to " + std::to_string(layout.PixelSize) + " px";
    return false;
  }
  const FT_Size_Metrics& metrics = ft.Face->size->metrics;
  const float ascent = metrics.ascender / 64.0f;
  const float descent = -metrics.descender / 64.0f;
  if (ascent + descent > static_cast<float>(layout.CellSize)) {
    error = fontPath + ": " + std::to_string(layout.PixelSize) + " px lines do not fit a " +
            std::to_string(layout.CellSize) + " px cell";
    return false;
  }

  out.Width = layout.Columns * layout.CellSize;
  out.Height = layout.Rows * layout.CellSize;
  out.Pixels.assign(static_cast<size_t>(out.Width) * out.Height, 0);

  // Centre the line box vertically so ascenders and descenders get equal room.
  const float baseline = (layout.CellSize - (ascent + descent)) * 0.5f + ascent;
  const int lastCell = std::min(layout.LastChar - layout.FirstChar, layout.Columns * layout.Rows - 1);
  for (int cell = 0; cell <= lastCell; ++cell) {
    const FT_ULong code = static_cast<FT_ULong>(layout.FirstChar + cell);
    if (FT_Load_Char(ft.Face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) continue;
    const FT_GlyphSlot slot = ft.Face->glyph;
    const int cellX = (cell % layout.Columns) * layout.CellSize;
    const int cellY = (cell / layout.Columns) * layout.CellSize;
    const float advance = slot->advance.x / 64.0f;
    const float penX = cellX + (layout.GlyphWidth - advance) * 0.5f;
    const int left = static_cast<int>(std::lround(penX)) + slot->bitmap_left;
    const int top = cellY + static_cast<int>(std::lround(baseline)) - slot->bitmap_top;
    // Clip to the sampled part of the cell: ink outside it would bleed into
    // the neighbouring glyph's quad once the atlas is filtered.
    const int clipX1 = cellX + static_cast<int>(std::floor(layout.GlyphWidth));
    BlitGlyph(slot->bitmap, left, top, cellX, cellY, clipX1, cellY + layout.CellSize, out);
  }
  return true;
}

bool WriteGreyBmp(const std::string& path, const GreyImage& image, std::string& error) {
  const int rowBytes = (image.Width * 3 + 3) & ~3;
  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(rowBytes) * image.Height;
  const std::uint32_t headerBytes = 14 + 40;
  std::vector<std::uint8_t> file(headerBytes + pixelBytes, 0);
  auto put16 = [&](size_t at, std::uint16_t v) {
    file[at] = v & 0xff;
    file[at + 1] = v >> 8;
  };
  auto put32 = [&](size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = (v >> (8 * i)) & 0xff;
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, headerBytes + pixelBytes);
  put32(10, headerBytes);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(image.Width));
  put32(22, static_cast<std::uint32_t>(image.Height));  // positive: rows stored bottom-up
  put16(26, 1);
  put16(28, 24);
  put32(34, pixelBytes);
  put32(38, 2835);  // 72 dpi, only for viewers
  put32(42, 2835);
  for (int y = 0; y < image.Height; ++y) {
    std::uint8_t* row = &file[headerBytes + static_cast<size_t>(image.Height - 1 - y) * rowBytes];
    for (int x = 0; x < image.Width; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = image.At(x, y);
  }
  std::ofstream stream(path, std::ios::binary);
  if (!stream.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()))) {
    error = path + ": cannot write";
    return false;
  }
  return true;
}

}  // namespace KestorTools
