#pragma once
// The pool of intermediate render targets and of the framebuffers that draw
// into them. Passes grab a texture, render into it between UseTex/UseTexs and
// UseTexDone, and hand it back with Done; identical requests then reuse it,
// so after the first frames nothing is allocated. A budget in MiB bounds the
// pool: unused textures are swept least recently handed out first; when even
// that cannot make room the request is refused.
#include <string>
#include <vector>

#include "render/Texbit.h"

namespace KestorEngine {

class FrameBuffer;

class RenderTextureGuy {
 public:
  // A texture of exactly these parameters, or null (reported) when the
  // budget cannot hold it. Callers must cope with null.
  static RenderTexture* GrabTex(int w, int h, TextureFormats format, bool mipmaps, int samples);
  static RenderTexture* GrabTex(int w, int h, TextureFormats format);
  static RenderTexture* GrabTex(int w, int h, TextureFormats format, bool mipmaps);
  static RenderTexture* GrabTex(int w, int h, TextureFormats format, int samples);
  // Hands `t` back; it keeps its GPU storage for the next identical request.
  static void Done(RenderTexture* t);

  // Save the current targets and render into `textures` (at least one),
  // into the given layers of 3D textures and mip levels, with an optional
  // depth texture. Each must be closed by one UseTexDone; passes nest.
  static void UseTexs(const std::vector<RenderTexture*>& textures, const std::vector<int>& layers,
                      const std::vector<int>& mips, DepthTexture* depth);
  static void UseTexs(const std::vector<RenderTexture*>& textures);
  static void UseTexs(const std::vector<RenderTexture*>& textures, DepthTexture* depth);
  static void UseTexs(const std::vector<RenderTexture*>& textures, const std::vector<int>& layers,
                      DepthTexture* depth);
  static void UseTex(RenderTexture* t);
  // A pass with no attachments over a w x h area (image stores, counters).
  static void UseTex(int w, int h);
  static void UseTex(int w, int h, int samples);
  static void UseTexDone();

  // How far format `candidate` is from `requested`: 1 (same channels and
  // depth) to 6 (other channels, same depth). Lower is closer.
  static int FormatGolfScore(TextureFormats candidate, TextureFormats requested);

  // Destroys every texture and framebuffer; reports budget left unaccounted.
  static std::string Deinitialize();
  // Destroys unused textures and every framebuffer and forgets textures still
  // handed out (they stay charged to the budget).
  static void ForceClear();

  static std::vector<RenderTexture*> Cache;
  static std::vector<bool> CacheUsed;
  // Every index of Cache once, least recently handed out first.
  static std::vector<int> CacheAccessOrder;
  static int CurrentRamUsage;  // MiB
  static int MaximumRamUsage;  // MiB
  // A sweep frees textures until this much of the budget is left over, so
  // that the next few requests do not each trigger a sweep (MiB, 200).
  static int SweepHeadroom;
  static std::vector<FrameBuffer*> TheViewer;
  static FrameBuffer* genericDude;

 private:
  static RenderTexture* Create(int w, int h, TextureFormats format, bool mipmaps, int samples);
  static void DestroyAt(int index);
  static void moveItemToFront(int index);
  static void DeleteFrameBuffers();
};

}  // namespace KestorEngine
