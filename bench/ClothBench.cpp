// One curtain frame: three substeps of grid building, collision search and
// ten solver sweeps over 3250 particles, then the display mesh upload.
#include <SDL_scancode.h>
#include <benchmark/benchmark.h>

#include <glm/mat4x4.hpp>

#include "BenchContext.h"
#include "renderer/Cloth.h"

using namespace KestorEngine;

namespace {

// The curtain as it hangs some frames after creation, then the frame.
void BM_ClothFrame(benchmark::State& state) {
  if (!KestorBench::EnsureGLContext()) {
    state.SkipWithError("no GL context");
    return;
  }
  ResetParticles();
  ResetConstraints();
  Uint8 keys[SDL_NUM_SCANCODES] = {};
  keys[SDL_SCANCODE_C] = 1;
  const glm::vec3 camera(0.0f, 0.0f, 1.5f);
  ClothFrame(keys, 0.016f, camera, nullptr, glm::mat4(1.0f));
  keys[SDL_SCANCODE_C] = 0;
  for (int f = 0; f < 30; ++f) ClothFrame(keys, 0.016f, camera, nullptr, glm::mat4(1.0f));
  for (auto _ : state) ClothFrame(keys, 0.016f, camera, nullptr, glm::mat4(1.0f));
  state.counters["particles"] = static_cast<double>(Particles().SimulatedCount);
}
BENCHMARK(BM_ClothFrame)->Unit(benchmark::kMillisecond);

// The same three substeps without the mesh upload: the CPU solver alone.
void BM_ClothSubsteps(benchmark::State& state) {
  ResetParticles();
  ResetConstraints();
  ResetStaticCollisionGrid();
  AddParticle(glm::vec3(0.0f, 0.0f, 1.5f), 0.5f, 0.0f);
  AddCloth();
  CreateCollisionStructureFromVoxels(nullptr, glm::mat4(1.0f));
  Cloth().simsteps = 30;
  for (auto _ : state) {
    for (int k = 0; k < 3; ++k) Simulate(0.016f / 3.0f);
  }
}
BENCHMARK(BM_ClothSubsteps)->Unit(benchmark::kMillisecond);

}  // namespace
