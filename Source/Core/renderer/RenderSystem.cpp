#include "renderer/RenderSystem.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <functional>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include <glm/gtc/matrix_inverse.hpp>

#include "engine/CVar.h"
#include "engine/Component.h"
#include "engine/Debug.h"
#include "engine/Engine.h"
#include "engine/MathChecks.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "render/Draw.h"
#include "render/RenderTextureGuy.h"
#include "render/ShaderVariant.h"
#include "render/Texbit.h"
#include "renderer/Cloth.h"
#include "renderer/ComputePass.h"
#include "renderer/FrameCapture.h"
#include "renderer/FrameGraph.h"
#include "renderer/HelpOverlay.h"
#include "renderer/PassTimers.h"
#include "renderer/RenderSettings.h"
#include "renderer/SidePanel.h"
#include "renderer/SunShadow.h"
#include "renderer/TemporalFill.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

void AddOnce(std::vector<Thing>& list, Thing t) {
  if (std::find(list.begin(), list.end(), t) == list.end()) list.push_back(t);
}

void RemoveFirst(std::vector<Thing>& list, Thing t) {
  auto found = std::find(list.begin(), list.end(), t);
  if (found != list.end()) list.erase(found);
}

float Now(KestorEngineFlyHahaJk* engine) { return engine != nullptr ? engine->TimeSinceStart() : 0.0f; }
// Frame rates are measured on the wall clock, also when a fixed step drives
// everything that moves.
float WallNow(KestorEngineFlyHahaJk* engine) { return engine != nullptr ? engine->WallTimeSinceStart() : 0.0f; }

// Material buffers may be absent (code can queue without one): such an
// entry simply draws with the values of the other buffers.
std::vector<UniformBuffer*> WithoutNulls(std::initializer_list<UniformBuffer*> list) {
  std::vector<UniformBuffer*> out;
  for (UniformBuffer* b : list) {
    if (b != nullptr) out.push_back(b);
  }
  return out;
}

// Which programs of this frame sample the lightmap. Asked of GL once per
// program and frame, so a shader edited to read it (or no longer to) is
// noticed at the next frame.
struct LightmapReaders {
  std::unordered_map<unsigned, bool> Checked;
  bool Any = false;
};

LightmapReaders& Readers() {
  static LightmapReaders* r = new LightmapReaders();
  return *r;
}

void DrawEntryNow(DrawEntry& e, const std::string& pass, std::vector<UniformBuffer*> buffers) {
  Resource<Shader>& shader = std::get<4>(e);
  if (!shader) return;
  shader->Use(pass, &buffers);
  if (pass != "LightmapGI") RenderSystem::NoteLightmapReader();
  Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
}

// Whether the entry's material was given an albedo map: without one the
// surface shaders compile the sampling out (it would read white).
bool MapsAlbedo(const DrawEntry& e) {
  const UniformBuffer* own = &std::get<6>(e);
  const UniformBuffer* shared = std::get<5>(e);
  for (const UniformBuffer* b : {own, shared}) {
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
  return found != shared->Uniforms.end() && found->second.Type == TypeFloat &&
         found->second.FloatValue != 0.0f;
}

}  // namespace

// Baking the area arrays into the source would compile a program whenever an
// area moves; raw uploads keep one program. Areas that found no emitter
// (radiance 0) are left out: every area costs the lighting shaders work on
// every pixel.
void RenderSystem::UploadISArrays(unsigned program, UniformBuffer& is) {
  if (program == 0) return;
  auto array = [&](const char* name) -> const ShaderUniform* {
    auto found = is.Uniforms.find(name);
    return found == is.Uniforms.end() ? nullptr : &found->second;
  };
  const ShaderUniform* types = array("ISTypes");
  const ShaderUniform* radiance = array("ISRadiance");
  std::vector<size_t> kept;
  if (types != nullptr) {
    for (size_t i = 0; i < types->FloatValues.size() && kept.size() < 16; ++i) {
      const bool dark = radiance != nullptr && i < radiance->Vector3Values.size() &&
                        radiance->Vector3Values[i] == glm::vec3(0.0f);
      if (!dark) kept.push_back(i);
    }
  }
  const int count = static_cast<int>(kept.size());
  glProgramUniform1i(program, glGetUniformLocation(program, "ISCount"), count);
  Debug::_CheckGLError("RELEASE", __LINE__);
  if (count == 0) return;
  std::vector<float> keptTypes;
  for (size_t i : kept) keptTypes.push_back(types->FloatValues[i]);
  glProgramUniform1fv(program, glGetUniformLocation(program, "ISTypes"), count, keptTypes.data());
  Debug::_CheckGLError("RELEASE", __LINE__);
  for (const char* name : {"ISPositions", "ISSizes1", "ISSizes2", "ISRadiance"}) {
    const ShaderUniform* values = array(name);
    if (values == nullptr || values->Vector3Values.size() < types->FloatValues.size()) continue;
    std::vector<glm::vec3> keptValues;
    for (size_t i : kept) keptValues.push_back(values->Vector3Values[i]);
    glProgramUniform3fv(program, glGetUniformLocation(program, name), count, &keptValues[0].x);
    Debug::_CheckGLError("RELEASE", __LINE__);
  }
}

void RenderSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->UpdateList[UpdateSlot] = [engine]() { return MAKEITpretty(engine); };
  ComponentHandler<Camera>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Camera>::FoodGoSad.push_back(&FoodGoSad);
  ComponentHandler<Transform>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Transform>::FoodGoSad.push_back(&FoodGoSad);
  ComponentHandler<LightField>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<LightField>::FoodGoSad.push_back(&FoodGoSad);
  ComponentHandler<ISArea>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<ISArea>::FoodGoSad.push_back(&FoodGoSad);
  ComponentHandler<Sky>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Sky>::FoodGoSad.push_back(&FoodGoSad);
  Thing::HereItsFunc.push_back(&ComponentHandler<Sky>::HereItsBunk);
  Thing::HereItsFunc.push_back(&ComponentHandler<Camera>::HereItsBunk);
  Thing::HereItsFunc.push_back(&ComponentHandler<Transform>::HereItsBunk);
  Thing::HereItsFunc.push_back(&ComponentHandler<LightField>::HereItsBunk);
  Thing::HereItsFunc.push_back(&ComponentHandler<ISArea>::HereItsBunk);
}

void RenderSystem::GoodYumidk(Thing t) {
  // A sky is everywhere: it needs no place.
  if (Has<Sky>(t)) AddOnce(SkyThings, t);
  if (!Has<Transform>(t)) return;
  if (Has<Camera>(t)) AddOnce(CameraThings, t);
  if (Has<LightField>(t)) AddOnce(LitThings, t);
  if (Has<ISArea>(t)) AddOnce(BrightThings, t);
}

void RenderSystem::FoodGoSad(Thing t) {
  if (!Has<Sky>(t)) RemoveFirst(SkyThings, t);
  // Each list loses the Thing only when its own pair of components is broken:
  // a camera that also carried an area light keeps rendering without it.
  const bool placed = Has<Transform>(t);
  if (!placed || !Has<Camera>(t)) RemoveFirst(CameraThings, t);
  if (!placed || !Has<LightField>(t)) RemoveFirst(LitThings, t);
  if (!placed || !Has<ISArea>(t)) RemoveFirst(BrightThings, t);
}

void RenderSystem::SetupShaderResources() {
  UnlitScreenSpace = Resources<Shader>::Get("PostFX/UnlitScreenSpace");
  particlesRender = Resources<Shader>::Get("ParticlesRender");
  LightingStencil = Resources<Shader>::Get("VoxelRaytracing/LightingCompute");
  TemporallyAntialias = Resources<Shader>::Get("PostFX/TemporalSupersample");
  FinalBlit = Resources<Shader>::Get("PostFX/MotionBlur");
  FieldDistanceGenerateAccurate = Resources<Shader>::Get("VoxelRaytracing/GenerateAcceleration");
  FillMotionBuffer = Resources<Shader>::Get("PostFX/FillMotionBuffer");
}

void RenderSystem::NoteLightmapReader() {
  const unsigned program = CurrentProgram();
  if (program == 0) return;
  auto found = Readers().Checked.find(program);
  if (found == Readers().Checked.end()) {
    const bool reads = glGetUniformLocation(program, "TempLightmapStopgap") >= 0;
    Debug::_CheckGLError("RELEASE", __LINE__);
    found = Readers().Checked.emplace(program, reads).first;
  }
  Readers().Any = Readers().Any || found->second;
}

float RenderSystem::SimulationStep(float now) {
  CPUFPSWaiter = now;
  float dt = 0.016f;
  if (lastFrameFinish > 0.0f && now > 8.0f) dt = std::min(CPUFPSWaiter - lastFrameFinish, 0.02f);
  lastFrameFinish = now;
  frameCounter += 1;
  return dt;
}

void RenderSystem::CountFrame(float now) {
  FrameGraph::Record(now);
  averageFPS += 1.0f;
  if (now - FPSWaiter > 1.0f) {
    lastFPS = (now - FPSWaiter) / averageFPS * 1000.0f;
    FPSWaiter = now;
    CPUlastFPS = CPUaverageFPS / averageFPS * 1000.0f;
    CPUaverageFPS = 0.0f;
    averageFPS = 0.0f;
    FollowFrameTime(lastFPS);
  }
}

namespace {

// A buffer's values whatever the order of its map: setting a value again
// re-inserts its entry, which may move it in the map's iteration order.
std::uint64_t ValuesSignature(UniformBuffer& buffer) {
  std::uint64_t sum = 0;
  for (auto& [name, u] : buffer.Uniforms) {
    u.CalculateHash();
    sum += HashCombine(HashName(name), u.ValueHash);
  }
  return sum;
}

}  // namespace

std::vector<std::uint64_t> RenderSystem::VoxelEntrySignatures(std::vector<DrawEntry>& queue) {
  auto mixMatrix = [](std::uint64_t& seed, const glm::mat4& m) {
    for (int c = 0; c < 4; ++c) {
      for (int r = 0; r < 4; ++r) seed = HashCombine(seed, HashFloat(m[c][r]));
    }
  };
  std::unordered_map<UniformBuffer*, std::uint64_t> materials;
  std::vector<std::uint64_t> out(queue.size(), 0);
  for (size_t i = 0; i < queue.size(); ++i) {
    DrawEntry& e = queue[i];
    if (!std::get<8>(e) || !std::get<4>(e)) continue;
    std::uint64_t seed = 0;
    auto mix = [&seed](std::uint64_t v) { seed = HashCombine(seed, v); };
    mix(reinterpret_cast<std::uintptr_t>(std::get<0>(e).Object()));
    mix(static_cast<std::uint64_t>(std::get<1>(e)) + 5u);
    mixMatrix(seed, std::get<2>(e));
    mix(reinterpret_cast<std::uintptr_t>(std::get<4>(e).Object()));
    mix(ValuesSignature(std::get<6>(e)));
    if (UniformBuffer* shared = std::get<5>(e)) {
      // Presets edit material values in place: take them as they are now.
      auto found = materials.find(shared);
      if (found == materials.end()) found = materials.emplace(shared, ValuesSignature(*shared)).first;
      mix(reinterpret_cast<std::uintptr_t>(shared));
      mix(found->second);
    }
    // 0 marks an entry that is not voxelised.
    out[i] = seed != 0 ? seed : 1;
  }
  return out;
}

std::uint64_t RenderSystem::VoxelSwitchSignature(const glm::mat4& fieldWorld) {
  std::uint64_t seed = 0;
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) seed = HashCombine(seed, HashFloat(fieldWorld[c][r]));
  }
  // The switches choose what is voxelised.
  for (CVar<bool>* v : {UpdateVoxelsHQ, UpdateAcceleration, ClearVoxels}) seed = HashCombine(seed, v->value ? 1u : 2u);
  return seed;
}

std::uint64_t RenderSystem::LightingSignature() {
  std::uint64_t seed = 0;
  auto mix = [&seed](std::uint64_t v) { seed = HashCombine(seed, v); };
  auto mixVector = [&mix](glm::vec3 v) {
    for (int k = 0; k < 3; ++k) mix(HashFloat(v[k]));
  };
  if (const Sky* sky = ActiveSky()) {
    for (glm::vec3 v : {sky->ZenithColor, sky->HorizonColor, sky->GroundColor, sky->SunDirection, sky->SunColor}) {
      mixVector(v);
    }
    for (float f : {sky->SkyStrength, sky->SunStrength, sky->SunAngle}) mix(HashFloat(f));
  }
  for (CVar<bool>* v : {CastGI, CastIS, CastSpecular, HQReflections, VisualizeVoxels, RaycastScreen,
                        DeferredOrForward, RenderGBuffer}) {
    mix(v->value ? 1u : 2u);
  }
  return seed;
}

float RenderSystem::HistoryCap() {
  if (LightSettling) return std::min(1.0f + static_cast<float>(FramesSinceLightChange), KeptWhileSettling);
  return 1.0f + static_cast<float>(std::min(FramesSinceLightChange, 1 << 20));
}

float RenderSystem::NextRenderScale(float scale, float targetMs, float frameMs) {
  if (!(targetMs > 0.0f) || !(frameMs > 0.0f) || !std::isfinite(frameMs)) return scale;
  scale = std::isfinite(scale) ? std::clamp(scale, MinRenderScale, 1.0f) : 1.0f;
  // Within 5 % of the target the scale holds, so it does not hunt.
  const float ratio = targetMs / frameMs;
  if (std::abs(ratio - 1.0f) < 0.05f) return scale;
  // Pixel work goes with the square of the scale; a frame also has a part
  // that no scale changes, so one step at most halves or doubles the pixels.
  float next = scale * std::sqrt(std::clamp(ratio, 0.5f, 2.0f));
  // Steps of 0.05: every new size remakes the scene targets.
  next = std::round(next * 20.0f) / 20.0f;
  return std::clamp(next, MinRenderScale, 1.0f);
}

std::string RenderSystem::MAKEITpretty(KestorEngineFlyHahaJk* engine) {
  FrameCapture::BeginFrame(engine);
  RenderFrame(engine);
  FrameCapture::TakePresented(static_cast<int>(Shutter::Width()), static_cast<int>(Shutter::Height()));
  CPUaverageFPS += WallNow(engine) - CPUFPSWaiter;
  SDL_GL_SetSwapInterval(0);
  if (engine != nullptr && engine->window != nullptr && engine->window->window != nullptr) {
    SDL_GL_SwapWindow(engine->window->window);
  }
  CountFrame(WallNow(engine));
  return "";
}

void RenderSystem::RenderFrame(KestorEngineFlyHahaJk* engine) {
  if (FlyCamSystem::pause && ShowOverlay) RenderSidePanel();

  // The curtain keeps its own fixed-step clock on the frame's time.
  const float now = Now(engine);
  SimulationStep(now);
  CPUFPSWaiter = WallNow(engine);

  // The cloth collides with the first light field's occupancy.
  Texbit* skip = nullptr;
  glm::mat4 fieldLocalToWorld(1.0f);
  if (!LitThings.empty()) {
    LightField* l = ComponentHandler<LightField>::Get(LitThings.front());
    Transform* lt = ComponentHandler<Transform>::Get(LitThings.front());
    if (l != nullptr) skip = l->SkipVolume;
    if (lt != nullptr) fieldLocalToWorld = lt->World;
  }
  glm::vec3 cameraPosition(0.0f);
  if (!CameraThings.empty()) {
    if (Transform* ct = ComponentHandler<Transform>::Get(CameraThings.front())) cameraPosition = ct->Position;
  }
  ClothFrame(SDL_GetKeyboardState(nullptr), now, cameraPosition, skip, fieldLocalToWorld);

  SetupShaderResources();
  SetupLightmap();
  // The lightmap is drawn for last frame's readers: it is a frame late for
  // them either way, and then the pass order does not matter.
  LightmapRead = Readers().Any;
  Readers() = LightmapReaders();

  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
  SaneGL::CullFace(SaneGL::FaceSide::Back);
  SaneGL::Blend(false);
  SaneGL::DepthWrite(true);
  SaneGL::StateSyncForce();

  std::vector<DrawEntry> queue = DrawSystem::drawthings;
  SortForDrawing(queue);

  UniformBuffer time;
  time.SetVector("Time", glm::vec4(Now(engine), 0.0f, 0.0f, static_cast<float>(frameCounter)));
  time.CalculateHash();

  UniformBuffer is;
  FillISUniforms(is);
  MatchAreaEmitters(is, queue);
  is.CalculateHash();
  UniformBuffer quickray;
  FillQuickrayUniforms(quickray);

  const std::uint64_t lighting = LightingSignature();
  LightingChanged = lighting != lastLightingSignature;
  lastLightingSignature = lighting;
  // Counted from the change, and again from the end of the fields' settling:
  // frames gathered while the light still moved weigh little after it.
  FramesSinceLightChange = LightingChanged ? 0 : std::min(FramesSinceLightChange, 1 << 20) + 1;
  const bool wasSettling = LightSettling;
  LightSettling = false;

  UniformBuffer field;
  for (Thing t : std::vector<Thing>(LitThings)) LightFieldStage(t, queue, time, is, quickray, field);
  if (wasSettling && !LightSettling) FramesSinceLightChange = 1;

  for (Thing t : std::vector<Thing>(CameraThings)) RenderCamera(t, queue, time, is, quickray, field);

  if (ShowOverlay) QueueFrameRateText();
  if (ShowOverlay) HelpOverlay::Queue();
  if (ShowOverlay && FlyCamSystem::pause) QueuePerformancePanel();
  DrawGUI();
  PassTimers::FrameDone();
}

void RenderSystem::RenderCamera(Thing thing, std::vector<DrawEntry>& queue, UniformBuffer& time,
                                UniformBuffer& is, UniformBuffer& quickray, UniformBuffer& field) {
  Camera* c = ComponentHandler<Camera>::Get(thing);
  Transform* T = ComponentHandler<Transform>::Get(thing);
  if (c == nullptr || T == nullptr) return;

  // The scene renders at the scale and jittered by a sub-pixel offset each
  // frame; the temporal pass puts the samples back together at full size.
  if (!std::isfinite(RenderScale->value)) RenderScale->value = 1.0f;
  RenderScale->value = std::clamp(RenderScale->value, MinRenderScale, 1.0f);
  c->RenderScale = RenderScale->value;
  c->Jitter = TemporalSS->value;
  c->UpdatePerspectiveMatrix();
  // A side of 0, or one no window could have, means the window's.
  int w = PixelSide(ScreenResolution->value.x, 0);
  int h = PixelSide(ScreenResolution->value.y, 0);
  if (w == 0) w = static_cast<int>(Shutter::Width());
  if (h == 0) h = static_cast<int>(Shutter::Height());
  if (w <= 0 || h <= 0) return;
  const int sw = std::max(1, PixelSide(c->RenderScale * w, w));
  const int sh = std::max(1, PixelSide(h * c->RenderScale, h));

  UniformBuffer camera;
  const glm::mat4 view = c->Matrix(T->WorldInverse);
  const glm::mat4 viewPast = c->Matrix_Past(T->WorldInversePast);
  // Without the temporal pass nothing would put jittered frames together.
  const glm::mat4 aa = c->Jitter ? c->MatrixJittered(T->WorldInverse) : view;
  const glm::mat4 aaPast = c->Jitter ? c->MatrixJittered_Past(T->WorldInversePast) : viewPast;
  camera.SetMatrix4("_WorldToView_Past", viewPast);
  camera.SetMatrix4("_WorldToView", view);
  camera.SetMatrix4("_AAWorldToView_Past", aaPast);
  camera.SetMatrix4("_AAWorldToView", aa);
  // In pixels of the scaled targets, where the temporal pass needs them.
  camera.SetVector("_AAJitter", c->JitterOffset * glm::vec2(sw / std::max(1.0f, Shutter::Width()),
                                                            sh / std::max(1.0f, Shutter::Height())));
  camera.SetMatrix4("_InvWorldToView_Past", glm::inverse(viewPast));
  camera.SetMatrix4("_InvWorldToView", glm::inverse(view));
  camera.SetMatrix4("_AAInvWorldToView_Past", glm::inverse(aaPast));
  camera.SetMatrix4("_AAInvWorldToView", glm::inverse(aa));
  camera.SetMatrix4("_WorldToCamera", T->WorldInverse);
  camera.SetVector("_CameraPos", T->Position);
  // Where last frame's picture was seen from: the temporal pass tells by it
  // whether the history shows the surface a pixel shows now.
  camera.SetVector("_CameraPos_Past", glm::vec3(T->WorldPast[3]));
  camera.SetVector("RayTopLeft", c->PointToVector({0.0f, 1.0f}, T));
  camera.SetVector("RayTopRight", c->PointToVector({1.0f, 1.0f}, T));
  camera.SetVector("RayBottomLeft", c->PointToVector({0.0f, 0.0f}, T));
  camera.SetVector("RayBottomRight", c->PointToVector({1.0f, 0.0f}, T));
  camera.SetVector("RayCenter", c->PointToVector({0.5f, 0.5f}, T));
  camera.SetVector("ScreenSize", glm::vec4(w, h, 1.0f / w, 1.0f / h));
  camera.CalculateHash();

  // The history follows the render size (a resized window with "Screen
  // Resolution" (0, 0)), and is kept only whole (the pool may refuse a
  // part): otherwise the old textures go back to the pool.
  auto release = [](std::initializer_list<Texbit**> textures) {
    for (Texbit** t : textures) {
      if (*t != nullptr) RenderTextureGuy::Done(static_cast<RenderTexture*>(*t));
      *t = nullptr;
    }
  };
  const bool partial = c->OldLayer1 == nullptr || c->OldLayer2 == nullptr || c->Newness1 == nullptr ||
                       c->Newness2 == nullptr;
  if (partial || c->OldLayer1->Width != w || c->OldLayer1->Height != h) {
    release({&c->OldLayer1, &c->OldLayer2, &c->OldDepth1, &c->OldDepth2, &c->Newness1, &c->Newness2});
  }
  // A new render scale keeps the full-size history: the picture stays and
  // sharpens again instead of starting over.
  if (c->OldLayer1 != nullptr && (c->OldDepth1 == nullptr || c->OldDepth1->Width != sw || c->OldDepth1->Height != sh)) {
    release({&c->OldDepth1, &c->OldDepth2});
    c->OldDepth1 = RenderTextureGuy::GrabTex(sw, sh, TextureFormats::R32F);
    c->OldDepth2 = RenderTextureGuy::GrabTex(sw, sh, TextureFormats::R32F);
  }
  if (c->OldLayer1 == nullptr) {
    // Four channels and one level: a software rasteriser reads and writes
    // those fastest, and nothing samples a smaller level of the history.
    c->OldLayer1 = RenderTextureGuy::GrabTex(w, h, TextureFormats::RGBA16F);
    // The two trade places every frame: the temporal pass reads one and
    // writes the other, so the history needs no copy.
    c->OldLayer2 = RenderTextureGuy::GrabTex(w, h, TextureFormats::RGBA16F);
    c->OldDepth1 = RenderTextureGuy::GrabTex(sw, sh, TextureFormats::R32F);
    c->OldDepth2 = RenderTextureGuy::GrabTex(sw, sh, TextureFormats::R32F);
    // Frames gathered, the slow mean of the neighbourhood's luminance and
    // the distance from the camera, per window pixel: the distance read
    // with the rest tells the next frame what a moving thing uncovered.
    c->Newness1 = RenderTextureGuy::GrabTex(w, h, TextureFormats::RGBA16F);
    c->Newness2 = RenderTextureGuy::GrabTex(w, h, TextureFormats::RGBA16F);
    std::cout << "Creating Camer astuff!" << std::endl;
    std::cout << "OldLayer1: " << reinterpret_cast<std::uintptr_t>(c->OldLayer1) << std::endl;
    std::cout << "OldLayer2: " << reinterpret_cast<std::uintptr_t>(c->OldLayer2) << std::endl;
    std::cout << "OldDepth1: " << reinterpret_cast<std::uintptr_t>(c->OldDepth1) << std::endl;
    std::cout << "OldDepth2: " << reinterpret_cast<std::uintptr_t>(c->OldDepth2) << std::endl;
    std::cout << "Newness2: " << reinterpret_cast<std::uintptr_t>(c->Newness2) << std::endl;
    std::cout << "Newness1: " << reinterpret_cast<std::uintptr_t>(c->Newness1) << std::endl;
  }
  auto* oldLayer1 = static_cast<RenderTexture*>(c->OldLayer1);
  // The temporal pass reads the newness of the last frame and writes this
  // frame's into the other texture; the two trade places after it.
  auto* newness1 = static_cast<RenderTexture*>(c->Newness1);
  auto* newness2 = static_cast<RenderTexture*>(c->Newness2);

  RenderTexture* normals = RenderTextureGuy::GrabTex(sw, sh, TextureFormats::RGB10A2);
  RenderTexture* albedo = RenderTextureGuy::GrabTex(sw, sh, TextureFormats::RGB8);
  RenderTexture* linearDepth = RenderTextureGuy::GrabTex(sw, sh, TextureFormats::R16F);
  // The lit colour and the scene depth are made again when the render size
  // changes; a stale size would squeeze the scene into a corner.
  if (Layer1 != nullptr && (Layer1->Width != sw || Layer1->Height != sh)) {
    delete Layer1;
    Layer1 = nullptr;
  }
  if (BufferDepthLayer1 != nullptr && (BufferDepthLayer1->Width != sw || BufferDepthLayer1->Height != sh)) {
    delete BufferDepthLayer1;
    BufferDepthLayer1 = nullptr;
  }
  if (Layer1 == nullptr) {
    Layer1 = new RenderTexture(sw, sh, TextureFormats::RGBA16F);
    Layer1->Mipmaps = false;  // only level 0 is ever written or read
    Layer1->ToGPU();
  }
  RenderTexture* motion = RenderTextureGuy::GrabTex(sw, sh, TextureFormats::RG16F);
  if (BufferDepthLayer1 == nullptr) {
    BufferDepthLayer1 = new DepthTexture(sw, sh, TextureFormats::Depth24Stencil8);
    BufferDepthLayer1->ToGPU();
  }
  // The pool answers with null when its budget is gone; a frame without its
  // targets is skipped rather than drawn into whatever is bound.
  auto handBack = [&]() {
    for (RenderTexture* t : {normals, linearDepth, albedo, motion}) {
      if (t != nullptr) RenderTextureGuy::Done(t);
    }
  };
  auto* oldLayer2 = static_cast<RenderTexture*>(c->OldLayer2);
  if (normals == nullptr || albedo == nullptr || linearDepth == nullptr || motion == nullptr ||
      oldLayer1 == nullptr || oldLayer2 == nullptr || newness1 == nullptr || newness2 == nullptr) {
    handBack();
    return;
  }

  const bool deferred = DeferredOrForward->value;
  auto cameraDraws = [&](const std::string& pass, bool rehash,
                         const std::function<std::vector<UniformBuffer*>(DrawEntry&, UniformBuffer&)>& list,
                         const std::function<bool(DrawEntry&)>& filter) {
    // A CPU rasteriser pays for every triangle it sets up: the backs of
    // meshes whose fronts follow their normals are hidden behind their
    // fronts, and are culled. The lightmap's top-down layout sees them all.
    const bool cull = pass != "LightmapGI";
    for (DrawEntry& e : queue) {
      if (!std::get<7>(e) || !filter(e)) continue;
      if (rehash) std::get<6>(e).CalculateHash();
      const Mesh* mesh = std::get<0>(e).Object();
      SaneGL::CullFace(cull && mesh != nullptr && mesh->OneSided ? SaneGL::FaceSide::Back : SaneGL::FaceSide::None);
      UniformBuffer draw = PerDraw(e);
      DrawEntryNow(e, pass, list(e, draw));
    }
    SaneGL::CullFace(SaneGL::FaceSide::None);
  };
  auto all = [](DrawEntry&) { return true; };

  if (DepthPrePass->value) {
    PassScope timer("Depth pre-pass");
    RenderTextureGuy::UseTexs({linearDepth}, BufferDepthLayer1);
    SaneGL::ColorWrite(false, false, false, false);
    SaneGL::DepthWrite(true);
    SaneGL::CullFace(SaneGL::FaceSide::None);
    SaneGL::Clear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    cameraDraws("Depth", true,
                [&](DrawEntry&, UniformBuffer& d) { return WithoutNulls({&time, &camera, &field, &d}); }, all);
    RenderTextureGuy::UseTexDone();
  }

  bool scenePassOpen = false;
  // The forward and deferred passes open alike: cleared colour targets, and
  // depth kept only when the pre-pass has just written it. Neither draws a
  // background; the sky comes from the clear.
  auto openScenePass = [&](const std::vector<RenderTexture*>& targets) {
    PassTimers::Begin(deferred ? "G-buffer" : "Forward");
    RenderTextureGuy::UseTexs(targets, BufferDepthLayer1);
    scenePassOpen = true;
    SaneGL::ClearColor(glm::vec4(0.0f));
    SaneGL::ColorWrite(true, true, true, true);
    SaneGL::DepthWrite(true);
    SaneGL::CullFace(SaneGL::FaceSide::None);
    SaneGL::Clear(DepthPrePass->value ? GL_COLOR_BUFFER_BIT
                                      : GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  };
  if (!deferred) {
    openScenePass({Layer1, motion});
    cameraDraws("Forward", true,
                [&](DrawEntry& e, UniformBuffer& d) {
                  return WithoutNulls({&time, &camera, &d, &field, &std::get<6>(e), std::get<5>(e), &is});
                },
                all);
  } else if (RenderGBuffer->value) {
    // Albedo and linear depth ride along as targets 2 and 3 of the G-buffer:
    // the lighting compute reads them instead of reconstructing from depth.
    openScenePass({normals, motion, albedo, linearDepth});
    cameraDraws("Deferred", true,
                [&](DrawEntry& e, UniformBuffer& d) {
                  return WithoutNulls({&time, &camera, &field, &d, &std::get<6>(e), std::get<5>(e)});
                },
                all);
  }
  if (scenePassOpen) {
    // The curtain is a two-sided surface like any other: into the G-buffer
    // (or lit forward), with culling still off from the scene pass.
    Resource<Mesh>& display = ParticlesDisplay();
    if (display && Particles().Count != 0 && particlesRender) {
      std::vector<UniformBuffer*> list = {&time, &camera, &field};
      particlesRender->Use(deferred ? "Deferred" : "Forward", &list);
      Draw::DrawMesh(display, glm::mat4(1.0f), -1);
    }
    RenderTextureGuy::UseTexDone();
    PassTimers::End();
  }

  // Lighting.
  RenderTextureGuy::UseTexs({Layer1}, BufferDepthLayer1);
  SaneGL::ColorWrite(true, true, true, true);
  UniformBuffer surface;
  surface.SetTexture("Newness", newness1);
  surface.SetTexture("MotionVectors", motion);
  surface.SetTexture("BufferFinalLastFrame", oldLayer1);
  surface.SetTexture("BufferDepth", BufferDepthLayer1);
  surface.SetTexture("Normals", normals);
  surface.SetTexture("Albedo", albedo);
  surface.SetTexture("LinearDepth", linearDepth);
  surface.SetTexture("LastBufferDepth", c->OldDepth1);
  // "BufferFinalLastFrame2" is not bound: it is the temporal pass's target.
  surface.SetFloat("THISLIGHT", -1.0f);
  surface.CalculateHash();
  // "Visualize Voxels" runs the lighting compute in its voxel-showing mode
  // and leaves the emission out: the voxels carry their own.
  if (RaycastScreen->value && deferred) {
    SaneGL::ClearColor(glm::vec4(0.0f));
    SaneGL::Clear(GL_COLOR_BUFFER_BIT);
    // The sun's shadows on screen come from this camera's shadow map.
    SunShadow& sunShadow = SunShadow::Of(thing);
    const Resource<Mesh>& curtain = ParticlesDisplay();
    sunShadow.Render(queue, curtain && Particles().Count != 0 ? &curtain : nullptr,
                     SunShadow::LensOf(*c, T->World, Shutter::Width() / std::max(Shutter::Height(), 1.0f)), c->Near,
                     c->Far, ActiveSky(), VisualizeVoxels->value ? 0 : SunShadowMap->value);
    std::vector<UniformBuffer*> list = {&time, &camera, &field, &surface, &quickray, &is, &sunShadow.Uniforms()};
    LightField* first = LitThings.empty() ? nullptr : ComponentHandler<LightField>::Get(LitThings.front());
    // Without a voxelised light field there is nothing to march: the pass is
    // skipped and the lit colour stays black (emission still shows).
    const bool haveField = first != nullptr && first->DistanceVolume != nullptr && first->SkipVolume != nullptr;
    // The sparse pass's samples, one texel a 2 x 2 block; without them
    // every pixel works its own light out.
    const int bw = (Layer1->Width + 1) / 2, bh = (Layer1->Height + 1) / 2;
    const bool sparseWanted = SparseLight->value && !VisualizeVoxels->value;
    RenderTexture* sparse[3] = {nullptr, nullptr, nullptr};
    const TextureFormats sparseFormats[3] = {TextureFormats::RGBA32F, TextureFormats::RGBA16F, TextureFormats::RGBA8};
    const char* sparseNames[3] = {"SparseLight", "SparseReflection", "SparsePlane"};
    const char* sparseImages[3] = {"img_light", "img_reflection", "img_plane"};
    const GLenum sparseImageFormats[3] = {GL_RGBA32F, GL_RGBA16F, GL_RGBA8};
    bool sparseReady = sparseWanted;
    for (int i = 0; i < 3 && sparseWanted; ++i) {
      sparse[i] = RenderTextureGuy::GrabTex(bw, bh, sparseFormats[i], false);
      sparseReady = sparseReady && sparse[i] != nullptr;
    }
    UniformBuffer sparseInputs;
    sparseInputs.SetFloat("_SparseLight", sparseReady ? 1.0f : 0.0f);
    for (int i = 0; i < 3 && sparseReady; ++i) sparseInputs.SetTexture(sparseNames[i], sparse[i]);
    sparseInputs.CalculateHash();
    list.push_back(&sparseInputs);
    auto bindField = [&](unsigned program) {
      BindImage(program, "_LightFieldDistanceImage", 1, first->DistanceVolume, 0, GL_R8, GL_READ_ONLY);
      BindImage(program, "_LightFieldSkipImage", 2, first->SkipVolume, 0, GL_R8, GL_READ_ONLY);
      UploadISArrays(program, is);
    };
    if (LightingStencil && haveField && sparseReady) {
      PassScope timer("Sparse light");
      if (const unsigned program = UseCompute(*LightingStencil, "Sparse", &list)) {
        for (int i = 0; i < 3; ++i) {
          // Units 1 and 2 hold the light field's volumes.
          BindImage(program, sparseImages[i], i == 0 ? 0 : i + 2, sparse[i], 0, sparseImageFormats[i]);
        }
        bindField(program);
        // The glossy samples, for the "Reflection" pass.
        static WorkList glossy;
        glossy.Reset(static_cast<size_t>(bw) * bh, 1);
        sunShadow.ListSamples(Layer1->Width, Layer1->Height);
        glDispatchCompute(static_cast<unsigned>((bw + 15) / 16), static_cast<unsigned>((bh + 3) / 4), 1);
        Debug::_CheckGLError("RELEASE", __LINE__);
        glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT |
                        GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT);
        Debug::_CheckGLError("RELEASE", __LINE__);
        sunShadow.ShadeSamples(*LightingStencil, &list, sparse[2], bindField);
        if (const unsigned reflection = UseCompute(*LightingStencil, "Reflection", &list)) {
          BindImage(reflection, sparseImages[1], 3, sparse[1], 0, sparseImageFormats[1]);
          bindField(reflection);
          DispatchIndirect(glossy.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT);
        }
      }
    }
    if (LightingStencil && haveField) {
      PassScope timer("Lighting");
      const unsigned program = UseCompute(*LightingStencil, "GlobalIllumination", &list);
      NoteLightmapReader();
      // The pixels the sparse samples leave without light, for the
      // "Fallback" pass.
      static WorkList fallback;
      // The emission blends into the written image and later passes sample it.
      const GLbitfield written =
          GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_FRAMEBUFFER_BARRIER_BIT | GL_TEXTURE_FETCH_BARRIER_BIT;
      if (program != 0) {
        fallback.Reset(static_cast<size_t>(Layer1->Width) * Layer1->Height, 1);
        sunShadow.ListEdges(static_cast<size_t>(Layer1->Width) * Layer1->Height);
        BindImage(program, "img_output", 0, Layer1, 0, GL_RGBA16F);
        bindField(program);
        // Groups of 20 x 20 pixels, rounded up: the shader skips what lies
        // outside the image.
        glDispatchCompute(static_cast<unsigned>((Layer1->Width + 19) / 20),
                          static_cast<unsigned>((Layer1->Height + 19) / 20), 1);
        Debug::_CheckGLError("RELEASE", __LINE__);
        glMemoryBarrier(written | GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT);
        Debug::_CheckGLError("RELEASE", __LINE__);
      }
      const unsigned rest = program != 0 && sparseReady ? UseCompute(*LightingStencil, "Fallback", &list) : 0;
      if (rest != 0) {
        BindImage(rest, "img_output", 0, Layer1, 0, GL_RGBA16F);
        bindField(rest);
        DispatchIndirect(fallback.Groups(), written);
      }
      if (program != 0) sunShadow.ShadeEdges(*LightingStencil, &list, Layer1, bindField);
    }
    for (RenderTexture* t : sparse) {
      if (t != nullptr) RenderTextureGuy::Done(t);
    }
    SaneGL::Blend(true);
    SaneGL::BlendFuncSeparate(SaneGL::BlendFunction::One, SaneGL::BlendFunction::One,
                              SaneGL::BlendFunction::One, SaneGL::BlendFunction::One);
    if (!VisualizeVoxels->value) {
      PassScope timer("Emission");
      cameraDraws("Emission", true,
                  [&](DrawEntry& e, UniformBuffer& d) {
                    return WithoutNulls({&time, &camera, &field, &d, &std::get<6>(e), std::get<5>(e)});
                  },
                  Emits);
    }
  }
  SaneGL::Blend(false);
  SaneGL::StateSync();
  RenderTextureGuy::UseTexDone();

  // Nothing samples the lightmap in the shipped shaders: then it costs nothing.
  if (UpdateGI->value && LightmapRead && TempLightmapStopgapShit != nullptr) {
    PassScope timer("Lightmap");
    SaneGL::StatePush();
    RenderTextureGuy::UseTexs({TempLightmapStopgapShit}, {}, {2}, nullptr);
    SaneGL::Viewport(0, 0, 256, 256);
    SaneGL::ColorWrite(true, true, true, true);
    SaneGL::CullFace(SaneGL::FaceSide::None);
    SaneGL::StateSync();
    surface.SetFloat("PatchLowestMip", 2.0f);
    surface.SetFloat("PatchLastMip", 2.0f);
    surface.SetFloat("PatchSub", 2.0f);
    surface.CalculateHash();
    cameraDraws("LightmapGI", false,
                [&](DrawEntry& e, UniformBuffer& d) {
                  return WithoutNulls({&time, &camera, &field, &d, &surface, &std::get<6>(e), &is, std::get<5>(e)});
                },
                all);
    RenderTextureGuy::UseTexDone();
    SaneGL::StatePop();
  }

  {
    PassScope timer("Motion");
    RenderTextureGuy::UseTexs({motion}, BufferDepthLayer1);
    std::vector<UniformBuffer*> list = {&time, &camera, &field, &surface};
    if (FillMotionBuffer) {
      FillMotionBuffer->Use(&list);
      NoteLightmapReader();
      Draw::Blit(Layer1);
    }
    RenderTextureGuy::UseTexDone();
    SaneGL::DepthWrite(true);
    SaneGL::StateSync();
  }

  surface.SetFloat("TemporalSSExponent", TemporalSSExponent->value);
  surface.SetFloat("TemporalUpsampling", sw != w || sh != h ? 1.0f : 0.0f);
  surface.SetFloat("Exposure", Exposure->value);
  surface.SetFloat("_HistoryCap", HistoryCap());
  surface.CalculateHash();

  if (TemporalSS->value && TemporallyAntialias) {
    PassScope timer("Temporal");
    RenderTextureGuy::UseTexs({oldLayer2, newness2});
    std::vector<UniformBuffer*> list = {&time, &camera, &field, &surface};
    static TemporalFill fill;
    fill.Begin(static_cast<size_t>(w) * h);
    TemporallyAntialias->Use(&list);
    NoteLightmapReader();
    Draw::Blit(Layer1);
    RenderTextureGuy::UseTexDone();
    fill.Run(*TemporallyAntialias, list, Layer1, oldLayer2);
    std::swap(c->Newness1, c->Newness2);
    std::swap(c->OldLayer1, c->OldLayer2);
  }

  // The whole-screen passes below run without depth testing; going through
  // the cache keeps its mirror honest (the next frame forces it anyway).
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  SaneGL::StateSync();

  Texbit* finalInput = TemporalSS->value ? c->OldLayer1 : static_cast<Texbit*>(Layer1);
  if (FrameCapture::Capturing() && thing == CameraThings.front()) FrameCapture::TakeLinear(*finalInput);
  if (FinalBlitEn->value && FinalBlit) {
    PassScope timer("Present");
    // The picture fills the window whatever size it was rendered at (a
    // "Screen Resolution" below a full-screen window's): the present pass
    // scales it.
    const glm::vec2 window(Shutter::Width(), Shutter::Height());
    SaneGL::Viewport(0, 0, static_cast<int>(window.x), static_cast<int>(window.y));
    SaneGL::StateSync();
    UniformBuffer present;
    present.SetFloat("_PresentRescale",
                     finalInput->Width != static_cast<int>(window.x) || finalInput->Height != static_cast<int>(window.y)
                         ? 1.0f
                         : 0.0f);
    present.SetFloat("_MotionBlur", MotionBlur->value ? 1.0f : 0.0f);
    present.CalculateHash();
    std::vector<UniformBuffer*> list = {&time, &camera, &field, &surface, &present};
    FinalBlit->Use(&list);
    NoteLightmapReader();
    Draw::Blit(finalInput);
  }
  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);

  handBack();
}

void RenderSystem::QueueFrameRateText() {
  std::ostringstream a;
  a << std::fixed << std::setprecision(0) << (1000.0f / lastFPS) << "fps";
  std::ostringstream b;
  b << std::fixed << std::setprecision(2) << lastFPS << "ms";
  GUIStyle style = GUI::Default.Click;
  style.HAlign = FlyCamSystem::pause ? GUIStyle::TextHAlign::Right : GUIStyle::TextHAlign::Left;
  const float x = FlyCamSystem::pause ? Shutter::Width() - 100.0f : 0.0f;
  const float H = Shutter::Height();
  GUI::DrawText(glm::vec2(x, H - 24.0f), glm::vec2(100.0f, 24.0f), &style, a.str());
  GUI::DrawText(glm::vec2(x, H - 48.0f), glm::vec2(100.0f, 24.0f), &style, b.str());
}

void RenderSystem::QueuePerformancePanel() {
  const glm::vec2 window(Shutter::Width(), Shutter::Height());
  const PerformanceLayout layout =
      PerformanceWidgetsLayout(window, SidePanelLayout(window.y), PassTimers::TableSize());
  TargetFrameTime->DrawGUI(layout.TargetPos, layout.RowSize);
  RenderScale->DrawGUI(layout.ScalePos, layout.RowSize);
  if (layout.TableSize.y > 0.0f) PassTimers::DrawTable(layout.TablePos + glm::vec2(layout.TableSize.x, layout.TableSize.y));
}

void RenderSystem::DrawGUI() {
  PassScope timer("GUI");
  // Pixel-space orthographic projection, premultiplied blending, no depth.
  SaneGL::CullFace(SaneGL::FaceSide::None);
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  SaneGL::Blend(true);
  SaneGL::BlendEquationSeparate(SaneGL::BlendEquation::Add, SaneGL::BlendEquation::Add);
  SaneGL::BlendFuncSeparate(SaneGL::BlendFunction::One, SaneGL::BlendFunction::OneMinusSrcAlpha,
                            SaneGL::BlendFunction::SrcAlpha, SaneGL::BlendFunction::OneMinusSrcAlpha);
  SaneGL::Multisample(false);
  SaneGL::ColorWrite(true, true, true, true);
  SaneGL::Viewport(0, 0, static_cast<int>(Shutter::Width()), static_cast<int>(Shutter::Height()));
  SaneGL::StateSync();

  UniformBuffer gui;
  const glm::mat4 projection = GUI::PixelProjection();
  gui.SetMatrix4("_WorldToView_Past", projection);
  gui.SetMatrix4("_WorldToView", projection);
  gui.SetMatrix4("_InvWorldToView", Draw::AffineInverse(projection).WorldToLocal);
  gui.SetMatrix4("_WorldToCamera", glm::mat4(1.0f));
  gui.SetVector("_CameraPos", glm::vec3(0.0f));

  std::vector<DrawEntry> queue = DrawSystem::guidrawthings;
  for (DrawEntry& e : queue) {
    Resource<Shader>& shader = std::get<4>(e);
    if (!shader) continue;
    std::vector<UniformBuffer*> list = WithoutNulls({std::get<5>(e), &std::get<6>(e), &gui});
    shader->Use(&list);
    SaneGL::SetMatrix4("_LocalToWorld_Past", std::get<3>(e));
    SaneGL::SetMatrix4("_WorldToLocal_Past", Draw::AffineInverse(std::get<3>(e)).WorldToLocal);
    if (std::get<0>(e)) Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
  }
  SaneGL::Blend(false);
  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
  SaneGL::Multisample(true);
  SaneGL::StateSync();
}

}  // namespace KestorEngine
