// Per-frame costs of the scene systems: the transform pass over a level-sized
// hierarchy and the input pump's matching of a busy frame.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <glm/gtc/quaternion.hpp>

#include "engine/Engine.h"
#include "scene/InputSystem.h"
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

}  // namespace
