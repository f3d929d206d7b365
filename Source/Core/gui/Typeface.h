#pragma once
// A fixed-advance bitmap font: one atlas image cut into equal cells, one
// glyph per cell, left to right then top to bottom from FirstChar.
#include <string>

#include <glm/vec2.hpp>

namespace KestorEngine {

class Mesh;
class Texbit;

class Typeface {
 public:
  // Loads Textures/<path>. `cell` and `glyph` are given at eight times the
  // atlas resolution (the size the glyphs were designed at).
  Typeface(std::string path, glm::vec2 cell, glm::vec2 glyph);
  // Adopts `texture` (may be null: nothing is drawn); sizes as above.
  Typeface(Texbit* texture, glm::vec2 cell, glm::vec2 glyph);
  virtual ~Typeface();
  Typeface(const Typeface&) = delete;
  Typeface& operator=(const Typeface&) = delete;

  // Width of the last line of `text` at `size` pixels.
  float Width(const std::string& text, float size) const;
  // Width of the last line and height of all lines.
  glm::vec2 MaRoom(const std::string& text, float size) const;
  // One quad per byte; line 0 at y 0 to one line height, each later line
  // one line height lower.
  // Bytes without a glyph (control characters, bytes above 127) keep an
  // empty quad but still take their advance, as Width counts them.
  void FillMesh(Mesh* mesh, const std::string& text, float size);

  // Glyph cells per atlas row; 0 when the atlas is narrower than a cell.
  int CellsPerRow() const;

  Texbit* Texture = nullptr;  // owned
  glm::vec2 CellSize{0.0f};   // texels
  glm::vec2 GlyphSize{0.0f};  // texels; x is the advance, y the line height at BaseSize
  int FirstChar = 32;
  float BaseSize = 24.0f;  // text size at which one texel is one pixel

 private:
  std::string source;  // for messages
  bool reportedNoCells = false;
};

}  // namespace KestorEngine
