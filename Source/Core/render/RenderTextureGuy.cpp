#include "render/RenderTextureGuy.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "engine/Debug.h"
#include "render/FrameBuffer.h"

namespace KestorEngine {

std::vector<RenderTexture*> RenderTextureGuy::Cache;
std::vector<bool> RenderTextureGuy::CacheUsed;
std::vector<int> RenderTextureGuy::CacheAccessOrder;
int RenderTextureGuy::CurrentRamUsage = 0;
int RenderTextureGuy::MaximumRamUsage = 10200;
int RenderTextureGuy::SweepHeadroom = 200;
std::vector<FrameBuffer*> RenderTextureGuy::TheViewer;
FrameBuffer* RenderTextureGuy::genericDude = nullptr;

namespace {

struct ChannelsAndBits {
  int channels;
  int bits;
};

ChannelsAndBits Describe(TextureFormats format) {
  switch (format) {
    case TextureFormats::R8: return {1, 8};
    case TextureFormats::RG8: return {2, 8};
    case TextureFormats::RGB8: return {3, 8};
    case TextureFormats::RGBA8: return {4, 8};
    case TextureFormats::RGB10A2: return {4, 10};
    case TextureFormats::RGBA16F: return {4, 16};
    case TextureFormats::RG16F: return {2, 16};
    case TextureFormats::RGB16F: return {3, 16};
    case TextureFormats::RGBA32F: return {4, 32};
    default: return {4, 8};
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Textures

RenderTexture* RenderTextureGuy::GrabTex(int w, int h, TextureFormats format) {
  return GrabTex(w, h, format, false, 0);
}

RenderTexture* RenderTextureGuy::GrabTex(int w, int h, TextureFormats format, bool mipmaps) {
  return GrabTex(w, h, format, mipmaps, 0);
}

RenderTexture* RenderTextureGuy::GrabTex(int w, int h, TextureFormats format, int samples) {
  return GrabTex(w, h, format, false, samples);
}

RenderTexture* RenderTextureGuy::GrabTex(int w, int h, TextureFormats format, bool mipmaps,
                                         int samples) {
  if (w <= 0 || h <= 0) {
    std::cout << "RenderTextureGuy: cannot make a " << w << "x" << h << " texture" << std::endl;
    return nullptr;
  }
  for (size_t i = 0; i < Cache.size(); ++i) {
    RenderTexture* t = Cache[i];
    if (!CacheUsed[i] && t->Width == w && t->Height == h && t->Format == format &&
        t->Mipmaps == mipmaps && t->Samples == samples) {
      CacheUsed[i] = true;
      moveItemToFront(static_cast<int>(i));
      return t;
    }
  }

  const int size = Texbit::CalcSize(w, h, format, mipmaps);
  if (CurrentRamUsage + size <= MaximumRamUsage) {
    RenderTexture* t = Create(w, h, format, mipmaps, samples);
    std::cout << "Creation!" << std::endl;
    std::cout << "Usage:" << CurrentRamUsage << std::endl;
    t->ToGPU();
    return t;
  }
  if (Cache.empty()) {
    std::cout << "Oh noooooo!" << std::endl;
    return nullptr;
  }

  int freeMiB = 0;
  for (size_t i = 0; i < Cache.size(); ++i) {
    if (!CacheUsed[i]) freeMiB += Cache[i]->GetRamUsageGPU();
  }
  if (freeMiB + (MaximumRamUsage - CurrentRamUsage) < size) {
    // Even sweeping every unused texture would not make room. A texture of
    // another size or format would be drawn into and sampled as if it were
    // the one asked for: refuse, and let the caller skip its pass.
    std::cout << "RenderTextureGuy: no room for a " << w << "x" << h << " texture of format "
              << static_cast<int>(format) << " (" << size << " MiB; " << CurrentRamUsage << " of "
              << MaximumRamUsage << " MiB in use, " << freeMiB << " MiB unused), refused" << std::endl;
    return nullptr;
  }

  // Sweep least recently handed out first. Room is guaranteed by the check
  // above, so the new texture fits the budget even when the headroom cannot
  // be reached.
  while (CurrentRamUsage + size >= MaximumRamUsage - SweepHeadroom) {
    auto victim = std::find_if(CacheAccessOrder.begin(), CacheAccessOrder.end(),
                               [](int index) { return !CacheUsed[index]; });
    if (victim == CacheAccessOrder.end()) break;
    std::cout << "Sweeping Scene" << std::endl;
    DestroyAt(*victim);
  }
  RenderTexture* t = Create(w, h, format, mipmaps, samples);
  std::cout << "Dust to Dust!" << std::endl;
  t->ToGPU();
  return t;
}

RenderTexture* RenderTextureGuy::Create(int w, int h, TextureFormats format, bool mipmaps,
                                        int samples) {
  auto* t = new RenderTexture(w, h, format);
  t->Samples = samples;
  if (mipmaps) {
    t->Mipmaps = true;
    t->FilterMode = 2;
  }
  CurrentRamUsage += Texbit::CalcSize(w, h, format, mipmaps);
  Cache.push_back(t);
  CacheUsed.push_back(true);
  CacheAccessOrder.push_back(static_cast<int>(Cache.size()) - 1);
  return t;
}

// Deletes the texture at `index` and closes the gap in every list.
void RenderTextureGuy::DestroyAt(int index) {
  RenderTexture* t = Cache[index];
  const int usage = t->GetRamUsageGPU();
  delete t;
  Cache.erase(Cache.begin() + index);
  CacheUsed.erase(CacheUsed.begin() + index);
  CacheAccessOrder.erase(std::find(CacheAccessOrder.begin(), CacheAccessOrder.end(), index));
  for (int& entry : CacheAccessOrder) {
    if (entry > index) --entry;
  }
  CurrentRamUsage -= usage;
}

void RenderTextureGuy::moveItemToFront(int index) {
  auto found = std::find(CacheAccessOrder.begin(), CacheAccessOrder.end(), index);
  if (found == CacheAccessOrder.end()) {
    // The order holds every index of the cache; losing one means the pool's
    // bookkeeping is broken beyond repair.
    std::cout << "RenderTextureGuy: texture " << index << " is missing from the access order"
              << std::endl;
    std::exit(17);
  }
  CacheAccessOrder.erase(found);
  CacheAccessOrder.push_back(index);
}

void RenderTextureGuy::Done(RenderTexture* t) {
  auto found = std::find(Cache.begin(), Cache.end(), t);
  if (found == Cache.end()) return;
  CacheUsed[found - Cache.begin()] = false;
  // A texture handed back must never upload someone's stale data again.
  t->Data = nullptr;
  t->PixelBuffer = nullptr;
}

std::string RenderTextureGuy::Deinitialize() {
  for (RenderTexture* t : Cache) {
    CurrentRamUsage -= t->GetRamUsageGPU();
    delete t;
  }
  Cache.clear();
  CacheUsed.clear();
  CacheAccessOrder.clear();
  DeleteFrameBuffers();
  if (CurrentRamUsage != 0) {
    std::cout << "Render Texture Guy - There's been a leak! Aaaahhh " << CurrentRamUsage << "Mbmbmb"
              << std::endl;
  }
  CurrentRamUsage = 0;
  return "";
}

void RenderTextureGuy::ForceClear() {
  for (size_t i = 0; i < Cache.size(); ++i) {
    if (CacheUsed[i]) continue;
    CurrentRamUsage -= Cache[i]->GetRamUsageGPU();
    delete Cache[i];
  }
  Cache.clear();
  CacheUsed.clear();
  CacheAccessOrder.clear();
  DeleteFrameBuffers();
  FrameBuffer::ForgetPasses();
}

void RenderTextureGuy::DeleteFrameBuffers() {
  for (FrameBuffer* framebuffer : TheViewer) delete framebuffer;
  TheViewer.clear();
  delete genericDude;
  genericDude = nullptr;
}

// ---------------------------------------------------------------------------
// Passes

void RenderTextureGuy::UseTex(RenderTexture* t) {
  FrameBuffer::SaveState();
  if (t == nullptr) {
    std::cout << "RenderTextureGuy: no texture to render into, the targets stay as they were"
              << std::endl;
    return;
  }
  for (FrameBuffer* framebuffer : TheViewer) {
    const RenderTexture* first = framebuffer->FirstTarget();
    const bool carries = std::find(framebuffer->Targets.begin(), framebuffer->Targets.end(), t) !=
                         framebuffer->Targets.end();
    const bool room = carries || framebuffer->CarriedCount() < FrameBuffer::MaxAssignedRenderTextures;
    const bool fits = first == nullptr || (first->Width == t->Width && first->Height == t->Height &&
                                           first->Samples == t->Samples);
    if (room && fits) {
      // A single-texture pass has no depth; one left by an earlier pass
      // would test against unrelated depths.
      framebuffer->HasDepth = false;
      framebuffer->DepthTex = nullptr;
      framebuffer->ActivateRenderTarget(t, true);
      return;
    }
  }
  std::cout << "New Framebuffer!" << std::endl;
  auto* framebuffer = new FrameBuffer();
  Debug::_CheckGLError("RELEASE", __LINE__);
  framebuffer->ActivateRenderTarget(t, true);
  TheViewer.push_back(framebuffer);
}

void RenderTextureGuy::UseTexs(const std::vector<RenderTexture*>& textures,
                               const std::vector<int>& layers, const std::vector<int>& mips,
                               DepthTexture* depth) {
  FrameBuffer::SaveState();
  if (textures.empty() || textures.front() == nullptr) {
    std::cout << "RenderTextureGuy: no texture to render into, the targets stay as they were"
              << std::endl;
    return;
  }
  const RenderTexture* first = textures.front();
  const int mip = mips.empty() ? 0 : mips.front();
  const bool is3D = layers.empty() && first->Depth > 0;

  FrameBuffer* chosen = nullptr;
  for (FrameBuffer* framebuffer : TheViewer) {
    const RenderTexture* carried = framebuffer->FirstTarget();
    const bool fits = carried == nullptr ||
                      (framebuffer->Is3D == is3D && framebuffer->Width == (first->Width >> mip) &&
                       framebuffer->Height == (first->Height >> mip) &&
                       carried->Samples == first->Samples);
    bool carriesAll = true;
    for (RenderTexture* t : textures) {
      carriesAll = carriesAll && std::find(framebuffer->Targets.begin(), framebuffer->Targets.end(),
                                           t) != framebuffer->Targets.end();
    }
    const bool room = framebuffer->CarriedCount() + static_cast<int>(textures.size()) <=
                          FrameBuffer::MaxAssignedRenderTextures ||
                      carriesAll;
    if (fits && room) {
      chosen = framebuffer;
      chosen->HasDepth = depth != nullptr;
      chosen->DepthTex = depth;
      break;
    }
  }
  const bool created = chosen == nullptr;
  if (created) {
    std::cout << "New Framebuffer!" << std::endl;
    chosen = new FrameBuffer(depth != nullptr, depth);
    Debug::_CheckGLError("RELEASE", __LINE__);
  }
  if (layers.empty()) {
    chosen->ActivateRenderTargets(textures, mips);
  } else {
    chosen->Activate3DRenderTargets(textures, layers, mips);
  }
  if (created) TheViewer.push_back(chosen);
}

void RenderTextureGuy::UseTexs(const std::vector<RenderTexture*>& textures) {
  UseTexs(textures, {}, {}, nullptr);
}

void RenderTextureGuy::UseTexs(const std::vector<RenderTexture*>& textures, DepthTexture* depth) {
  UseTexs(textures, {}, {}, depth);
}

void RenderTextureGuy::UseTexs(const std::vector<RenderTexture*>& textures,
                               const std::vector<int>& layers, DepthTexture* depth) {
  UseTexs(textures, layers, {}, depth);
}

void RenderTextureGuy::UseTex(int w, int h) { UseTex(w, h, 0); }

void RenderTextureGuy::UseTex(int w, int h, int samples) {
  FrameBuffer::SaveState();
  if (genericDude == nullptr) genericDude = new FrameBuffer();
  genericDude->ActivateEmpty(w, h, samples);
}

void RenderTextureGuy::UseTexDone() { FrameBuffer::RestoreState(); }

int RenderTextureGuy::FormatGolfScore(TextureFormats candidate, TextureFormats requested) {
  const ChannelsAndBits c = Describe(candidate);
  const ChannelsAndBits r = Describe(requested);
  if (c.channels == r.channels) {
    if (c.bits == r.bits) return 1;
    return c.bits < r.bits ? 2 : 3;
  }
  if (c.bits < r.bits) return 4;
  if (c.bits > r.bits) return 5;
  return 6;
}

}  // namespace KestorEngine
