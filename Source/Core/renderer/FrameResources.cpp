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
    if (r.Life != Lifetime::Field) continue;
    make(r, FieldNow(r, l));
    if (r.FieldOther != nullptr || r.Paired) make(r, FieldOther(r, l));
  }
  // The first injection blends into these: they start from no light.
  for (const ResourceSpec& r : table.Resources) {
    if (r.Life != Lifetime::Field || !r.ClearWhenMade) continue;
    ClearLevelZero(FieldNow(r, l));
    if (r.FieldOther != nullptr || r.Paired) ClearLevelZero(FieldOther(r, l));
  }
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
