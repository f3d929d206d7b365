#include "render/RenderTextureGuy.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>

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

// A stand-in scoring this or worse is no stand-in at all.
constexpr int64_t worstAcceptableScore = 1000000;

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
    // Even sweeping every unused texture would not make room: lend the
    // closest unused one as it is.
    int best = -1;
    int64_t bestScore = worstAcceptableScore;
    for (size_t i = 0; i < Cache.size(); ++i) {
      if (CacheUsed[i]) continue;
      const RenderTexture* t = Cache[i];
      int64_t score = static_cast<int64_t>(t->Width - w) * (t->Height - h) *
                      FormatGolfScore(t->Format, format);
      if (t->Width < w || t->Height < h) score *= 2;
      score = score < 0 ? -score : score;
      if (score < bestScore) {
        bestScore = score;
        best = static_cast<int>(i);
      }
    }
    if (best < 0) {
      std::cout << "Oh noooooo!" << std::endl;
      return nullptr;
    }
    CacheUsed[best] = true;
    moveItemToFront(best);
    std::cout << "Oh jesus!" << std::endl;
    return Cache[best];
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

void RenderTextureGuy::DeleteFrameBuffers() {}

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
