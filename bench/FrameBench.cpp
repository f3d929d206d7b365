// Whole frames of the demonstration street at a small resolution: level
// transforms, mesh submission and the full render pipeline (voxelisation,
// G-buffer, lighting compute, post passes), finished on the GPU each frame.
#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

#include <glm/gtc/quaternion.hpp>

#include "BenchContext.h"
#include "engine/Component.h"
#include "engine/Engine.h"
#include "engine/Resource.h"
#include "engine/Scene.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "sanegl/GL.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"

using namespace KestorEngine;

namespace {

struct QuietStdout {
  std::ostringstream sink;
  std::streambuf* previous = std::cout.rdbuf(sink.rdbuf());
  ~QuietStdout() { std::cout.rdbuf(previous); }
};

void BM_StreetFrame(benchmark::State& state) {
  if (!KestorBench::EnsureGLContext()) {
    state.SkipWithError("no GL context (run under a display)");
    return;
  }
  const int w = static_cast<int>(state.range(0));
  const int h = w * 9 / 16;
  QuietStdout quiet;
  static KestorEngineFlyHahaJk* engine = [] {
    auto* e = new KestorEngineFlyHahaJk();
    Transform::Attach();
    MeshRenderer::Attach();
    LightField::Attach();
    ISArea::Attach();
    ISContainer::Attach();
    e->PrepareStageLists();
    RenderSystem::Attach(e);
    TransformSystem::Attach(e);
    MeshRendererSystem::Attach(e);
    Draw::Initialize();
    return e;
  }();
  static Resource<Scene> level = Resources<Scene>::Get("StreetTest");
  static Thing camera = [] {
    Thing t = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(t);
    ComponentHandler<Camera>::Gimmoo(t);
    ComponentHandler<Camera>::Get(t)->FocalLength(24.0f);
    Transform* x = ComponentHandler<Transform>::Get(t);
    x->Position = glm::vec3(2.66f, -5.22f, 1.23f);
    x->Rotation = glm::quat(0.93937272f, 0.0f, 0.0f, 0.34289780f) * x->Rotation *
                  glm::quat(0.77418178f, 0.63296336f, 0.0f, 0.0f);
    return t;
  }();
  (void)camera;
  Shutter::Width(static_cast<float>(w));
  Shutter::Height(static_cast<float>(h));
  ScreenResolution->value = glm::vec2(w, h);
  FlyCamSystem::pause = false;

  // The second argument switches one stage off to show its share.
  CVar<bool>* stages[] = {nullptr,      UpdateVoxels, UpdateVoxelsHQ, UpdateAcceleration, RaycastScreen,
                          TemporalSS, CastIS,       CastGI,         CastSpecular};
  CVar<bool>* off = stages[state.range(1)];
  if (off != nullptr) off->value = false;

  auto frame = [&] {
    TransformSystem::MAKETHEMATERIALREALITY(engine);
    MeshRendererSystem::MAKEITpretty(engine);
    RenderSystem::RenderFrame(engine);
    DrawSystem::ClearCache();
    glFinish();
  };
  // The first frames compile the programs and fill the pool.
  for (int i = 0; i < 3; ++i) frame();
  for (auto _ : state) frame();
  if (off != nullptr) off->value = true;
}
// Targets made at the first size are kept (as in the program), so run one
// width per process (--benchmark_filter=BM_StreetFrame/320 or /1280).
// Second argument: 0 everything on, then without colour voxelisation, detail
// voxelisation, distance pass, lighting compute, temporal pass, and within
// the lighting the area lights, the bounce and the reflections.
BENCHMARK(BM_StreetFrame)
    ->ArgsProduct({{320}, {0, 1, 2, 3, 4, 5}})
    ->ArgsProduct({{1280}, {0, 4, 6, 7, 8}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

}  // namespace
