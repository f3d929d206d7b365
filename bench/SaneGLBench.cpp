// Costs of the GL state layer's hot paths, and the GL calls each makes: a
// sync with nothing changed should issue none and cost well under a
// microsecond.
#include <benchmark/benchmark.h>


#include "BenchContext.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"

using namespace SaneGL;

namespace {

bool EnsureContext() { return KestorBench::EnsureGLContext(); }

// A frame's typical requested state: a program, a vertex array with its
// index buffer, a framebuffer, blending and a viewport, so that all five
// handles are non-empty.
struct TypicalState {
  Program program = Program::Create();
  Buffer vertices = Buffer::Create(BufferType::ArrayBuffer);
  Buffer indices = Buffer::Create(BufferType::ElementArrayBuffer);
  VertexArray array = VertexArray::Create();
  Framebuffer framebuffer = Framebuffer::Create();

  TypicalState() {
    array.BindElementArray(indices);
    StatePush();
    Shader vertex = Shader::Create(ShaderType::VertexShader);
    vertex.ShaderSource("#version 430 core\nvoid main() { gl_Position = vec4(0); }\n");
    vertex.CompileShader();
    Shader fragment = Shader::Create(ShaderType::FragmentShader);
    fragment.ShaderSource(
        "#version 430 core\nuniform float gain;\nout vec4 c;\nvoid main() { c = vec4(gain); }\n");
    fragment.CompileShader();
    program.AttachShader(vertex);
    program.AttachShader(fragment);
    program.LinkProgram();
    UseProgram(program);
    BindBuffer(vertices);
    BindVertexArray(array);
    BindFramebuffer(framebuffer);
    Blend(true);
    DepthTest(ValueComparison::LEqual);
    Viewport(0, 0, 64, 64);
    StateSyncForce();
  }
  ~TypicalState() {
    StatePop();
    StateSync();
  }
};

void ReportCalls(benchmark::State& state) {
  state.counters["GL calls/iter"] = benchmark::Counter(
      static_cast<double>(CallCounts().Changes()), benchmark::Counter::kAvgIterations);
}

bool Skip(benchmark::State& state) {
  if (EnsureContext()) return false;
  state.SkipWithError("no GL context (run under a display)");
  return true;
}

void BM_StateSyncNothingChanged(benchmark::State& state) {
  if (Skip(state)) return;
  TypicalState typical;
  ResetCallCounts();
  for (auto _ : state) StateSync();
  ReportCalls(state);
}
BENCHMARK(BM_StateSyncNothingChanged);

void BM_StateSyncOneFieldChanged(benchmark::State& state) {
  if (Skip(state)) return;
  TypicalState typical;
  bool on = false;
  ResetCallCounts();
  for (auto _ : state) {
    Blend(on);
    on = !on;
    StateSync();
  }
  ReportCalls(state);
}
BENCHMARK(BM_StateSyncOneFieldChanged);

// A pass's bracket: push, change two fields, sync, pop, sync back.
void BM_PassBracket(benchmark::State& state) {
  if (Skip(state)) return;
  TypicalState typical;
  ResetCallCounts();
  for (auto _ : state) {
    StatePush();
    DepthWrite(false);
    CullFace(FaceSide::Front);
    StateSync();
    StatePop();
    StateSync();
  }
  ReportCalls(state);
}
BENCHMARK(BM_PassBracket);

void BM_StatePushPop(benchmark::State& state) {
  if (Skip(state)) return;
  TypicalState typical;
  for (auto _ : state) {
    StatePush();
    StatePop();
  }
}
BENCHMARK(BM_StatePushPop);

// The same with empty handles: what copying the record costs without the
// five reference counts.
void BM_StatePushPopNoHandles(benchmark::State& state) {
  for (auto _ : state) {
    StatePush();
    StatePop();
  }
}
BENCHMARK(BM_StatePushPopNoHandles);

void BM_HandleCopy(benchmark::State& state) {
  if (Skip(state)) return;
  Buffer buffer = Buffer::Create(BufferType::ArrayBuffer);
  for (auto _ : state) {
    Buffer copy(buffer);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_HandleCopy);

void BM_StageUniformByHash(benchmark::State& state) {
  if (Skip(state)) return;
  TypicalState typical;
  std::uint64_t gain = std::hash<std::string>{}("gain");
  float value = 0;
  for (auto _ : state) SetFloat(gain, value += 1.0f);
}
BENCHMARK(BM_StageUniformByHash);

}  // namespace
