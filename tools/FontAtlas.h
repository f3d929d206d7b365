#pragma once
// Bakes a monospace font into the fixed-cell glyph atlas the GUI's bitmap text
// path samples. Kept apart from the command-line wrapper so tests can check the
// layout without going through files.

#include <cstdint>
#include <string>
#include <vector>

namespace KestorTools {

struct AtlasLayout {
  int CellSize = 32;          // texels per cell, both axes
  float GlyphWidth = 18.125f; // used width of a cell; also the text advance
  int Columns = 16;
  int Rows = 8;
  int FirstChar = 32;
  int LastChar = 126;   // cells past this stay empty
  int PixelSize = 27;   // em size; ascent + descent must fit in CellSize
};

// Single-channel coverage, rows top to bottom (the order the engine's loader
// hands to GL, so row 0 is texture coordinate v = 0).
struct GreyImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Pixels;
  std::uint8_t At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

// Returns false with a reason when FreeType cannot load the font or the font
// does not fit the cell at the requested size.
bool RenderFontAtlas(const std::string& fontPath, const AtlasLayout& layout, GreyImage& out,
                     std::string& error);

// Writes a 24-bit uncompressed BMP with the coverage in every channel.
bool WriteGreyBmp(const std::string& path, const GreyImage& image, std::string& error);

}  // namespace KestorTools
