#pragma once
// Reads a texture's level back from GL and writes small image files, for the
// render tests.
#include <cstdint>
#include <string>
#include <vector>

#include "render/Texbit.h"
#include "sanegl/GL.h"

namespace KestorTest {

// Level `level` of `t` in the given client format, tightly packed. Binds the
// texture on its own unit first (uploading it if it was never bound).
inline std::vector<uint8_t> ReadTexels(KestorEngine::Texbit& t, GLenum format, GLenum type,
                                       size_t bytes, int level = 0) {
  std::vector<uint8_t> out(bytes, 0xCD);
  t.ToGPU();
  glActiveTexture(KestorEngine::Texbit::GetBindEnum(t.CurrentBind));
  glBindTexture(t.Target(), t.ID);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(t.Target(), level, format, type, out.data());
  return out;
}

// A 24-bit BMP of `rgb` (rows top first, three bytes per texel), written the
// way BMPs usually are: bottom row first, BGR, rows padded to four bytes.
inline std::string MakeBmp24(int w, int h, const std::vector<uint8_t>& rgb) {
  const int stride = (w * 3 + 3) / 4 * 4;
  const uint32_t imageSize = stride * h;
  std::string out;
  auto put16 = [&](uint32_t v) { out += char(v & 0xFF), out += char((v >> 8) & 0xFF); };
  auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
  out += "BM";
  put32(54 + imageSize);
  put32(0);
  put32(54);
  put32(40);
  put32(w);
  put32(h);
  put16(1);
  put16(24);
  put32(0);
  put32(imageSize);
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  for (int row = h - 1; row >= 0; --row) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &rgb[(row * w + x) * 3];
      out += char(p[2]), out += char(p[1]), out += char(p[0]);
    }
    for (int pad = w * 3; pad < stride; ++pad) out += '\0';
  }
  return out;
}

// An uncompressed TGA, top row first: 8-bit grey when `channels` is 1,
// otherwise 32-bit with alpha (`pixels` holds RGBA).
inline std::string MakeTga(int w, int h, int channels, const std::vector<uint8_t>& pixels) {
  std::string out(18, '\0');
  out[2] = channels == 1 ? 3 : 2;
  out[12] = char(w & 0xFF), out[13] = char(w >> 8);
  out[14] = char(h & 0xFF), out[15] = char(h >> 8);
  out[16] = channels == 1 ? 8 : 32;
  out[17] = char(0x20 | (channels == 1 ? 0 : 8));
  for (int i = 0; i < w * h; ++i) {
    if (channels == 1) {
      out += char(pixels[i]);
    } else {
      const uint8_t* p = &pixels[i * 4];
      out += char(p[2]), out += char(p[1]), out += char(p[0]), out += char(p[3]);
    }
  }
  return out;
}

}  // namespace KestorTest
