#include "render/FrameBuffer.h"

#include <algorithm>
#include <iostream>

#include "engine/Debug.h"
#include "engine/Shutter.h"
#include "sanegl/GL.h"

namespace KestorEngine {

#define CHECK_GL() Debug::_CheckGLError("RELEASE", __LINE__)

// The registries below are never destroyed: textures held by other statics
// (component arrays, through materials) die during process exit, after any
// registry of ours would have, and report to them from their destructors.
FrameBuffer* FrameBuffer::ActiveFrameBuffer = nullptr;
std::vector<RenderTexture*>& FrameBuffer::ActiveFrameBufferTextures = *new std::vector<RenderTexture*>();
std::deque<FrameBuffer*>& FrameBuffer::ActiveFrameBufferStack = *new std::deque<FrameBuffer*>();
std::deque<std::vector<RenderTexture*>>& FrameBuffer::ActiveFrameBufferTexturesStack =
    *new std::deque<std::vector<RenderTexture*>>();
int FrameBuffer::MaxAssignedRenderTextures = 8;
FrameBuffer::PassDetails& FrameBuffer::activePass = *new FrameBuffer::PassDetails();
std::deque<FrameBuffer::PassDetails>& FrameBuffer::passStack = *new std::deque<FrameBuffer::PassDetails>();

namespace {

// Every live FrameBuffer, so that a dying texture can be detached from all.
std::vector<FrameBuffer*>& LiveFrameBuffers() {
  static auto* live = new std::vector<FrameBuffer*>();
  return *live;
}

const char* IncompleteStatusName(GLenum status) {
  switch (status) {
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT: return "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT";
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
      return "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT";
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER: return "GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER";
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER: return "GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER";
    case GL_FRAMEBUFFER_UNSUPPORTED: return "GL_FRAMEBUFFER_UNSUPPORTED";
    case GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE: return "GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE";
    case GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS:
      return "GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS";
    default: return nullptr;
  }
}

bool HasStencil(TextureFormats format) {
  return format == TextureFormats::Depth24Stencil8 || format == TextureFormats::Depth32FStencil8;
}

struct PresentTargets {
  std::vector<RenderTexture*> textures;
  std::vector<int> layers;
  std::vector<int> mips;
  bool perLayer = false;
};

// A null entry (a pool request that got nothing) is dropped with its layer
// and mip so the rest of the pass still lines up.
PresentTargets DropMissingTargets(const std::string& name,
                                  const std::vector<RenderTexture*>& requested,
                                  const std::vector<int>& requestedLayers,
                                  const std::vector<int>& requestedMips) {
  PresentTargets present;
  present.perLayer = !requested.empty() && requestedLayers.size() == requested.size();
  for (size_t i = 0; i < requested.size(); ++i) {
    if (requested[i] == nullptr) {
      std::cout << "FrameBuffer " << name << ": render target " << i << " is missing, skipped"
                << std::endl;
      continue;
    }
    present.textures.push_back(requested[i]);
    if (present.perLayer) present.layers.push_back(requestedLayers[i]);
    if (i < requestedMips.size()) present.mips.push_back(requestedMips[i]);
  }
  if (!present.perLayer) present.layers = requestedLayers;
  return present;
}

void PrepareForWriting(RenderTexture* t) {
  // Only a texture with storage can be attached.
  if (!t->StorageMade) t->ToGPU();
  // Never sample a texture while it is written: take it off its unit.
  if (t->CurrentBind >= 0) {
    glActiveTexture(Texbit::GetBindEnum(t->CurrentBind));
    CHECK_GL();
    glBindTexture(t->Target(), 0);
    CHECK_GL();
    Texbit::RemoveBind(t);
  }
}

// Reported, not fatal: draws into it fail with a GL error of their own.
void ReportIncomplete(const std::string& name) {
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  CHECK_GL();
  if (const char* statusName = IncompleteStatusName(status)) {
    std::cout << "GL_" << statusName << " - " << name << std::endl;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

FrameBuffer::FrameBuffer() : FrameBuffer(false, nullptr) {}

FrameBuffer::FrameBuffer(bool hasDepth) : FrameBuffer(hasDepth, nullptr) {}

FrameBuffer::FrameBuffer(bool hasDepth, DepthTexture* d)
    : FBO(SaneGL::Framebuffer::Create()), HasDepth(hasDepth), DepthTex(hasDepth ? d : nullptr) {
  GLint maxDrawBuffers = 0;
  glGetIntegerv(GL_MAX_DRAW_BUFFERS, &maxDrawBuffers);
  CHECK_GL();
  if (maxDrawBuffers > 0) MaxAssignedRenderTextures = maxDrawBuffers;
  LiveFrameBuffers().push_back(this);
}

FrameBuffer::~FrameBuffer() {
  auto& live = LiveFrameBuffers();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  // As with a destroyed texture: no restore may bring back a dead target.
  if (std::find(ActiveFrameBufferStack.begin(), ActiveFrameBufferStack.end(), this) !=
      ActiveFrameBufferStack.end()) {
    ClearSavedStates();
  }
  if (ActiveFrameBuffer == this) ClearRenderTargets();
}

// ---------------------------------------------------------------------------
// Activation

unsigned FrameBuffer::ActivateRenderTargetsGeneric(int w, int h,
                                                   const std::vector<RenderTexture*>& requested,
                                                   const std::vector<int>& requestedLayers,
                                                   const std::vector<int>& requestedMips,
                                                   int samples) {
  const PresentTargets pass = DropMissingTargets(Name, requested, requestedLayers, requestedMips);
  ActiveFrameBuffer = this;
  ActiveFrameBufferTextures = pass.textures;
  activePass = PassDetails{pass.layers, pass.mips, w, h, samples, HasDepth, DepthTex};

  // The viewport goes through the state layer too, so its mirror stays true.
  SaneGL::BindFramebuffer(FBO);
  SaneGL::Viewport(0, 0, w, h);
  SaneGL::StateSync();

  unsigned result = GL_COLOR_ATTACHMENT0;
  if (pass.textures.empty()) {
    SetUpAttachmentless(w, h, samples);
  } else {
    result = AttachColourTargets(pass.textures, pass.layers, pass.mips, pass.perLayer);
  }
  ReportIncomplete(Name);
  return result;
}

void FrameBuffer::SetUpAttachmentless(int w, int h, int samples) {
  FBO.DrawBuffers({});
  // A depth-only pass (a shadow map) draws into its depth texture alone.
  if (HasDepth) AttachDepth();
  FBO.FramebufferParameter(SaneGL::FramebufferParameters::DefaultWidth, w);
  FBO.FramebufferParameter(SaneGL::FramebufferParameters::DefaultHeight, h);
  FBO.FramebufferParameter(SaneGL::FramebufferParameters::DefaultSamples, samples);
}

unsigned FrameBuffer::AttachColourTargets(const std::vector<RenderTexture*>& textures,
                                          const std::vector<int>& layers,
                                          const std::vector<int>& mips, bool perLayer) {
  std::vector<unsigned> drawBuffers;
  for (size_t i = 0; i < textures.size(); ++i) {
    RenderTexture* t = textures[i];
    PrepareForWriting(t);
    const int mip = i < mips.size() ? mips[i] : 0;
    Width = t->Width >> mip;
    Height = t->Height >> mip;
    Is3D = layers.empty() && t->Depth > 0;

    const int layer = perLayer ? layers[i] : -1;
    auto found = std::find(Targets.begin(), Targets.end(), t);
    int slot;
    if (found != Targets.end()) {
      slot = static_cast<int>(found - Targets.begin());
      ReattachIfChanged(slot, t, mip, layer, perLayer || i < mips.size());
    } else {
      slot = AttachNewTarget(t, mip, layer);
    }
    drawBuffers.push_back(static_cast<unsigned>(slot));
  }
  AttachDepth();
  const unsigned result = GetAttachmentEnum(static_cast<int>(drawBuffers.front()));
  FBO.DrawBuffers(drawBuffers);
  return result;
}

void FrameBuffer::ReattachIfChanged(int slot, RenderTexture* t, int mip, int layer, bool mipGiven) {
  // Without explicit layers or mips the slot stays as attached; an explicit
  // choice that differs is attached anew.
  const SlotAttachment wanted{mipGiven ? mip : slots[slot].level, layer};
  if (wanted.level != slots[slot].level || wanted.layer != slots[slot].layer) {
    Attach(slot, t, wanted.level, wanted.layer);
  }
}

int FrameBuffer::AttachNewTarget(RenderTexture* t, int mip, int layer) {
  const int slot = ClaimSlot(t);
  std::cout << "ASSSIGNED TEXTUE!!!!" << std::endl;
  std::cout << "ASSSIGNED TEXTUE!!!!" << std::endl;
  std::cout << "ASSSIGNED TEXTUE!!!!" << std::endl;
  std::cout << static_cast<const void*>(t) << std::endl;
  Attach(slot, t, mip, layer);
  return slot;
}

int FrameBuffer::ClaimSlot(RenderTexture* t) {
  auto hole = std::find(Targets.begin(), Targets.end(), nullptr);
  if (hole != Targets.end()) {
    *hole = t;
    return static_cast<int>(hole - Targets.begin());
  }
  if (static_cast<int>(Targets.size()) >= MaxAssignedRenderTextures) {
    std::cout << "Too many Render Textures assigned to this Framebuffer aaah!" << std::endl;
  }
  Targets.push_back(t);
  slots.emplace_back();
  return static_cast<int>(Targets.size()) - 1;
}

void FrameBuffer::Attach(int slot, RenderTexture* t, int level, int layer) {
  if (layer >= 0) {
    FBO.BindTextureLayer(slot, static_cast<int>(t->ID), level, layer);
  } else {
    // The state layer skips re-attaching the texture a slot already holds,
    // whatever the level: clear the slot first to move it to another level.
    const SaneGL::FramebufferState* state = FBO.Use();
    if (state != nullptr && state->colorAttachments[slot] == static_cast<int>(t->ID)) {
      FBO.BindTexture(slot, 0, 0);
    }
    FBO.BindTexture(slot, static_cast<int>(t->ID), level);
  }
  slots[slot] = {level, layer};
}

void FrameBuffer::AttachDepth() {
  using SaneGL::Attachment;
  if (!HasDepth || DepthTex == nullptr) {
    FBO.BindTexture(Attachment::DepthAttachment, 0, 0);
    FBO.BindTexture(Attachment::StencilAttachment, 0, 0);
    return;
  }
  if (!DepthTex->StorageMade) DepthTex->ToGPU();
  const int id = static_cast<int>(DepthTex->ID);
  // A previous depth texture's stencil (or depth) must not linger beside it.
  if (DepthTex->Format == TextureFormats::Stencil8) {
    FBO.BindTexture(Attachment::DepthAttachment, 0, 0);
    FBO.BindTexture(Attachment::StencilAttachment, id, 0);
  } else {
    FBO.BindTexture(Attachment::DepthAttachment, id, 0);
    FBO.BindTexture(Attachment::StencilAttachment, HasStencil(DepthTex->Format) ? id : 0, 0);
  }
}

unsigned FrameBuffer::ActivateRenderTargets(const std::vector<RenderTexture*>& textures) {
  return ActivateRenderTargets(textures, {});
}

unsigned FrameBuffer::ActivateRenderTargets(const std::vector<RenderTexture*>& textures,
                                            const std::vector<int>& mips) {
  return Activate3DRenderTargets(textures, {}, mips);
}

unsigned FrameBuffer::Activate3DRenderTargets(const std::vector<RenderTexture*>& textures,
                                              const std::vector<int>& layers) {
  return Activate3DRenderTargets(textures, layers, {});
}

unsigned FrameBuffer::Activate3DRenderTargets(const std::vector<RenderTexture*>& textures,
                                              const std::vector<int>& layers,
                                              const std::vector<int>& mips) {
  // The viewport covers the first texture at the level drawn into.
  int w = Width, h = Height;
  if (!textures.empty() && textures.front() != nullptr) {
    const int mip = mips.empty() ? 0 : mips.front();
    w = textures.front()->Width >> mip;
    h = textures.front()->Height >> mip;
  }
  return ActivateRenderTargetsGeneric(w, h, textures, layers, mips, 0);
}

void FrameBuffer::ActivateRenderTarget(RenderTexture* t, bool setReadBuffer) {
  const unsigned attachment = ActivateRenderTargets({t});
  if (setReadBuffer) {
    glReadBuffer(attachment);
    CHECK_GL();
  }
}

void FrameBuffer::ActivateEmpty(int w, int h) { ActivateEmpty(w, h, 0); }

void FrameBuffer::ActivateEmpty(int w, int h, int samples) {
  ActivateRenderTargetsGeneric(w, h, {}, {}, {}, samples);
}

// ---------------------------------------------------------------------------
// The current pass and its save stack

void FrameBuffer::SaveState() {
  ActiveFrameBufferStack.push_back(ActiveFrameBuffer);
  ActiveFrameBufferTexturesStack.push_back(ActiveFrameBufferTextures);
  passStack.push_back(activePass);
}

void FrameBuffer::RestoreState() {
  if (ActiveFrameBufferStack.empty() || ActiveFrameBufferTexturesStack.empty() || passStack.empty()) {
    // Emptied by a destroyed target: the window is the only safe place.
    ClearSavedStates();
    ClearRenderTargets();
    return;
  }
  FrameBuffer* saved = ActiveFrameBufferStack.back();
  const std::vector<RenderTexture*> textures = ActiveFrameBufferTexturesStack.back();
  const PassDetails pass = passStack.back();
  ActiveFrameBufferStack.pop_back();
  ActiveFrameBufferTexturesStack.pop_back();
  passStack.pop_back();

  if (saved == nullptr) {
    ClearRenderTargets();
    return;
  }
  saved->HasDepth = pass.hasDepth;
  saved->DepthTex = pass.depth;
  saved->ActivateRenderTargetsGeneric(pass.width, pass.height, textures, pass.layers, pass.mips,
                                      pass.samples);
}

void FrameBuffer::ClearRenderTargets() {
  ActiveFrameBuffer = nullptr;
  ActiveFrameBufferTextures.clear();
  activePass = PassDetails{};
  SaneGL::UnbindFramebuffer();
  SaneGL::Viewport(0, 0, static_cast<int>(Shutter::Width()), static_cast<int>(Shutter::Height()));
  SaneGL::StateSync();
}

void FrameBuffer::ForgetPasses() {
  ActiveFrameBuffer = nullptr;
  ActiveFrameBufferTextures.clear();
  activePass = PassDetails{};
  ClearSavedStates();
}

void FrameBuffer::ClearSavedStates() {
  ActiveFrameBufferStack.clear();
  ActiveFrameBufferTexturesStack.clear();
  passStack.clear();
}

unsigned FrameBuffer::GetDrawBufferEnum(int i) {
  if (i >= 1 && i <= 15) return GL_COLOR_ATTACHMENT0 + i;
  return GL_COLOR_ATTACHMENT0;
}

unsigned FrameBuffer::GetAttachmentEnum(int i) { return GetDrawBufferEnum(i); }

RenderTexture* FrameBuffer::FirstTarget() const {
  for (RenderTexture* t : Targets) {
    if (t != nullptr) return t;
  }
  return nullptr;
}

int FrameBuffer::CarriedCount() const {
  return static_cast<int>(std::count_if(Targets.begin(), Targets.end(),
                                        [](const RenderTexture* t) { return t != nullptr; }));
}

void FrameBuffer::DropTarget(std::vector<RenderTexture*>& textures, PassDetails& pass, const Texbit* t) {
  for (size_t i = textures.size(); i-- > 0;) {
    if (textures[i] != t) continue;
    textures.erase(textures.begin() + i);
    if (pass.layers.size() > i) pass.layers.erase(pass.layers.begin() + i);
    if (pass.mips.size() > i) pass.mips.erase(pass.mips.begin() + i);
  }
  if (pass.depth == t) pass.depth = nullptr;
}

void FrameBuffer::ForgetTexture(const Texbit* t) {
  // Saved passes lose only this target: a restore brings back the rest.
  const size_t saved = std::min(ActiveFrameBufferTexturesStack.size(), passStack.size());
  for (size_t k = 0; k < saved; ++k) DropTarget(ActiveFrameBufferTexturesStack[k], passStack[k], t);
  DropTarget(ActiveFrameBufferTextures, activePass, t);

  // Detach it everywhere: GL keeps a deleted texture's storage alive for as
  // long as any framebuffer still holds it.
  bool detached = false;
  for (FrameBuffer* framebuffer : LiveFrameBuffers()) {
    for (size_t slot = 0; slot < framebuffer->Targets.size(); ++slot) {
      if (framebuffer->Targets[slot] != t) continue;
      framebuffer->Targets[slot] = nullptr;
      framebuffer->slots[slot] = SlotAttachment{};
      framebuffer->FBO.BindTexture(static_cast<int>(slot), 0, 0);
      detached = true;
    }
    if (framebuffer->DepthTex == t) {
      framebuffer->DepthTex = nullptr;
      framebuffer->FBO.BindTexture(SaneGL::Attachment::DepthAttachment, 0, 0);
      framebuffer->FBO.BindTexture(SaneGL::Attachment::StencilAttachment, 0, 0);
      detached = true;
    }
  }
  // Detaching binds each framebuffer in turn; clears (which sync no
  // framebuffer) must still reach the current pass.
  if (detached) SaneGL::StateSyncFramebuffer();
}

}  // namespace KestorEngine
