// Per-frame costs of the scene systems: the transform pass over a level-sized
// hierarchy, the input pump's matching of a busy frame, and the mesh
// renderers filling the draw queue and the renderer ordering it.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <glm/gtc/quaternion.hpp>

#include <algorithm>
#include <iostream>
#include <vector>

#include "engine/Engine.h"
#include "render/DrawSystem.h"
#include "scene/InputSystem.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"

using namespace KestorEngine;

namespace {

// `count` transforms; every second one hangs under the one before it, so
// half the pass reaches parents already computed in the same pass.
void BM_TransformPass(benchmark::State& state) {
  KestorEngineFlyHahaJk engine;
  TransformSystem::Attach(&engine);
  const int count = static_cast<int>(state.range(0));
  Transform* previous = nullptr;
  for (int i = 0; i < count; ++i) {
    Thing t = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(t);
    Transform* transform = ComponentHandler<Transform>::Get(t);
    transform->Position = glm::vec3(static_cast<float>(i), 1.0f, 2.0f);
    transform->Rotation = glm::angleAxis(0.01f * static_cast<float>(i), glm::vec3(0, 0, 1));
    transform->Scale = glm::vec3(1.0f + 0.001f * static_cast<float>(i));
    transform->Parent = (i % 2 == 1) ? previous : nullptr;
    previous = transform;
  }
  for (auto _ : state) TransformSystem::MAKETHEMATERIALREALITY(&engine);
  state.SetItemsProcessed(state.iterations() * count);
  TransformSystem::BasicallyEverything.clear();
  for (bool& used : Thing::ThingsUsed) used = false;
}
BENCHMARK(BM_TransformPass)->Arg(64)->Arg(1024)->Arg(8192);

// A frame of 64 key presses through the 38 bindings, fed without SDL's queue.
void BM_InputMatching(benchmark::State& state) {
  if (InputSystem::InputMappingFrom.empty()) InputSystem::ItWoruldHaveBeenFunToHaveInstancedSystemsXD();
  SDL_Event press{};
  press.type = SDL_KEYDOWN;
  press.key.type = SDL_KEYDOWN;
  press.key.keysym.scancode = SDL_SCANCODE_C;
  press.key.keysym.mod = KMOD_LCTRL;
  for (auto _ : state) {
    InputSystem::BeginFrame(glm::vec2(0.0f));
    for (int i = 0; i < 64; ++i) InputSystem::Receive(press, nullptr);
    InputSystem::EndFrame(0);
    benchmark::DoNotOptimize(InputSystem::InputEvents.data());
  }
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_InputMatching);

// `count` renderers over 8 materials, as a level shares them. One frame:
// submission, the renderer's sorted copy, and the clear.
void BM_MeshRendererFrame(benchmark::State& state) {
  KestorEngineFlyHahaJk engine;
  TransformSystem::Attach(&engine);
  MeshRendererSystem::Attach(&engine);
  std::vector<Resource<Material>> materials;
  for (int i = 0; i < 8; ++i) materials.push_back(Resources<Material>::Make("Bench" + std::to_string(i)));
  Resource<Mesh> mesh = Resources<Mesh>::Make("BenchMesh");
  const int count = static_cast<int>(state.range(0));
  std::vector<Thing> things;
  {
    // Every renderer starts on the fallback material, which prints as it loads.
    std::streambuf* console = std::cout.rdbuf(nullptr);
    for (int i = 0; i < count; ++i) {
      Thing t = Thing::Gimme();
      things.push_back(t);
      ComponentHandler<Transform>::Gimmoo(t);
      ComponentHandler<MeshRenderer>::Gimmoo(t);
      MeshRenderer* r = ComponentHandler<MeshRenderer>::Get(t);
      r->Mesh = mesh;
      r->Materials = {materials[static_cast<size_t>(i) % materials.size()]};
    }
    std::cout.rdbuf(console);
  }
  for (auto _ : state) {
    MeshRendererSystem::MAKEITpretty(&engine);
    std::vector<DrawEntry> sorted = DrawSystem::drawthings;
    SortForDrawing(sorted);
    benchmark::DoNotOptimize(sorted.data());
    DrawSystem::ClearCache();
  }
  state.SetItemsProcessed(state.iterations() * count);
  for (Thing t : things) Thing::HereItsBunk(t);
}
BENCHMARK(BM_MeshRendererFrame)->Arg(13)->Arg(1024);

}  // namespace
