// Costs of the audio mixer and the state interpolator per callback and per frame.
#include <benchmark/benchmark.h>

#include <vector>

#include "scene/AudioSystem.h"
#include "scene/StateInterpolator.h"

using namespace KestorEngine;

namespace {

Thing ThingOf(int id) { return Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(id); }

// One device buffer of 512 stereo frames with state.range(0) looping sounds.
void BM_MixBuffer(benchmark::State& state) {
  const int sounds = int(state.range(0));
  std::vector<float> samples(2 * 48000, 0.1f);
  AudioSystem::SoundThings.clear();
  for (int i = 0; i < sounds; ++i) {
    ComponentHandler<Sound>::Gimmoo(ThingOf(i));
    Sound& s = *ComponentHandler<Sound>::Get(ThingOf(i));
    s.Playing = true;
    s.Loop = true;
    s.Samples = samples.data();
    s.SampleCount = samples.size();
    s.StartTime = AudioSystem::start_time + i * 1000000;
    AudioSystem::SoundThings.push_back(ThingOf(i));
  }
  std::vector<float> out(2 * 512);
  SoundIoChannelArea areas[2] = {{reinterpret_cast<char*>(out.data()), 8}, {reinterpret_cast<char*>(out.data() + 1), 8}};
  for (auto _ : state) {
    AudioSystem::Mix(areas, 2, 512);
    AudioSystem::time += 512;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 512);
  AudioSystem::SoundThings.clear();
}
BENCHMARK(BM_MixBuffer)->Arg(1)->Arg(8)->Arg(64);

// One update over 256 Things with four eased variables each.
void BM_InterpolatorStep(benchmark::State& state) {
  std::vector<float> values(256 * 4, 0.0f);
  StateInterpolatorSystem::Interpolators.clear();
  const char* names[] = {"alpha", "scale", "offset", "glow"};
  for (int i = 0; i < 256; ++i) {
    ComponentHandler<StateInterpolator>::Gimmoo(ThingOf(i));
    StateInterpolator& si = *ComponentHandler<StateInterpolator>::Get(ThingOf(i));
    for (int n = 0; n < 4; ++n) {
      si.AddTarget(names[n], &values[4 * i + n]);
      si.SetTarget(names[n], 1.0f);
      si.SetTargetSpeed(names[n], 1e6f);
    }
    StateInterpolatorSystem::Interpolators.push_back(ThingOf(i));
  }
  for (auto _ : state) {
    StateInterpolatorSystem::Step(0.016f);
    benchmark::DoNotOptimize(values.data());
  }
  state.SetItemsProcessed(state.iterations() * 256 * 4);
  StateInterpolatorSystem::Interpolators.clear();
}
BENCHMARK(BM_InterpolatorStep);

}  // namespace
