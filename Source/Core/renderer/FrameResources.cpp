#include "renderer/FrameResources.h"

#include <cstdint>
#include <iostream>

#include "render/RenderTextureGuy.h"
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

void HandBack(Texbit*& t) {
  if (t != nullptr) RenderTextureGuy::Done(static_cast<RenderTexture*>(t));
  t = nullptr;
}

// Kept textures are the renderer's own, not the pool's: made directly and
// deleted when their size no longer fits.
bool MakeKept(const ResourceSpec& r, Texbit*& t, glm::ivec3 size) {
  if (Fits(t, size)) return true;
  delete t;
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
  Texbit*& now = c.*r.Slot;
  Texbit*& other = c.*r.Other;
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
    case SizeRule::Fixed: return r.FixedSize;
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

Texbit* CameraTexture(const ResourceSpec& r, const CameraTargets& t) { return r.Slot != nullptr ? t.*r.Slot : nullptr; }

bool AcquireCameraTargets(const PassTable& table, const std::set<std::string>& names, CameraTargets& t,
                          const TargetSizes& sizes, std::set<std::string>& refused) {
  bool madeHistory = false;
  bool whole = true;
  for (const ResourceSpec& r : table.Resources) {
    if (r.Slot == nullptr || names.count(r.Name) == 0) continue;
    const glm::ivec3 size = ResourceSize(r, sizes);
    bool got = true;
    if (r.Life == Lifetime::Kept) {
      got = MakeKept(r, t.*r.Slot, size);
    } else if (r.Life == Lifetime::History) {
      got = MakeHistory(r, t, size, madeHistory);
    } else if (r.Life == Lifetime::Frame) {
      t.*r.Slot = RenderTextureGuy::GrabTex(size.x, size.y, r.Format, r.Mipmaps);
      got = t.*r.Slot != nullptr;
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
    if (r.Slot != nullptr && r.Life == Lifetime::Frame) HandBack(t.*r.Slot);
  }
}

void SwapHistory(const ResourceSpec& r, CameraTargets& t) {
  if (r.Slot != nullptr && r.Other != nullptr) std::swap(t.*r.Slot, t.*r.Other);
}

void MakeFieldVolumes(const PassTable& table, LightField& l, glm::ivec3 voxels) {
  for (const ResourceSpec& r : table.Resources) {
    if (r.FieldSlot == nullptr) continue;
    const glm::ivec3 size = ResourceSize(r, TargetSizes(), voxels);
    for (Texbit* LightField::*slot : {r.FieldSlot, r.FieldOther}) {
      if (slot == nullptr) continue;
      auto* v = new RenderTexture(size.x, size.y, r.Format);
      v->Depth = size.z;
      v->Mipmaps = r.Mipmaps;
      v->FilterMode = r.Filter;
      v->ToGPU();
      l.*slot = v;
    }
  }
  // The first injection blends into these: they start from no light.
  for (const ResourceSpec& r : table.Resources) {
    if (r.FieldSlot == nullptr || !r.ClearWhenMade) continue;
    for (Texbit* LightField::*slot : {r.FieldSlot, r.FieldOther}) {
      if (slot != nullptr) ClearLevelZero(l.*slot);
    }
  }
}

}  // namespace KestorEngine
