// Costs of the texture paths a frame runs many times: binding through the
// unit allocator, and a frame's worth of pooled render passes once the pool
// is warm (which should allocate nothing and attach nothing new).
#include <benchmark/benchmark.h>


#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "render/FrameBuffer.h"
#include "render/RenderTextureGuy.h"
#include "render/Texbit.h"
#include "BenchContext.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"

using namespace KestorEngine;

namespace {

// The pool's passes start from a known viewport and a forced sync.
bool EnsureContext() {
  static bool ready = [] {
    if (!KestorBench::EnsureGLContext()) return false;
    SaneGL::Viewport(0, 0, 64, 64);
    SaneGL::StateSyncForce();
    return true;
  }();
  return ready;
}

bool Skip(benchmark::State& state) {
  if (EnsureContext()) return false;
  state.SkipWithError("no GL context (run under a display)");
  return true;
}

// The engine's progress lines would drown the report.
struct QuietStdout {
  std::ostringstream sink;
  std::streambuf* previous = std::cout.rdbuf(sink.rdbuf());
  ~QuietStdout() { std::cout.rdbuf(previous); }
};

std::vector<std::unique_ptr<Texbit>> MakeTextures(int count) {
  std::vector<std::unique_ptr<Texbit>> textures;
  for (int i = 0; i < count; ++i) {
    textures.push_back(std::make_unique<Texbit>(4, 4));
    textures.back()->ToGPU();
  }
  return textures;
}

// Re-binding a texture that holds its unit: allocator bookkeeping only.
void BM_BindAlreadyBound(benchmark::State& state) {
  if (Skip(state)) return;
  QuietStdout quiet;
  auto textures = MakeTextures(16);
  size_t next = 0;
  for (auto _ : state) {
    textures[next]->ToGPU();
    next = (next + 1) % textures.size();
  }
}
BENCHMARK(BM_BindAlreadyBound);

// One texture more than there are units, bound round-robin: every bind
// evicts the least recently used one and re-binds on GL.
void BM_BindWithEviction(benchmark::State& state) {
  if (Skip(state)) return;
  QuietStdout quiet;
  auto textures = MakeTextures(Texbit::TextureUnits + 1);
  size_t next = 0;
  for (auto _ : state) {
    textures[next]->ToGPU();
    next = (next + 1) % textures.size();
  }
}
BENCHMARK(BM_BindWithEviction);

// A small frame: a G-buffer pass of three targets with depth, a nested
// attachment-less pass, a half-size post pass, everything handed back.
void BM_PooledFrame(benchmark::State& state) {
  if (Skip(state)) return;
  QuietStdout quiet;
  DepthTexture depth(64, 64);
  auto frame = [&depth] {
    RenderTexture* albedo = RenderTextureGuy::GrabTex(64, 64, TextureFormats::RGBA8);
    RenderTexture* normal = RenderTextureGuy::GrabTex(64, 64, TextureFormats::RGBA16F);
    RenderTexture* motion = RenderTextureGuy::GrabTex(64, 64, TextureFormats::RG16F);
    RenderTexture* post = RenderTextureGuy::GrabTex(32, 32, TextureFormats::RGBA16F);
    RenderTextureGuy::UseTexs({albedo, normal, motion}, &depth);
    RenderTextureGuy::UseTex(64, 64);
    RenderTextureGuy::UseTexDone();
    RenderTextureGuy::UseTexDone();
    RenderTextureGuy::UseTex(post);
    RenderTextureGuy::UseTexDone();
    for (RenderTexture* t : {albedo, normal, motion, post}) RenderTextureGuy::Done(t);
  };
  frame();  // the first frame allocates and attaches
  const size_t pooled = RenderTextureGuy::Cache.size();
  SaneGL::ResetCallCounts();
  for (auto _ : state) frame();
  state.counters["SaneGL calls/frame"] = benchmark::Counter(
      static_cast<double>(SaneGL::CallCounts().Changes()), benchmark::Counter::kAvgIterations);
  state.counters["attachments/frame"] = benchmark::Counter(
      static_cast<double>(SaneGL::CallCounts()[SaneGL::GLCall::FramebufferTexture]),
      benchmark::Counter::kAvgIterations);
  if (RenderTextureGuy::Cache.size() != pooled) state.SkipWithError("a warm frame allocated");
  RenderTextureGuy::Deinitialize();
}
BENCHMARK(BM_PooledFrame);

}  // namespace
