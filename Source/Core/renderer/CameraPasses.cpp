// A camera's share of the frame: its uniforms and targets, and its passes
// in frame order (depth pre-pass, G-buffer or forward, the sun's shadow
// map, sparse light, lighting, emission, lightmap, motion, temporal,
// capture, present).
//
//   Drawing ........ the queue's entries, the curtain, a scene pass opened
//   Lighting inputs  the sparse samples, the light field's images
//   Camera ......... uniforms, sizes, targets: Begin and End
//   Passes ......... one function each, in frame order
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "engine/Component.h"
#include "engine/Debug.h"
#include "engine/MathChecks.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/RenderTextureGuy.h"
#include "render/Texbit.h"
#include "renderer/ComputePass.h"
#include "renderer/Curtain.h"
#include "renderer/FrameCapture.h"
#include "renderer/FramePasses.h"
#include "renderer/FrameResources.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "renderer/StaleRegions.h"
#include "renderer/SunShadow.h"
#include "renderer/TemporalFill.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "scene/Camera.h"
#include "scene/Lighting.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

// ---------------------------------------------------------------------------
// Drawing

using BufferList = std::vector<UniformBuffer*>;
using ListFor = std::function<BufferList(DrawEntry&, UniformBuffer&)>;

RenderTexture* RT(Texbit* t) { return static_cast<RenderTexture*>(t); }
DepthTexture* Depth(const PassContext& ctx) { return static_cast<DepthTexture*>(ctx.Camera->Targets->BufferDepthLayer1); }

// Material buffers may be absent (code can queue without one): such an
// entry simply draws with the values of the other buffers.
BufferList WithoutNulls(std::initializer_list<UniformBuffer*> list) {
  BufferList out;
  for (UniformBuffer* b : list) {
    if (b != nullptr) out.push_back(b);
  }
  return out;
}

// Whether the entry's material was given an albedo map: without one the
// surface shaders compile the sampling out (it would read white).
bool MapsAlbedo(const DrawEntry& e) {
  for (const UniformBuffer* b : {&std::get<6>(e), static_cast<const UniformBuffer*>(std::get<5>(e))}) {
    if (b == nullptr) continue;
    auto found = b->Uniforms.find("AlbedoMap");
    if (found != b->Uniforms.end() && found->second.Type == TypeTexture &&
        (found->second.TexturePointer != nullptr || found->second.TextureResource.Object() != nullptr)) {
      return true;
    }
  }
  return false;
}

UniformBuffer PerDraw(const DrawEntry& e) {
  UniformBuffer draw;
  draw.SetMatrix4("_LocalToWorld_Past", std::get<3>(e));
  draw.SetMatrix4("_WorldToLocal_Past", Draw::AffineInverse(std::get<3>(e)).WorldToLocal);
  draw.SetFloat("_AlbedoMapped", MapsAlbedo(e) ? 1.0f : 0.0f);
  draw.CalculateHash();
  return draw;
}

bool Emits(const DrawEntry& e) {
  if (std::get<4>(e) && std::get<4>(e)->DrawnAsError) return true;
  UniformBuffer* shared = std::get<5>(e);
  if (shared == nullptr) return false;
  auto found = shared->Uniforms.find("Strength");
  return found != shared->Uniforms.end() && found->second.Type == TypeFloat && found->second.FloatValue != 0.0f;
}

// The mesh the camera draws for an entry whose world box is [lo, hi]: its
// far mesh once the camera is that far from the box (the light field and
// the sun's map keep the full one, which their passes cache by it).
Resource<Mesh> SeenMesh(const PassContext& ctx, const DrawEntry& e, const glm::vec3& lo, const glm::vec3& hi) {
  Mesh* mesh = std::get<0>(e).Object();
  if (mesh == nullptr || mesh->FarName.empty()) return std::get<0>(e);
  const glm::vec3 eye = ctx.Camera->T->Position;
  Resource<Mesh> far = mesh->FarSeenFrom(glm::length(glm::clamp(eye, lo, hi) - eye));
  return far ? far : std::get<0>(e);
}

// Draws the camera-flagged entries `pick` chooses with `pass`; `seen`:
// as the camera sees them. A CPU rasteriser pays for every vertex it
// shades and every triangle it sets up, on screen or not: entries out of
// view are skipped (the town's houses behind and beside the camera), and
// the backs of meshes whose fronts follow their normals are hidden behind
// their fronts and are culled (not in the lightmap, whose top-down layout
// sees them all).
void DrawEntries(PassContext& ctx, const std::string& pass, bool rehash, bool seen, const ListFor& list,
                 const std::function<bool(const DrawEntry&)>& pick = nullptr) {
  for (DrawEntry& e : ctx.Frame.Queue) {
    if (!std::get<7>(e) || (pick && !pick(e)) || !std::get<4>(e)) continue;
    glm::vec3 lo, hi;
    const bool boxed = seen && EntryWorldBounds(e, lo, hi);
    if (boxed && OutsideClip(ctx.Camera->WorldToClip, lo, hi)) continue;
    if (rehash) std::get<6>(e).CalculateHash();
    Resource<Mesh> drawn = boxed ? SeenMesh(ctx, e, lo, hi) : std::get<0>(e);
    const Mesh* mesh = drawn.Object();
    SaneGL::CullFace(seen && mesh != nullptr && mesh->OneSided ? SaneGL::FaceSide::Back : SaneGL::FaceSide::None);
    UniformBuffer draw = PerDraw(e);
    BufferList buffers = list(e, draw);
    std::get<4>(e)->Use(pass, &buffers);
    if (pass != "LightmapGI") NoteProgramReads(ctx);
    Draw::DrawMesh(drawn, std::get<2>(e), std::get<1>(e));
  }
  SaneGL::CullFace(SaneGL::FaceSide::None);
}

// The curtain is a two-sided surface like any other: into the G-buffer
// (or lit forward), with culling still off from the scene pass.
void DrawCurtain(PassContext& ctx, const char* pass) {
  Resource<Mesh>* surface = CurtainSurface();
  if (surface == nullptr || !RenderSystem::particlesRender) return;
  CameraFrame& c = *ctx.Camera;
  BufferList list = {&ctx.Frame.Time, &c.View, &ctx.Frame.Field};
  RenderSystem::particlesRender->Use(pass, &list);
  Draw::DrawMesh(*surface, glm::mat4(1.0f), -1);
}

// The forward and deferred passes open alike: cleared colour targets, and
// depth kept only when the pre-pass has just written it. Neither draws a
// background; the sky comes from the clear.
void OpenScenePass(PassContext& ctx, const std::vector<RenderTexture*>& targets) {
  RenderTextureGuy::UseTexs(targets, Depth(ctx));
  SaneGL::ClearColor(glm::vec4(0.0f));
  SaneGL::ColorWrite(true, true, true, true);
  SaneGL::DepthWrite(true);
  SaneGL::CullFace(SaneGL::FaceSide::None);
  SaneGL::Clear(ctx.Wrote("BufferDepth") ? GL_COLOR_BUFFER_BIT
                                          : GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

// ---------------------------------------------------------------------------
// Lighting inputs

// Whether the lighting has the sparse pass's samples (one texel a 2 x 2
// block, bound as images); without them every pixel works its own light
// out.
UniformBuffer SparseInputs(bool ready) {
  UniformBuffer sparse;
  sparse.SetFloat("_SparseLight", ready ? 1.0f : 0.0f);
  sparse.CalculateHash();
  return sparse;
}

BufferList LightingList(PassContext& ctx, UniformBuffer& sparse) {
  CameraFrame& c = *ctx.Camera;
  return {&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &c.Surface, &ctx.Frame.Quickray, &ctx.Frame.IS, &sparse, &c.Sun};
}

// The sun's own passes over what the lighting listed: a pixel's surface,
// the light field's sun and the map; no area light, no ray.
BufferList SunList(PassContext& ctx) {
  CameraFrame& c = *ctx.Camera;
  return {&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &c.Surface, &c.Sun};
}

// The sun's shadow map is read by the lighting passes, which list the block
// samples and pixels its cheap steps cannot tell; these work them out.
bool ReadsSunShadow(const PassContext& ctx) { return ctx.Wrote("SunShadowMap"); }

// The light field's volumes as the lighting programs read them: the
// march's facings, emission and material and the indirect light as images
// (the rest as textures), the area arrays as raw uploads.
void BindFieldImages(PassContext& ctx, unsigned program) {
  LightField* first = ctx.Frame.First;
  RenderSystem::BindMarchImages(program, *first);
  BindImage(program, "img_fieldIrradiance", 1, first->IrradianceFiltered, 0, GL_RGBA16F, GL_READ_ONLY);
  RenderSystem::UploadISArrays(program, ctx.Frame.IS);
  UploadCascade(program, ctx.Frame.FirstCascade);
}

// The finished picture of this frame: the temporal result when the
// temporal pass ran, else the lit colour.
Texbit* FinalPicture(const PassContext& ctx) {
  const CameraTargets& t = *ctx.Camera->Targets;
  return ctx.Wrote("BufferFinalLastFrame") ? t.OldLayer1 : t.Layer1;
}

// ---------------------------------------------------------------------------
// Camera

// The most frames a still pixel's history may hold this frame: 1 in the
// frame the light changed, then growing by one a frame, at most
// KeptWhileSettling while a light field settles.
float HistoryCap(const FrameInputs& frame, const CameraTargets& t) {
  const float since = static_cast<float>(std::min(t.FramesSinceLightChange, 1 << 20));
  return frame.Settling ? std::min(1.0f + since, RenderSystem::KeptWhileSettling) : 1.0f + since;
}

// The view rays of the jittered projection `inverse` from `eye`, towards
// its far plane: columns the ray at the picture's corner (0, 0), and its
// change across the picture's width and height. A ray is linear in where
// it passes, so a pixel's is two multiply-adds instead of a projection.
glm::mat3 ViewRays(const glm::mat4& inverse, const glm::vec3& eye) {
  auto ray = [&](float x, float y) {
    const glm::vec4 far = inverse * glm::vec4(x, y, 1.0f, 1.0f);
    return glm::vec3(far) - eye * far.w;
  };
  const glm::vec3 corner = ray(-1.0f, -1.0f);
  return glm::mat3(corner, ray(1.0f, -1.0f) - corner, ray(-1.0f, 1.0f) - corner);
}

void FillCameraUniforms(const FrameInputs& frame, CameraFrame& f) {
  Camera* c = f.C;
  Transform* T = f.T;
  UniformBuffer& u = f.View;
  const glm::mat4 view = c->Matrix(T->WorldInverse);
  const glm::mat4 viewPast = c->Matrix_Past(T->WorldInversePast);
  // Without the temporal pass nothing would put jittered frames together.
  const glm::mat4 aa = c->Jitter ? c->MatrixJittered(T->WorldInverse) : view;
  const glm::mat4 aaPast = c->Jitter ? c->MatrixJittered_Past(T->WorldInversePast) : viewPast;
  u.SetMatrix4("_WorldToView_Past", viewPast);
  u.SetMatrix4("_WorldToView", view);
  u.SetMatrix4("_AAWorldToView_Past", aaPast);
  u.SetMatrix4("_AAWorldToView", aa);
  f.WorldToClip = aa;
  // In pixels of the scaled targets, where the temporal pass needs them.
  u.SetVector("_AAJitter", c->JitterOffset * glm::vec2(f.SW / std::max(1.0f, Shutter::Width()),
                                                       f.SH / std::max(1.0f, Shutter::Height())));
  u.SetMatrix4("_InvWorldToView_Past", glm::inverse(viewPast));
  u.SetMatrix4("_InvWorldToView", glm::inverse(view));
  u.SetMatrix4("_AAInvWorldToView_Past", glm::inverse(aaPast));
  const glm::mat4 aaInverse = glm::inverse(aa);
  u.SetMatrix4("_AAInvWorldToView", aaInverse);
  u.SetMatrix3("_AAViewRays", ViewRays(aaInverse, T->Position));
  u.SetMatrix4("_WorldToCamera", T->WorldInverse);
  u.SetVector("_CameraPos", T->Position);
  // Where last frame's picture was seen from: the temporal pass tells by it
  // whether the history shows the surface a pixel shows now.
  const glm::vec3 past(T->WorldPast[3]);
  u.SetVector("_CameraPos_Past", past);
  // A still camera's pixels keep their distances: a program without the
  // reprojection.
  u.SetFloat("_CameraMoved", past != T->Position ? 1.0f : 0.0f);
  u.SetVector("RayTopLeft", c->PointToVector({0.0f, 1.0f}, T));
  u.SetVector("RayTopRight", c->PointToVector({1.0f, 1.0f}, T));
  u.SetVector("RayBottomLeft", c->PointToVector({0.0f, 0.0f}, T));
  u.SetVector("RayBottomRight", c->PointToVector({1.0f, 0.0f}, T));
  u.SetVector("RayCenter", c->PointToVector({0.5f, 0.5f}, T));
  StaleRegions::SetCameraUniforms(u, frame.Stale);
  u.SetVector("ScreenSize", glm::vec4(f.W, f.H, 1.0f / f.W, 1.0f / f.H));
  u.CalculateHash();
}

// "BufferFinalLastFrame2" is not bound: it is the temporal pass's target.
void FillSurfaceUniforms(const FrameInputs& frame, CameraFrame& f) {
  const CameraTargets& t = *f.Targets;
  UniformBuffer& s = f.Surface;
  s.SetTexture("Newness", t.Newness1);
  s.SetTexture("MotionVectors", t.MotionVectors);
  s.SetTexture("BufferFinalLastFrame", t.OldLayer1);
  s.SetTexture("BufferDepth", t.BufferDepthLayer1);
  s.SetTexture("Normals", t.Normals);
  s.SetTexture("Albedo", t.Albedo);
  s.SetTexture("LinearDepth", t.LinearDepth);
  s.SetTexture("LastBufferDepth", t.OldDepth1);
  s.SetFloat("THISLIGHT", -1.0f);
  s.SetFloat("TemporalSSExponent", TemporalSSExponent->value);
  s.SetFloat("TemporalUpsampling", f.SW != f.W || f.SH != f.H ? 1.0f : 0.0f);
  s.SetFloat("Exposure", Exposure->value);
  s.SetFloat("_HistoryCap", HistoryCap(frame, t));
  s.CalculateHash();
}

// The output size (a side of 0, or one no window could have, means the
// window's) and the render size under the camera's scale.
bool SizeCamera(CameraFrame& f) {
  f.W = PixelSide(ScreenResolution->value.x, 0);
  f.H = PixelSide(ScreenResolution->value.y, 0);
  if (f.W == 0) f.W = static_cast<int>(Shutter::Width());
  if (f.H == 0) f.H = static_cast<int>(Shutter::Height());
  if (f.W <= 0 || f.H <= 0) return false;
  f.SW = std::max(1, PixelSide(f.C->RenderScale * f.W, f.W));
  f.SH = std::max(1, PixelSide(f.H * f.C->RenderScale, f.H));
  return true;
}

// Every resource a running pass of the camera reads, writes or keeps.
std::set<std::string> CameraResources(const PassTable& table, const std::vector<bool>& live) {
  std::set<std::string> names;
  for (size_t k = 0; k < table.Passes.size(); ++k) {
    const PassSpec& p = table.Passes[k];
    if (p.Runs != RunsFor::EachCamera || !live[k]) continue;
    for (const auto* list : {&p.Reads, &p.Writes, &p.History}) names.insert(list->begin(), list->end());
  }
  return names;
}

// The temporal pass reads its nine samples of the lit colour through an
// image: a software driver loads from one for less than it fetches a texel.
// The barrier is for the lighting's stores and the emission's blends, which
// a software driver may still be finishing when the pass starts.
void BindLitImage(Texbit* lit) {
  const unsigned program = CurrentProgram();
  if (program == 0) return;
  glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  BindImage(program, "img_lit", 0, lit, 0, GL_RGBA16F, GL_READ_ONLY);
}

}  // namespace

bool OutsideClip(const glm::mat4& worldToClip, const glm::vec3& lo, const glm::vec3& hi) {
  // Each side of the clip volume is a plane in homogeneous coordinates
  // (-w <= x <= w, and so for y and z): a box lies beyond one when all its
  // corners do, wherever they stand against the eye.
  int beyond[6] = {0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    const glm::vec4 c = worldToClip * glm::vec4((i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z, 1.0f);
    for (int a = 0; a < 3; ++a) {
      beyond[2 * a] += c[a] > c.w ? 1 : 0;
      beyond[2 * a + 1] += c[a] < -c.w ? 1 : 0;
    }
  }
  return std::any_of(std::begin(beyond), std::end(beyond), [](int n) { return n == 8; });
}

bool BeginCamera(PassContext& ctx, Thing thing, const std::vector<bool>& live, std::vector<bool>& dropped) {
  CameraFrame& f = *ctx.Camera;
  f.Owner = thing;
  f.C = ComponentHandler<Camera>::Get(thing);
  f.T = ComponentHandler<Transform>::Get(thing);
  if (f.C == nullptr || f.T == nullptr) return false;
  // The scene renders at the scale and jittered by a sub-pixel offset each
  // frame; the temporal pass puts the samples back together at full size.
  if (!std::isfinite(RenderScale->value)) RenderScale->value = 1.0f;
  RenderScale->value = std::clamp(RenderScale->value, RenderSystem::MinRenderScale, 1.0f);
  f.C->RenderScale = RenderScale->value;
  f.C->Jitter = TemporalSS->value;
  f.C->UpdatePerspectiveMatrix();
  if (!SizeCamera(f)) return false;
  FillCameraUniforms(ctx.Frame, f);

  CameraTargets& t = f.C->Targets;
  f.Targets = &t;
  t.FramesSinceLightChange = ctx.Frame.LightChanged ? 0 : std::min(t.FramesSinceLightChange, 1 << 20) + 1;
  if (ctx.Frame.SettlingEnded) t.FramesSinceLightChange = 1;
  // The pool answers with null when its budget is gone; a frame without its
  // targets is skipped rather than drawn into whatever is bound, and a pass
  // without an optional target is left out.
  std::set<std::string> refused;
  if (!AcquireCameraTargets(ctx.Table, CameraResources(ctx.Table, live), t, {f.W, f.H, f.SW, f.SH}, refused,
                            &f.Made)) {
    return false;
  }
  for (size_t k = 0; k < ctx.Table.Passes.size(); ++k) {
    for (const std::string& w : ctx.Table.Passes[k].Writes) dropped[k] = dropped[k] || refused.count(w) != 0;
  }
  RenderSystem::Layer1 = RT(t.Layer1);
  RenderSystem::BufferDepthLayer1 = static_cast<DepthTexture*>(t.BufferDepthLayer1);
  FillSurfaceUniforms(ctx.Frame, f);
  f.Sun.SetFloat("_SunShadowOn", 0.0f);
  f.Sun.CalculateHash();
  return true;
}

void EndCamera(PassContext& ctx) {
  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
  ReleaseFrameTargets(ctx.Table, *ctx.Camera->Targets);
}

// ---------------------------------------------------------------------------
// Passes

bool LightFieldReady(const PassContext& ctx) {
  const LightField* first = ctx.Frame.First;
  return first != nullptr && first->DistanceVolume != nullptr && first->SkipVolume != nullptr;
}

bool TakingCapture(const PassContext& ctx) { return FrameCapture::Capturing() && ctx.Camera->First; }

bool DrawDepthPrePass(PassContext& ctx) {
  CameraFrame& c = *ctx.Camera;
  RenderTextureGuy::UseTexs({RT(c.Targets->LinearDepth)}, Depth(ctx));
  SaneGL::ColorWrite(false, false, false, false);
  SaneGL::DepthWrite(true);
  SaneGL::CullFace(SaneGL::FaceSide::None);
  SaneGL::Clear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  DrawEntries(ctx, "Depth", true, true,
              [&](DrawEntry&, UniformBuffer& d) { return WithoutNulls({&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &d}); });
  RenderTextureGuy::UseTexDone();
  return true;
}

// Albedo and linear depth ride along as targets 2 and 3 of the G-buffer:
// the lighting compute reads them instead of reconstructing from depth.
bool DrawGBuffer(PassContext& ctx) {
  CameraFrame& c = *ctx.Camera;
  CameraTargets& t = *c.Targets;
  OpenScenePass(ctx, {RT(t.Normals), RT(t.MotionVectors), RT(t.Albedo), RT(t.LinearDepth)});
  DrawEntries(ctx, "Deferred", true, true, [&](DrawEntry& e, UniformBuffer& d) {
    return WithoutNulls({&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &d, &std::get<6>(e), std::get<5>(e)});
  });
  DrawCurtain(ctx, "Deferred");
  RenderTextureGuy::UseTexDone();
  return true;
}

bool DrawForward(PassContext& ctx) {
  CameraFrame& c = *ctx.Camera;
  OpenScenePass(ctx, {RT(c.Targets->Layer1), RT(c.Targets->MotionVectors)});
  DrawEntries(ctx, "Forward", true, true, [&](DrawEntry& e, UniformBuffer& d) {
    return WithoutNulls(
        {&ctx.Frame.Time, &c.View, &d, &ctx.Frame.Field, &std::get<6>(e), std::get<5>(e), &ctx.Frame.IS});
  });
  DrawCurtain(ctx, "Forward");
  RenderTextureGuy::UseTexDone();
  return true;
}

// The cascades brought up to date where the scene or the view changed;
// the lighting passes read them through the camera's sun uniforms.
bool DrawSunShadowMap(PassContext& ctx) {
  CameraFrame& c = *ctx.Camera;
  CameraTargets& t = *c.Targets;
  auto texture = [&](const char* name) { return CameraTexture(*ctx.Table.Find(name), t); };
  SunShadow::Targets maps;
  maps.Atlas = static_cast<DepthTexture*>(texture("SunShadowMap"));
  maps.Still = static_cast<DepthTexture*>(texture("SunShadowStill"));
  maps.Blocks = RT(texture("SunShadowBlocks"));
  maps.Hint = RT(texture("SunShadowHint"));
  maps.ScratchDepth = static_cast<DepthTexture*>(texture("SunShadowScratch"));
  maps.ScratchBlocks = RT(texture("SunShadowScratchBlocks"));
  maps.Fresh = c.Made.count("SunShadowMap") != 0 || c.Made.count("SunShadowStill") != 0;
  SunShadow& shadow = SunShadow::Of(t);
  const float aspect = Shutter::Width() / std::max(Shutter::Height(), 1.0f);
  if (!shadow.Render(maps, ctx.Frame.Queue, CurtainSurface(), SunShadow::LensOf(*c.C, c.T->World, aspect), c.C->Near,
                     c.C->Far, RenderSystem::ActiveSky())) {
    return false;
  }
  shadow.ResetLists(c.SW, c.SH);
  c.Sun = shadow.Uniforms();
  return true;
}

bool DispatchSparseLight(PassContext& ctx) {
  if (!RenderSystem::LightingStencil) return false;
  CameraTargets& t = *ctx.Camera->Targets;
  UniformBuffer sparse = SparseInputs(true);
  BufferList list = LightingList(ctx, sparse);
  const unsigned program = UseCompute(*RenderSystem::LightingStencil, "Sparse", &list);
  NoteProgramReads(ctx);
  if (program == 0) return false;
  // Units 1 and 2 hold the light field's volumes.
  BindImage(program, "img_light", 0, t.SparseLight, 0, GL_RGBA32F);
  BindImage(program, "img_reflection", 3, t.SparseReflection, 0, GL_RGBA16F);
  BindImage(program, "img_plane", 4, t.SparsePlane, 0, GL_RGBA8);
  BindFieldImages(ctx, program);
  // The glossy samples, listed for the "Reflection" dispatch; scratch of
  // this pass alone, emptied every frame.
  static WorkList glossy;
  const int bw = t.SparseLight->Width, bh = t.SparseLight->Height;
  glossy.Reset(static_cast<size_t>(bw) * bh, 1);
  glDispatchCompute(static_cast<unsigned>((bw + 15) / 16), static_cast<unsigned>((bh + 3) / 4), 1);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_SHADER_STORAGE_BARRIER_BIT |
                  GL_COMMAND_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  if (const unsigned reflection = UseCompute(*RenderSystem::LightingStencil, "Reflection", &list)) {
    BindImage(reflection, "img_reflection", 3, t.SparseReflection, 0, GL_RGBA16F);
    BindFieldImages(ctx, reflection);
    DispatchIndirect(glossy.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  }
  // The samples in penumbrae, into the alpha of their planes.
  if (ReadsSunShadow(ctx)) {
    BufferList sun = SunList(ctx);
    SunShadow::Of(t).ShadeSamples(*RenderSystem::LightingStencil, &sun, RT(t.SparsePlane));
  }
  return true;
}

// Without a voxelised light field there is nothing to march: the lit
// colour stays black (emission still shows). "Visualize Voxels" runs the
// same pass in its voxel-showing mode.
bool DispatchLighting(PassContext& ctx) {
  RenderTexture* lit = RT(ctx.Camera->Targets->Layer1);
  RenderTextureGuy::UseTexs({lit}, Depth(ctx));
  SaneGL::ColorWrite(true, true, true, true);
  SaneGL::ClearColor(glm::vec4(0.0f));
  SaneGL::Clear(GL_COLOR_BUFFER_BIT);
  RenderTextureGuy::UseTexDone();
  if (!RenderSystem::LightingStencil || !LightFieldReady(ctx)) return true;
  const bool sparseDone = ctx.Wrote("SparseLight");
  UniformBuffer sparse = SparseInputs(sparseDone);
  BufferList list = LightingList(ctx, sparse);
  const unsigned program = UseCompute(*RenderSystem::LightingStencil, "GlobalIllumination", &list);
  NoteProgramReads(ctx);
  if (program == 0) return true;
  // The pixels the sparse samples leave without light, for the "Fallback"
  // dispatch; scratch of this pass alone.
  static WorkList fallback;
  fallback.Reset(static_cast<size_t>(lit->Width) * lit->Height, 1);
  BindImage(program, "img_output", 0, lit, 0, GL_RGBA16F);
  BindFieldImages(ctx, program);
  if (sparseDone) {
    const CameraTargets& t = *ctx.Camera->Targets;
    BindImage(program, "img_sparseLight", 2, t.SparseLight, 0, GL_RGBA32F, GL_READ_ONLY);
    BindImage(program, "img_sparseReflection", 3, t.SparseReflection, 0, GL_RGBA16F, GL_READ_ONLY);
    BindImage(program, "img_sparsePlane", 4, t.SparsePlane, 0, GL_RGBA8, GL_READ_ONLY);
  }
  // Groups of 20 x 20 pixels, rounded up: the shader skips what lies
  // outside the image. The emission blends into the written image and
  // later passes sample it.
  const GLbitfield written = GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_FRAMEBUFFER_BARRIER_BIT | GL_TEXTURE_FETCH_BARRIER_BIT;
  glDispatchCompute(static_cast<unsigned>((lit->Width + 19) / 20), static_cast<unsigned>((lit->Height + 19) / 20), 1);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glMemoryBarrier(written | GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  const unsigned rest = sparseDone ? UseCompute(*RenderSystem::LightingStencil, "Fallback", &list) : 0;
  if (rest != 0) {
    BindImage(rest, "img_output", 0, lit, 0, GL_RGBA16F);
    BindFieldImages(ctx, rest);
    DispatchIndirect(fallback.Groups(), written);
  }
  // The pixels by shadow edges, whose samples did not agree on the sun.
  if (sparseDone && ReadsSunShadow(ctx)) {
    BufferList sun = SunList(ctx);
    SunShadow::Of(*ctx.Camera->Targets).ShadeEdges(*RenderSystem::LightingStencil, &sun, lit);
  }
  return true;
}

bool DrawEmission(PassContext& ctx) {
  CameraFrame& c = *ctx.Camera;
  RenderTextureGuy::UseTexs({RT(c.Targets->Layer1)}, Depth(ctx));
  SaneGL::ColorWrite(true, true, true, true);
  SaneGL::Blend(true);
  SaneGL::BlendFuncSeparate(SaneGL::BlendFunction::One, SaneGL::BlendFunction::One, SaneGL::BlendFunction::One,
                            SaneGL::BlendFunction::One);
  DrawEntries(
      ctx, "Emission", true, true,
      [&](DrawEntry& e, UniformBuffer& d) {
        return WithoutNulls({&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &d, &std::get<6>(e), std::get<5>(e)});
      },
      Emits);
  SaneGL::Blend(false);
  SaneGL::StateSync();
  RenderTextureGuy::UseTexDone();
  return true;
}

// Into level 2 (256 x 256) of the lightmap; only while some program samples
// it, which none of the shipped shaders does.
bool DrawLightmap(PassContext& ctx) {
  if (RenderSystem::TempLightmapStopgapShit == nullptr) return false;
  CameraFrame& c = *ctx.Camera;
  SaneGL::StatePush();
  RenderTextureGuy::UseTexs({RenderSystem::TempLightmapStopgapShit}, {}, {2}, nullptr);
  SaneGL::Viewport(0, 0, 256, 256);
  SaneGL::ColorWrite(true, true, true, true);
  SaneGL::CullFace(SaneGL::FaceSide::None);
  SaneGL::StateSync();
  UniformBuffer patch;
  for (const char* name : {"PatchLowestMip", "PatchLastMip", "PatchSub"}) patch.SetFloat(name, 2.0f);
  patch.CalculateHash();
  DrawEntries(ctx, "LightmapGI", false, false, [&](DrawEntry& e, UniformBuffer& d) {
    return WithoutNulls({&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &d, &c.Surface, &std::get<6>(e),
                         &ctx.Frame.IS, std::get<5>(e), &patch});
  });
  RenderTextureGuy::UseTexDone();
  SaneGL::StatePop();
  return true;
}

// The background's motion vectors, from the depth left empty.
bool DrawMotion(PassContext& ctx) {
  CameraFrame& c = *ctx.Camera;
  if (!RenderSystem::FillMotionBuffer) return false;
  RenderTextureGuy::UseTexs({RT(c.Targets->MotionVectors)}, Depth(ctx));
  SaneGL::ColorWrite(true, true, true, true);
  BufferList list = {&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &c.Surface};
  RenderSystem::FillMotionBuffer->Use(&list);
  NoteProgramReads(ctx);
  Draw::Blit(c.Targets->Layer1);
  RenderTextureGuy::UseTexDone();
  SaneGL::DepthWrite(true);
  SaneGL::StateSync();
  return true;
}

// Reads last frame's picture and newness (the 1s), writes this frame's into
// the 2s; the table then swaps them. The pixels it finds without a history
// to keep are listed as it draws and filled after it.
bool DrawTemporal(PassContext& ctx) {
  CameraFrame& c = *ctx.Camera;
  if (!RenderSystem::TemporallyAntialias) return false;
  RenderTextureGuy::UseTexs({RT(c.Targets->OldLayer2), RT(c.Targets->Newness2)});
  SaneGL::ColorWrite(true, true, true, true);
  BufferList list = {&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &c.Surface};
  // Scratch of this pass alone, emptied every frame.
  static TemporalFill fill;
  fill.Begin(static_cast<size_t>(c.W) * c.H);
  RenderSystem::TemporallyAntialias->Use(&list);
  NoteProgramReads(ctx);
  BindLitImage(c.Targets->Layer1);
  Draw::Blit(c.Targets->Layer1);
  RenderTextureGuy::UseTexDone();
  fill.Run(*RenderSystem::TemporallyAntialias, list, c.Targets->Layer1, c.Targets->OldLayer2);
  return true;
}

bool CaptureLinear(PassContext& ctx) {
  FrameCapture::TakeLinear(*FinalPicture(ctx));
  return true;
}

// The picture fills the window whatever size it was rendered at (a "Screen
// Resolution" below a full-screen window's): the present pass scales it.
// The whole-screen passes run without depth testing; going through the
// cache keeps its mirror honest (the next frame forces it anyway).
bool DrawPresent(PassContext& ctx) {
  if (!RenderSystem::FinalBlit) return false;
  CameraFrame& c = *ctx.Camera;
  Texbit* picture = FinalPicture(ctx);
  const glm::ivec2 window(static_cast<int>(Shutter::Width()), static_cast<int>(Shutter::Height()));
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  SaneGL::Viewport(0, 0, window.x, window.y);
  SaneGL::StateSync();
  UniformBuffer present;
  present.SetFloat("_PresentRescale", picture->Width != window.x || picture->Height != window.y ? 1.0f : 0.0f);
  present.SetFloat("_MotionBlur", MotionBlur->value ? 1.0f : 0.0f);
  present.CalculateHash();
  BufferList list = {&ctx.Frame.Time, &c.View, &ctx.Frame.Field, &c.Surface, &present};
  RenderSystem::FinalBlit->Use(&list);
  NoteProgramReads(ctx);
  Draw::Blit(picture);
  return true;
}

}  // namespace KestorEngine
