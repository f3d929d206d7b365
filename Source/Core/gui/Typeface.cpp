#include "gui/Typeface.h"

#include <algorithm>
#include <iostream>

#include "render/Mesh.h"
#include "render/Texbit.h"

namespace KestorEngine {

namespace {

// The atlas is designed at eight times the resolution it is stored at.
constexpr float DesignScale = 8.0f;

size_t BytesOfLastLine(const std::string& text) {
  size_t newline = text.rfind('\n');
  return newline == std::string::npos ? text.size() : text.size() - newline - 1;
}

}  // namespace

Typeface::Typeface(std::string path, glm::vec2 cell, glm::vec2 glyph)
    : Typeface(new Texbit(path), cell, glyph) {
  source = path;
}

Typeface::Typeface(Texbit* texture, glm::vec2 cell, glm::vec2 glyph)
    : Texture(texture), CellSize(cell / DesignScale), GlyphSize(glyph / DesignScale), source("(texture)") {}

Typeface::~Typeface() { delete Texture; }

float Typeface::Width(const std::string& text, float size) const {
  return size / BaseSize * GlyphSize.x * static_cast<float>(BytesOfLastLine(text));
}

glm::vec2 Typeface::MaRoom(const std::string& text, float size) const {
  float lines = 1.0f + static_cast<float>(std::count(text.begin(), text.end(), '\n'));
  return glm::vec2(GlyphSize.x * size / BaseSize * static_cast<float>(BytesOfLastLine(text)),
                   size / BaseSize * GlyphSize.y * lines);
}

int Typeface::CellsPerRow() const {
  if (Texture == nullptr || CellSize.x < 1.0f) return 0;
  return Texture->Width / static_cast<int>(CellSize.x);
}

void Typeface::FillMesh(Mesh* mesh, const std::string& text, float size) {
  const float k = size / BaseSize;
  const float advance = GlyphSize.x * k;
  const float lineHeight = GlyphSize.y * k;
  const int perRow = CellsPerRow();
  const int rows = (perRow > 0 && CellSize.y >= 1.0f) ? Texture->Height / static_cast<int>(CellSize.y) : 0;
  if (perRow == 0 && !reportedNoCells) {
    reportedNoCells = true;
    std::cout << "Typeface " << source << ": the atlas is narrower than one glyph cell; its text is not drawn"
              << std::endl;
  }

  const size_t count = text.size();
  mesh->Faces.assign(count * 6, 0u);
  mesh->Vertices.assign(count * 12, 0.0f);
  mesh->UV1.assign(count * 8, 0.0f);
  mesh->HasUV1 = true;

  int column = 0;
  int line = 0;
  for (size_t i = 0; i < count; ++i) {
    const signed char ch = static_cast<signed char>(text[i]);
    if (ch == '\n') {
      column = 0;
      ++line;
      continue;
    }
    const int cell = ch - FirstChar;
    // Negative cells are control characters and bytes above 127 (signed);
    // cells past the atlas have no glyph either.
    if (cell >= 0 && perRow > 0 && cell < perRow * rows) {
      const float u = static_cast<float>(cell % perRow) * CellSize.x / static_cast<float>(Texture->Width);
      const float v = static_cast<float>(cell / perRow) * CellSize.y / static_cast<float>(Texture->Height);
      const float du = GlyphSize.x / static_cast<float>(Texture->Width);
      const float dv = GlyphSize.y / static_cast<float>(Texture->Height);
      const float x0 = static_cast<float>(column) * advance;
      const float x1 = static_cast<float>(column + 1) * advance;
      // Lines run down the page: the first sits on the origin, each next
      // one a line lower.
      const float yTop = static_cast<float>(1 - line) * lineHeight;
      const float yBottom = static_cast<float>(-line) * lineHeight;
      const float corners[4][4] = {
          {x0, yTop, u, v}, {x1, yTop, u + du, v}, {x0, yBottom, u, v + dv}, {x1, yBottom, u + du, v + dv}};
      for (int c = 0; c < 4; ++c) {
        float* position = &mesh->Vertices[(i * 4 + c) * 3];
        position[0] = corners[c][0];
        position[1] = corners[c][1];
        float* uv = &mesh->UV1[(i * 4 + c) * 2];
        uv[0] = corners[c][2];
        uv[1] = corners[c][3];
      }
      const uint32_t base = static_cast<uint32_t>(i * 4);
      const uint32_t order[6] = {0, 1, 2, 1, 3, 2};
      for (int f = 0; f < 6; ++f) mesh->Faces[i * 6 + f] = base + order[f];
    }
    ++column;
  }
}

}  // namespace KestorEngine
