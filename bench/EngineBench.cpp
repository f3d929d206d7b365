// Costs of the engine spine's per-frame and per-entity paths.
#include <benchmark/benchmark.h>

#include <string>

#include "engine/Component.h"
#include "engine/Engine.h"

using namespace KestorEngine;

namespace {

struct Payload : Component {
  float value = 0;
};

// One pass over a list as the frame loop sees it: 9 systems in 61 slots.
void BM_RunUpdatePass(benchmark::State& state) {
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  int calls = 0;
  for (size_t i : {5, 10, 15, 16, 31, 41, 46, 47, 56}) {
    engine.UpdateList.resize(61);
    engine.UpdateList[i] = [&calls] {
      ++calls;
      return std::string();
    };
  }
  for (auto _ : state) RunStageList(engine.UpdateList, KestorEngineFlyHahaJk::SkippedUpdateIndex);
  benchmark::DoNotOptimize(calls);
}
BENCHMARK(BM_RunUpdatePass);

void BM_ComponentLookup(benchmark::State& state) {
  for (int i = 0; i < 1024; ++i) {
    ComponentHandler<Payload>::Gimmoo(Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(i));
  }
  int id = 0;
  for (auto _ : state) {
    Payload* p = ComponentHandler<Payload>::Get(Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(id));
    benchmark::DoNotOptimize(p);
    id = (id + 1) & 2047;
  }
}
BENCHMARK(BM_ComponentLookup);

void BM_GimmeAndRelease(benchmark::State& state) {
  for (int i = 0; i < 1000; ++i) Thing::Gimme();
  for (auto _ : state) {
    Thing t = Thing::Gimme();
    Thing::HereItsBunk(t);
  }
}
BENCHMARK(BM_GimmeAndRelease);

}  // namespace
