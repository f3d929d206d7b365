#include "renderer/FrameResources.h"

#include <algorithm>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <sstream>

#include <glm/vector_relational.hpp>

#include "render/RenderTextureGuy.h"
#include "engine/Debug.h"
#include "render/Texbit.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"

namespace KestorEngine {

namespace {

bool IsDepth(TextureFormats f) {
  return f == TextureFormats::Depth24 || f == TextureFormats::Depth24Stencil8 || f == TextureFormats::Depth32F ||
         f == TextureFormats::Depth32FStencil8;
}

bool Fits(const Texbit* t, glm::ivec3 size) { return t != nullptr && t->Width == size.x && t->Height == size.y; }

// Where a camera keeps `r`: the struct's named field, or its by-name map.
Texbit*& Now(const ResourceSpec& r, CameraTargets& t) { return r.Slot != nullptr ? t.*r.Slot : t.ByName[r.Name][0]; }
Texbit*& Other(const ResourceSpec& r, CameraTargets& t) {
  return r.Other != nullptr ? t.*r.Other : t.ByName[r.Name][1];
}
Texbit*& FieldNow(const ResourceSpec& r, LightField& l) {
  return r.FieldSlot != nullptr ? l.*r.FieldSlot : l.VolumesByName[r.Name][0];
}
Texbit*& FieldOther(const ResourceSpec& r, LightField& l) {
  return r.FieldOther != nullptr ? l.*r.FieldOther : l.VolumesByName[r.Name][1];
}
bool ForCamera(const ResourceSpec& r) {
  return r.Life == Lifetime::Frame || r.Life == Lifetime::Kept || r.Life == Lifetime::History;
}

void HandBack(Texbit*& t) {
  if (t != nullptr) RenderTextureGuy::Done(static_cast<RenderTexture*>(t));
  t = nullptr;
}

// Kept textures are the renderer's own, not the pool's: made directly and
// deleted when their size no longer fits; a size of 0 keeps none.
bool MakeKept(const ResourceSpec& r, Texbit*& t, glm::ivec3 size, bool& made) {
  if (Fits(t, size)) return true;
  delete t;
  t = nullptr;
  if (size.x <= 0 || size.y <= 0) return true;
  made = true;
  if (IsDepth(r.Format)) {
    t = new DepthTexture(size.x, size.y, r.Format);
  } else {
    auto* colour = new RenderTexture(size.x, size.y, r.Format);
    colour->Mipmaps = r.Mipmaps;
    t = colour;
  }
  t->ToGPU();
  return true;
}

// A history is kept only whole: the pool may refuse one of the pair, and a
// pair of two sizes would mix pictures.
bool MakeHistory(const ResourceSpec& r, CameraTargets& c, glm::ivec3 size, bool& made) {
  Texbit*& now = Now(r, c);
  Texbit*& other = Other(r, c);
  if (Fits(now, size) && Fits(other, size)) return true;
  HandBack(now);
  HandBack(other);
  now = RenderTextureGuy::GrabTex(size.x, size.y, r.Format, r.Mipmaps);
  other = RenderTextureGuy::GrabTex(size.x, size.y, r.Format, r.Mipmaps);
  made = true;
  if (now != nullptr && other != nullptr) return true;
  HandBack(now);
  HandBack(other);
  return false;
}

void ReportHistory(const CameraTargets& c) {
  std::cout << "Creating Camer astuff!" << std::endl;
  std::cout << "OldLayer1: " << reinterpret_cast<std::uintptr_t>(c.OldLayer1) << std::endl;
  std::cout << "OldLayer2: " << reinterpret_cast<std::uintptr_t>(c.OldLayer2) << std::endl;
  std::cout << "OldDepth1: " << reinterpret_cast<std::uintptr_t>(c.OldDepth1) << std::endl;
  std::cout << "OldDepth2: " << reinterpret_cast<std::uintptr_t>(c.OldDepth2) << std::endl;
  std::cout << "Newness2: " << reinterpret_cast<std::uintptr_t>(c.Newness2) << std::endl;
  std::cout << "Newness1: " << reinterpret_cast<std::uintptr_t>(c.Newness1) << std::endl;
}

void ClearLevelZero(Texbit* t) {
  SaneGL::ClearColor(glm::vec4(0.0f));
  RenderTextureGuy::UseTexs({static_cast<RenderTexture*>(t)}, {}, {0}, nullptr);
  SaneGL::Clear(GL_COLOR_BUFFER_BIT);
  RenderTextureGuy::UseTexDone();
}

}  // namespace

glm::ivec3 ResourceSize(const ResourceSpec& r, const TargetSizes& s, glm::ivec3 field) {
  switch (r.Size) {
    case SizeRule::Render: return {s.SW, s.SH, 1};
    case SizeRule::HalfRender: return {(s.SW + 1) / 2, (s.SH + 1) / 2, 1};
    case SizeRule::Window: return {s.W, s.H, 1};
    case SizeRule::Fixed: return r.FixedBy != nullptr ? r.FixedBy() : r.FixedSize;
    case SizeRule::LightField: {
      glm::ivec3 out = field * r.Scale;
      for (int axis = 0; axis < 3; ++axis) {
        if (r.FixedSize[axis] > 0) out[axis] = r.FixedSize[axis];
      }
      return out;
    }
    case SizeRule::None: break;
  }
  return glm::ivec3(0);
}

Texbit* FieldVolume(const ResourceSpec& r, LightField& l, bool other) {
  if (r.Life != Lifetime::Field) return nullptr;
  return other ? FieldOther(r, l) : FieldNow(r, l);
}

Texbit* CameraTexture(const ResourceSpec& r, CameraTargets& t) { return ForCamera(r) ? Now(r, t) : nullptr; }

bool AcquireCameraTargets(const PassTable& table, const std::set<std::string>& names, CameraTargets& t,
                          const TargetSizes& sizes, std::set<std::string>& refused, std::set<std::string>* made) {
  bool madeHistory = false;
  bool whole = true;
  for (const ResourceSpec& r : table.Resources) {
    if (!ForCamera(r) || names.count(r.Name) == 0) continue;
    const glm::ivec3 size = ResourceSize(r, sizes);
    bool got = true;
    if (r.Life == Lifetime::Kept) {
      bool fresh = false;
      got = MakeKept(r, Now(r, t), size, fresh);
      if (fresh && made != nullptr) made->insert(r.Name);
    } else if (r.Life == Lifetime::History) {
      got = MakeHistory(r, t, size, madeHistory);
    } else {
      Now(r, t) = RenderTextureGuy::GrabTex(size.x, size.y, r.Format, r.Mipmaps);
      got = Now(r, t) != nullptr;
    }
    if (got) continue;
    if (r.Optional) {
      refused.insert(r.Name);
    } else {
      whole = false;
    }
  }
  if (madeHistory && t.OldLayer1 != nullptr) ReportHistory(t);
  if (!whole) ReleaseFrameTargets(table, t);
  return whole;
}

void ReleaseFrameTargets(const PassTable& table, CameraTargets& t) {
  for (const ResourceSpec& r : table.Resources) {
    if (ForCamera(r) && r.Life == Lifetime::Frame) HandBack(Now(r, t));
  }
}

void SwapHistory(const ResourceSpec& r, CameraTargets& t) {
  if (r.Life == Lifetime::History) std::swap(Now(r, t), Other(r, t));
}

int TexelBytes(TextureFormats f) {
  using F = TextureFormats;
  switch (f) {
    case F::R8: case F::R8UI: case F::Stencil8: return 1;
    case F::RG8: case F::R16F: return 2;
    case F::RGB8: case F::Depth24: return 3;
    case F::RGBA8: case F::RGB10A2: case F::R32F: case F::RG16F: case F::Depth24Stencil8: case F::Depth32F:
    case F::R32UI: case F::R11G11B10F: return 4;
    case F::RGB16F: return 6;
    case F::RGBA16F: case F::RG32F: case F::Depth32FStencil8: case F::RG32UI: return 8;
    case F::RGB32F: return 12;
    case F::RGBA32F: case F::RGBA32I: case F::RGBA32UI: return 16;
  }
  return 4;
}

long long FieldVolumeBytes(const PassTable& table, glm::ivec3 voxels, bool cascaded) {
  long long total = 0;
  for (const ResourceSpec& r : table.Resources) {
    if (r.Life != Lifetime::Field || (cascaded && r.OneGridOnly)) continue;
    glm::ivec3 size = ResourceSize(r, TargetSizes(), voxels);
    long long bytes = 0;
    // Every level down to one texel for a mipmapped volume (Texbit's
    // storage), the first alone for the rest.
    for (int k = 0; k < (r.Mipmaps ? 16 : 1) && size.x > 0; ++k) {
      bytes += static_cast<long long>(size.x) * size.y * size.z * TexelBytes(r.Format);
      if (glm::all(glm::equal(size, glm::ivec3(1)))) break;
      size = glm::max(size / 2, glm::ivec3(1));
    }
    total += bytes * (r.FieldOther != nullptr || r.Paired ? 2 : 1);
  }
  return total;
}

void MakeFieldVolumes(const PassTable& table, LightField& l, glm::ivec3 voxels) {
  auto make = [&](const ResourceSpec& r, Texbit*& slot) {
    const glm::ivec3 size = ResourceSize(r, TargetSizes(), voxels);
    auto* v = new RenderTexture(size.x, size.y, r.Format);
    v->Depth = size.z;
    v->Mipmaps = r.Mipmaps;
    v->FilterMode = r.Filter;
    v->ToGPU();
    slot = v;
  };
  for (const ResourceSpec& r : table.Resources) {
    if (r.Life != Lifetime::Field || (l.Cascaded() && r.OneGridOnly)) continue;
    make(r, FieldNow(r, l));
    if (r.FieldOther != nullptr || r.Paired) make(r, FieldOther(r, l));
  }
  // The first injection blends into these: they start from no light.
  for (const ResourceSpec& r : table.Resources) {
    if (r.Life != Lifetime::Field || !r.ClearWhenMade || FieldNow(r, l) == nullptr) continue;
    ClearLevelZero(FieldNow(r, l));
    if (r.FieldOther != nullptr || r.Paired) ClearLevelZero(FieldOther(r, l));
  }
}

namespace {

// Bytes of `t` as GL holds it: each level's size and its components' bits.
long long GLBytes(Texbit* t, int& levels) {
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_3D, &bound);
  glBindTexture(GL_TEXTURE_3D, t->ID);
  long long bytes = 0;
  levels = 0;
  // A full chain has a level for every halving of the largest side; asking
  // past the last is an error.
  const int longest = std::max({t->Width, t->Height, t->Depth, 1});
  int chain = 1;
  while ((longest >> chain) > 0) ++chain;
  for (int k = 0; k < chain; ++k) {
    GLint w = 0, h = 0, d = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_3D, k, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_3D, k, GL_TEXTURE_HEIGHT, &h);
    glGetTexLevelParameteriv(GL_TEXTURE_3D, k, GL_TEXTURE_DEPTH, &d);
    if (w <= 0 || h <= 0 || d <= 0) break;
    long long bits = 0;
    for (GLenum component : {GL_TEXTURE_RED_SIZE, GL_TEXTURE_GREEN_SIZE, GL_TEXTURE_BLUE_SIZE, GL_TEXTURE_ALPHA_SIZE,
                             GL_TEXTURE_DEPTH_SIZE, GL_TEXTURE_STENCIL_SIZE}) {
      GLint b = 0;
      glGetTexLevelParameteriv(GL_TEXTURE_3D, k, component, &b);
      bits += b;
    }
    bytes += static_cast<long long>(w) * h * d * bits / 8;
    ++levels;
  }
  glBindTexture(GL_TEXTURE_3D, static_cast<GLuint>(bound));
  Debug::_CheckGLError("RELEASE", __LINE__);
  return bytes;
}

}  // namespace

long long ReportFieldMemory(const PassTable& table, const std::string& owner, LightField& l) {
  long long total = 0;
  int count = 0;
  for (const ResourceSpec& r : table.Resources) {
    if (r.Life != Lifetime::Field) continue;
    const bool pair = r.FieldOther != nullptr || r.Paired;
    for (int other = 0; other < (pair ? 2 : 1); ++other) {
      Texbit* t = other == 0 ? FieldNow(r, l) : FieldOther(r, l);
      if (t == nullptr) continue;
      int levels = 0;
      const long long bytes = GLBytes(t, levels);
      std::cout << owner << ": " << r.Name << (pair ? (other == 0 ? " (1 of 2)" : " (2 of 2)") : "") << " " << t->Width
                << "x" << t->Height << "x" << t->Depth << ", " << levels << (levels == 1 ? " level, " : " levels, ")
                << bytes << " bytes" << std::endl;
      total += bytes;
      ++count;
    }
  }
  std::ostringstream mib;
  mib << std::fixed << std::setprecision(1) << static_cast<double>(total) / 1048576.0;
  std::cout << owner << ": " << count << " volumes, " << total << " bytes in all (" << mib.str() << " MiB)"
            << std::endl;
  return total;
}

void ReleaseFieldVolumes(const PassTable& table, LightField& l) {
  for (const ResourceSpec& r : table.Resources) {
    if (r.Life != Lifetime::Field) continue;
    for (Texbit** volume : {&FieldNow(r, l), &FieldOther(r, l)}) {
      delete *volume;
      *volume = nullptr;
    }
  }
  l.VolumesByName.clear();
  l.State = LightFieldState();
}

}  // namespace KestorEngine
