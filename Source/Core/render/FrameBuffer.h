#pragma once
// A GL framebuffer with the render textures attached to it, and the engine's
// notion of the current render targets with a save/restore stack for nested
// passes. Attaching is incremental: a texture keeps its colour slot in a
// framebuffer for good, so activating the same set again only re-selects the
// draw buffers. The render-texture pool owns every FrameBuffer.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "render/Texbit.h"
#include "sanegl/SaneGL.h"

namespace KestorEngine {

class FrameBuffer {
 public:
  FrameBuffer();
  explicit FrameBuffer(bool hasDepth);
  FrameBuffer(bool hasDepth, DepthTexture* d);
  ~FrameBuffer();

  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  // Makes this framebuffer current and renders into `textures` (colour slot
  // order = draw-buffer order) over a w x h viewport. `layers`, when it has
  // one entry per texture, picks one slice of each 3D texture; `mips` picks
  // levels. No textures: an attachment-less w x h target with `samples`.
  // Returns the colour attachment of the first texture.
  unsigned ActivateRenderTargetsGeneric(int w, int h, const std::vector<RenderTexture*>& textures,
                                        const std::vector<int>& layers, const std::vector<int>& mips,
                                        int samples);
  // The viewport of these is the first texture's size at its mip level.
  unsigned ActivateRenderTargets(const std::vector<RenderTexture*>& textures);
  unsigned ActivateRenderTargets(const std::vector<RenderTexture*>& textures,
                                 const std::vector<int>& mips);
  unsigned Activate3DRenderTargets(const std::vector<RenderTexture*>& textures,
                                   const std::vector<int>& layers);
  unsigned Activate3DRenderTargets(const std::vector<RenderTexture*>& textures,
                                   const std::vector<int>& layers, const std::vector<int>& mips);
  void ActivateRenderTarget(RenderTexture* t, bool setReadBuffer);
  void ActivateEmpty(int w, int h);
  void ActivateEmpty(int w, int h, int samples);

  // Save pushes the current pass; Restore re-activates the last saved one
  // exactly (targets, layers, mip levels, depth, attachment-less size) and
  // pops it. A Restore with nothing saved returns to the window.
  static void SaveState();
  static void RestoreState();
  // Renders to the window again.
  static void ClearRenderTargets();

  static unsigned GetDrawBufferEnum(int i);
  static unsigned GetAttachmentEnum(int i);

  // The first texture still attached; null when it carries none (its
  // textures were all destroyed), in which case it can serve any pass.
  RenderTexture* FirstTarget() const;
  int CarriedCount() const;

  // Texbit's destructor calls this: a dying texture is detached from every
  // framebuffer and dropped from the current pass and from every saved one
  // (with its layer and mip), so that no later restore re-attaches it.
  static void ForgetTexture(const Texbit* t);
  // Forgets the current pass and every saved one without touching GL (the
  // pool's ForceClear).
  static void ForgetPasses();

  std::string Name = "Anonymous";
  // Position = colour slot. A destroyed texture leaves a null entry, which
  // the next new texture takes.
  std::vector<RenderTexture*> Targets;
  int32_t Width = 0;
  int32_t Height = 0;
  bool Is3D = false;
  SaneGL::Framebuffer FBO;
  bool HasDepth = false;
  DepthTexture* DepthTex = nullptr;  // not owned

  // Null means the window. The registries live until the process ends
  // (never destroyed), so textures dying at exit can still report to them.
  static FrameBuffer* ActiveFrameBuffer;
  static std::vector<RenderTexture*>& ActiveFrameBufferTextures;
  static std::deque<FrameBuffer*>& ActiveFrameBufferStack;
  static std::deque<std::vector<RenderTexture*>>& ActiveFrameBufferTexturesStack;
  // Colour slots one framebuffer should carry: GL_MAX_DRAW_BUFFERS, read by
  // every constructor.
  static int MaxAssignedRenderTextures;

 private:
  // What besides the framebuffer and its textures a pass needs to be
  // re-activated exactly.
  struct PassDetails {
    std::vector<int> layers;
    std::vector<int> mips;
    int width = 0;
    int height = 0;
    int samples = 0;
    bool hasDepth = false;
    DepthTexture* depth = nullptr;
  };
  static PassDetails& activePass;
  static std::deque<PassDetails>& passStack;

  // How each colour slot is attached now: mip level, and the layer or -1 for
  // the whole (layered) texture.
  struct SlotAttachment {
    int level = 0;
    int layer = -1;
  };

  static void DropTarget(std::vector<RenderTexture*>& textures, PassDetails& pass, const Texbit* t);
  void SetUpAttachmentless(int w, int h, int samples);
  unsigned AttachColourTargets(const std::vector<RenderTexture*>& textures,
                               const std::vector<int>& layers, const std::vector<int>& mips,
                               bool perLayer);
  void ReattachIfChanged(int slot, RenderTexture* t, int mip, int layer, bool mipGiven);
  int AttachNewTarget(RenderTexture* t, int mip, int layer);
  // The slot a texture left by a destroyed one, or a new slot.
  int ClaimSlot(RenderTexture* t);
  void Attach(int slot, RenderTexture* t, int level, int layer);
  void AttachDepth();
  static void ClearSavedStates();

  std::vector<SlotAttachment> slots;
};

}  // namespace KestorEngine
