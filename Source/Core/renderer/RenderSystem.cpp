#include "renderer/RenderSystem.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <string>
#include <utility>

#include "engine/CVar.h"
#include "engine/Component.h"
#include "engine/Debug.h"
#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "render/Draw.h"
#include "render/Texbit.h"
#include "renderer/Curtain.h"
#include "renderer/ComputePass.h"
#include "renderer/FrameCapture.h"
#include "renderer/FrameGraph.h"
#include "renderer/FramePasses.h"
#include "renderer/FrameResources.h"
#include "renderer/PassTable.h"
#include "renderer/HelpOverlay.h"
#include "renderer/PassTimers.h"
#include "renderer/RenderSettings.h"
#include "renderer/SidePanel.h"
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

void RenderSystem::BindMarchImages(unsigned program, const LightField& l) {
  BindImage(program, "img_fieldMaterial", 5, l.MaterialVolume, 0, GL_RG32UI, GL_READ_ONLY);
  BindImage(program, "img_fieldFacing", 6, l.FacingVolume, 0, GL_R32UI, GL_READ_ONLY);
  BindImage(program, "img_fieldEmission", 7, l.EmissionVolume, 0, GL_RGBA16F, GL_READ_ONLY);
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

namespace {

// The curtain keeps its own fixed-step clock on the frame's time and
// collides with the first light field's occupancy.
void StepCurtain(float now) {
  Texbit* skip = nullptr;
  glm::mat4 fieldLocalToWorld(1.0f);
  if (!RenderSystem::LitThings.empty()) {
    LightField* l = ComponentHandler<LightField>::Get(RenderSystem::LitThings.front());
    Transform* lt = ComponentHandler<Transform>::Get(RenderSystem::LitThings.front());
    if (l != nullptr) skip = l->SkipVolume;
    if (lt != nullptr) fieldLocalToWorld = lt->World;
  }
  glm::vec3 cameraPosition(0.0f);
  if (!RenderSystem::CameraThings.empty()) {
    if (Transform* ct = ComponentHandler<Transform>::Get(RenderSystem::CameraThings.front())) {
      cameraPosition = ct->Position;
    }
  }
  ClothFrame(SDL_GetKeyboardState(nullptr), now, cameraPosition, skip, fieldLocalToWorld);
}

// What every pass of the frame reads: the sorted scene queue, the time, the
// area lights and the ray frames.
void PrepareInputs(FrameInputs& in, KestorEngineFlyHahaJk* engine) {
  in.Engine = engine;
  in.Queue = DrawSystem::drawthings;
  SortForDrawing(in.Queue);
  in.Time.SetVector("Time", glm::vec4(Now(engine), 0.0f, 0.0f, static_cast<float>(RenderSystem::frameCounter)));
  in.Time.CalculateHash();
  RenderSystem::FillISUniforms(in.IS);
  RenderSystem::MatchAreaEmitters(in.IS, in.Queue);
  in.IS.CalculateHash();
  RenderSystem::FillQuickrayUniforms(in.Quickray);
  if (!RenderSystem::LitThings.empty()) in.First = ComponentHandler<LightField>::Get(RenderSystem::LitThings.front());
}

// The live passes that run for `runs`, in table order, each timed under its
// label; what a pass wrote is noted, and the histories it names swap.
void RunPasses(PassContext& ctx, RunsFor runs, const std::vector<bool>& live, const std::vector<bool>& dropped) {
  const std::vector<PassSpec>& passes = ctx.Table.Passes;
  for (size_t k = 0; k < passes.size(); ++k) {
    const PassSpec& p = passes[k];
    if (p.Runs != runs || !live[k] || (k < dropped.size() && dropped[k])) continue;
    if (p.Needed != nullptr && !p.Needed(ctx)) continue;
    if (!p.Timer.empty()) PassTimers::Begin(p.Timer.c_str());
    const bool ran = p.Run(ctx);
    if (!p.Timer.empty()) PassTimers::End();
    if (!ran) continue;
    ctx.Written.insert(p.Writes.begin(), p.Writes.end());
    for (const std::string& name : p.Swaps) {
      const ResourceSpec* r = ctx.Table.Find(name);
      if (r != nullptr && ctx.Camera != nullptr) SwapHistory(*r, *ctx.Camera->Targets);
    }
  }
}

}  // namespace

void NoteProgramReads(PassContext& ctx) {
  const unsigned program = CurrentProgram();
  if (program == 0) return;
  auto found = ctx.Frame.ProgramReads.find(program);
  if (found == ctx.Frame.ProgramReads.end()) {
    std::vector<std::string> reads;
    for (const ResourceSpec& r : ctx.Table.Resources) {
      if (r.Probed && glGetUniformLocation(program, r.Name.c_str()) >= 0) reads.push_back(r.Name);
    }
    Debug::_CheckGLError("RELEASE", __LINE__);
    found = ctx.Frame.ProgramReads.emplace(program, std::move(reads)).first;
  }
  ctx.Frame.Sampled.insert(found->second.begin(), found->second.end());
}

void RenderSystem::LightFieldStage(Thing t, const PassTable& table, FrameInputs& in, const std::vector<bool>& live) {
  FieldFrame field;
  PassContext ctx(table, in);
  ctx.Field = &field;
  if (!BeginField(ctx, t)) return;
  RunPasses(ctx, RunsFor::EachField, live, {});
  EndField(ctx);
}

void RenderSystem::RenderCamera(Thing t, const PassTable& table, FrameInputs& in, const std::vector<bool>& live) {
  CameraFrame camera;
  camera.First = !CameraThings.empty() && t == CameraThings.front();
  PassContext ctx(table, in);
  ctx.Camera = &camera;
  std::vector<bool> dropped(table.Passes.size(), false);
  if (!BeginCamera(ctx, t, live, dropped)) return;
  RunPasses(ctx, RunsFor::EachCamera, live, dropped);
  EndCamera(ctx);
}

void RenderSystem::RenderFrame(KestorEngineFlyHahaJk* engine) {
  if (FlyCamSystem::pause && ShowOverlay) RenderSidePanel();
  const float now = Now(engine);
  SimulationStep(now);
  CPUFPSWaiter = WallNow(engine);
  StepCurtain(now);
  SetupShaderResources();
  SetupLightmap();

  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
  SaneGL::CullFace(SaneGL::FaceSide::Back);
  SaneGL::Blend(false);
  SaneGL::DepthWrite(true);
  SaneGL::StateSyncForce();

  const PassTable& table = Table != nullptr ? *Table : FrameTable();
  FrameInputs in;
  PrepareInputs(in, engine);
  // A probed resource (the lightmap) is drawn for last frame's readers: it
  // is a frame late for them either way, and then the pass order does not
  // matter.
  std::set<std::string> asked = SampledLastFrame;
  asked.insert(ReadAfterFrame.begin(), ReadAfterFrame.end());
  if (FrameCapture::Capturing()) asked.insert("Capture");
  const std::vector<bool> live = table.Live(table.Switched(), asked);
  for (Thing t : std::vector<Thing>(LitThings)) LightFieldStage(t, table, in, live);
  in.SettlingEnded = in.WasSettling && !in.Settling;
  for (Thing t : std::vector<Thing>(CameraThings)) RenderCamera(t, table, in, live);

  if (ShowOverlay) QueueFrameRateText();
  if (ShowOverlay) HelpOverlay::Queue();
  if (ShowOverlay && FlyCamSystem::pause) QueuePerformancePanel();
  PassContext ctx(table, in);
  RunPasses(ctx, RunsFor::Frame, live, {});
  SampledLastFrame = std::move(in.Sampled);
  PassTimers::FrameDone();
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

bool DrawGUIQueue(PassContext&) {
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
    std::vector<UniformBuffer*> list = {&std::get<6>(e), &gui};
    if (std::get<5>(e) != nullptr) list.insert(list.begin(), std::get<5>(e));
    shader->Use(&list);
    SaneGL::SetMatrix4("_LocalToWorld_Past", std::get<3>(e));
    SaneGL::SetMatrix4("_WorldToLocal_Past", Draw::AffineInverse(std::get<3>(e)).WorldToLocal);
    if (std::get<0>(e)) Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
  }
  SaneGL::Blend(false);
  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
  SaneGL::Multisample(true);
  SaneGL::StateSync();
  return true;
}

}  // namespace KestorEngine
