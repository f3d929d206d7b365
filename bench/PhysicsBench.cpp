// Per-frame costs of the host-started picking: the slab test alone, refitting
// and casting through a field of colliders, and a retained-widget frame
// (hover ray, clicks, styles into every widget's uniforms).
#include <benchmark/benchmark.h>

#include <iostream>
#include <random>
#include <vector>

#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUISystem.h"
#include "render/Mesh.h"
#include "scene/Camera.h"
#include "scene/MeshRenderer.h"
#include "scene/Physics.h"
#include "scene/Transform.h"

using namespace KestorEngine;

namespace {

void Reset() {
  PhysicsSystem::CollidableThings.clear();
  GUISystem::GUIStates.clear();
  GUISystem::CameraThings.clear();
  TransformSystem::BasicallyEverything.clear();
  for (int i = 0; i < Thing::MaxThings; ++i) {
    Thing t = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(i);
    ComponentHandler<Transform>::Components[t.ID].InUse = false;
    ComponentHandler<Collider>::Components[t.ID].InUse = false;
    ComponentHandler<GUIState>::Components[t.ID].InUse = false;
    ComponentHandler<Camera>::Components[t.ID].InUse = false;
    Thing::ThingsUsed[i] = false;
  }
  for (auto* list : {&ComponentHandler<Collider>::GoodYumidk, &ComponentHandler<Transform>::GoodYumidk,
                     &ComponentHandler<GUIState>::GoodYumidk, &ComponentHandler<Camera>::GoodYumidk}) {
    list->clear();
  }
}

// Rays from around the origin at random boxes: about half hit.
void BM_IntersectCoarse(benchmark::State& state) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-1, 1);
  std::vector<Ray> rays(1024);
  for (Ray& r : rays) r = Ray{{u(rng), u(rng), u(rng)}, {u(rng), u(rng), -1}};
  const glm::vec3 lo(-0.5f, -0.5f, -6), hi(0.5f, 0.5f, -5);
  size_t i = 0;
  float t = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Physics::IntersectCoarse(rays[i++ & 1023], lo, hi, &t));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IntersectCoarse);

// `count` unit cubes on a grid in front of the origin.
void MakeColliders(KestorEngineFlyHahaJk& engine, Mesh& cube, int count) {
  Reset();
  TransformSystem::Attach(&engine);
  ComponentHandler<Collider>::GoodYumidk.push_back(&PhysicsSystem::GoodYumidk);
  ComponentHandler<Transform>::GoodYumidk.push_back(&PhysicsSystem::GoodYumidk);
  cube.BoundsMin = glm::vec3(-0.5f);
  cube.BoundsMax = glm::vec3(0.5f);
  for (int i = 0; i < count; ++i) {
    Thing t = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(t);
    ComponentHandler<Transform>::Get(t)->Position = glm::vec3(i % 32 - 16, (i / 32) % 32 - 16, -10 - i / 1024);
    ComponentHandler<Collider>::Gimmoo(t);
    ComponentHandler<Collider>::Get(t)->Mesh = &cube;
  }
  TransformSystem::MAKETHEMATERIALREALITY(&engine);
}

void BM_Refit(benchmark::State& state) {
  KestorEngineFlyHahaJk engine;
  Mesh cube;
  const int count = static_cast<int>(state.range(0));
  MakeColliders(engine, cube, count);
  for (auto _ : state) PhysicsSystem::IsRealityTemporallyCoherentEverywhere(&engine);
  state.SetItemsProcessed(state.iterations() * count);
  Reset();
}
BENCHMARK(BM_Refit)->Arg(64)->Arg(1024)->Arg(8000);

void BM_Raycast(benchmark::State& state) {
  KestorEngineFlyHahaJk engine;
  Mesh cube;
  const int count = static_cast<int>(state.range(0));
  MakeColliders(engine, cube, count);
  PhysicsSystem::IsRealityTemporallyCoherentEverywhere(&engine);
  const Ray ray{{0.2f, 0.1f, 0}, {0.01f, 0.02f, -1}};
  Collider* hit = nullptr;
  float distance = 0;
  for (auto _ : state) benchmark::DoNotOptimize(PhysicsSystem::Raycast(ray, &hit, &distance));
  state.SetItemsProcessed(state.iterations() * count);
  Reset();
}
BENCHMARK(BM_Raycast)->Arg(64)->Arg(1024)->Arg(8000);

// `count` widgets in a row, one camera, the pointer over one of them and a
// click every frame.
void BM_WidgetFrame(benchmark::State& state) {
  KestorEngineFlyHahaJk engine;
  Mesh quad;
  Reset();
  Shutter::Width(800);
  Shutter::Height(600);
  quad.BoundsMin = glm::vec3(-0.4f, -0.4f, 0);
  quad.BoundsMax = glm::vec3(0.4f, 0.4f, 0);
  ComponentHandler<Collider>::GoodYumidk.push_back(&PhysicsSystem::GoodYumidk);
  ComponentHandler<Transform>::GoodYumidk.push_back(&PhysicsSystem::GoodYumidk);
  ComponentHandler<GUIState>::GoodYumidk.push_back(&GUISystem::GoodYumidk);
  ComponentHandler<Camera>::GoodYumidk.push_back(&GUISystem::GoodYumidk);
  TransformSystem::Attach(&engine);

  Thing camera = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(camera);
  ComponentHandler<Camera>::Gimmoo(camera);
  ComponentHandler<Camera>::Get(camera)->FocalLength(24);
  ComponentHandler<Camera>::Get(camera)->UpdatePerspectiveMatrix();
  GUIStyle idle, hover;
  const int count = static_cast<int>(state.range(0));
  {
    std::streambuf* quiet = std::cout.rdbuf(nullptr);  // the fallback material's loading lines
    for (int i = 0; i < count; ++i) {
      Thing t = Thing::Gimme();
      ComponentHandler<Transform>::Gimmoo(t);
      ComponentHandler<Transform>::Get(t)->Position = glm::vec3(i % 32 - 16, (i / 32) % 16 - 8, -20);
      ComponentHandler<Collider>::Gimmoo(t);
      ComponentHandler<Collider>::Get(t)->Mesh = &quad;
      ComponentHandler<MeshRenderer>::Gimmoo(t);
      ComponentHandler<GUIState>::Gimmoo(t);
      GUIState* s = ComponentHandler<GUIState>::Get(t);
      s->IdleStyle = s->ActiveStyle = s->PressedStyle = &idle;
      s->HoverStyle = s->ActiveHoverStyle = &hover;
      ComponentHandler<GUIButton>::Gimmoo(t);
    }
    std::cout.rdbuf(quiet);
  }
  TransformSystem::MAKETHEMATERIALREALITY(&engine);
  PhysicsSystem::IsRealityTemporallyCoherentEverywhere(&engine);
  InputSystem::mousePos = glm::vec2(400, 300);
  const std::vector<InputEvent> events{InputSystem::PossibleActionClick, InputSystem::ActionClick};
  for (auto _ : state) GUISystem::IWillSupportALLUsecasestothenedoFtheWOrrlrllldd(&engine, events);
  state.SetItemsProcessed(state.iterations() * count);
  Reset();
}
BENCHMARK(BM_WidgetFrame)->Arg(16)->Arg(256);

}  // namespace
