// The curtain in the demonstration street: the cost of one fixed step (the
// 3,250 curtain particles with their 6,336 links, self-collision, the camera
// particle and the scene's collision voxels made from the voxelised street),
// hanging and lying on the street; and how close to real time the curtain
// moves when frames come at 1, 4 and 60 per second.
#include <SDL_scancode.h>
#include <benchmark/benchmark.h>

#include <ctime>
#include <iostream>
#include <sstream>

#include "BenchContext.h"
#include "engine/Component.h"
#include "engine/Engine.h"
#include "engine/Resource.h"
#include "engine/Scene.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "renderer/Curtain.h"
#include "renderer/DemoComposition.h"
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

const glm::vec3 DemoCamera(2.66f, -5.22f, 1.23f);

// The street level voxelised by a few tiny frames; returns its light field.
Thing VoxelisedStreet() {
  static Thing field = [] {
    std::ostringstream sink;
    std::streambuf* previous = std::cout.rdbuf(sink.rdbuf());
    auto* engine = new KestorEngineFlyHahaJk();
    RegisterLevelComponents();
    engine->PrepareStageLists();
    RenderSystem::Attach(engine);
    TransformSystem::Attach(engine);
    MeshRendererSystem::Attach(engine);
    Draw::Initialize();
    static Resource<Scene> level = Resources<Scene>::Get("StreetTest");
    Thing camera = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(camera);
    ComponentHandler<Camera>::Gimmoo(camera);
    ComponentHandler<Transform>::Get(camera)->Position = DemoCamera;
    Shutter::Width(64.0f);
    Shutter::Height(36.0f);
    ScreenResolution->value = glm::vec2(64.0f, 36.0f);
    FlyCamSystem::pause = false;
    for (int i = 0; i < 3; ++i) {
      TransformSystem::MAKETHEMATERIALREALITY(engine);
      MeshRendererSystem::MAKEITpretty(engine);
      RenderSystem::RenderFrame(engine);
      DrawSystem::ClearCache();
    }
    glFinish();
    std::cout.rdbuf(previous);
    return RenderSystem::LitThings.front();
  }();
  return field;
}

// A fresh curtain created by the C key against the street, as the demo does.
void CreateCurtain(float now) {
  ResetParticles();
  ResetConstraints();
  Uint8 keys[SDL_NUM_SCANCODES] = {};
  keys[SDL_SCANCODE_C] = 1;
  const Thing field = VoxelisedStreet();
  ClothFrame(keys, now, DemoCamera, ComponentHandler<LightField>::Get(field)->SkipVolume,
             ComponentHandler<Transform>::Get(field)->World);
}

void Detach() {
  for (int k = 0; k < ClothConstants::Strands; ++k) {
    Particles().InverseMass[Cloth().curtainFirst + ClothConstants::StrandParticles * k] =
        ClothConstants::CurtainInverseMass;
  }
}

double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One fixed step. Argument 0: hanging from its pins, just touching the
// street; 1: detached and lying on the street (every particle against it).
void BM_ClothStep(benchmark::State& state) {
  if (!KestorBench::EnsureGLContext()) {
    state.SkipWithError("no GL context (run under a display)");
    return;
  }
  CreateCurtain(0.0f);
  if (state.range(0) == 1) Detach();
  for (int s = 0; s < 240; ++s) StepCloth(DemoCamera, DemoCamera);
  for (auto _ : state) StepCloth(DemoCamera, DemoCamera);
  const ParticleArrays& P = Particles();
  state.counters["particles"] = static_cast<double>(P.SimulatedCount - 1);
  state.counters["links"] = static_cast<double>(Cloth().constraints.size());
  std::size_t occupied = 0;
  for (std::uint8_t cell : Cloth().scene.Cells) occupied += (cell & SceneVoxels::Occupied) ? 1 : 0;
  state.counters["scene"] = static_cast<double>(occupied);
}
BENCHMARK(BM_ClothStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Twenty seconds of frames that, without the curtain, take 1 / fps seconds each;
// the curtain's own work (measured as process CPU time) lengthens each. A
// detached curtain falls to the street meanwhile. "realtime" is simulated
// seconds per second of this pretend wall clock: 1 means the curtain keeps up.
void BM_ClothRealTime(benchmark::State& state) {
  if (!KestorBench::EnsureGLContext()) {
    state.SkipWithError("no GL context (run under a display)");
    return;
  }
  const double frame = 1.0 / static_cast<double>(state.range(0));
  const Thing field = VoxelisedStreet();
  Texbit* skip = ComponentHandler<LightField>::Get(field)->SkipVolume;
  const glm::mat4 world = ComponentHandler<Transform>::Get(field)->World;
  Uint8 keys[SDL_NUM_SCANCODES] = {};
  for (auto _ : state) {
    double wall = 0.0;
    CreateCurtain(static_cast<float>(wall));
    Detach();
    double clothSeconds = 0.0, lastFrameStart = 0.0;
    int frames = 0;
    while (wall < 20.0) {
      lastFrameStart = wall;
      const double start = ProcessSeconds();
      ClothFrame(keys, static_cast<float>(wall), DemoCamera, skip, world);
      const double spent = ProcessSeconds() - start;
      clothSeconds += spent;
      wall += frame + spent;
      ++frames;
    }
    // A frame simulates the time up to its own start, so the clock to
    // compare with is the last frame's start.
    const double simulated = Cloth().simsteps * static_cast<double>(ClothConstants::FixedStep);
    state.counters["realtime"] = simulated / lastFrameStart;
    state.counters["steps/frame"] = static_cast<double>(Cloth().simsteps) / frames;
    state.counters["cloth_ms/frame"] = 1000.0 * clothSeconds / frames;
  }
}
BENCHMARK(BM_ClothRealTime)->Arg(1)->Arg(4)->Arg(60)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
