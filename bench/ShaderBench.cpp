// Costs of the per-draw shader path: making a pass current on an existing
// variant with a frame's typical buffers (variant key, lookup, staging of
// every value), and hashing a camera's uniform buffer.
#include <benchmark/benchmark.h>


#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "engine/File.h"
#include "render/Shader.h"
#include "render/ShaderPass.h"
#include "render/ShaderSource.h"
#include "render/ShaderUniform.h"
#include "BenchContext.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"

using namespace KestorEngine;

namespace {

bool EnsureContext() { return KestorBench::EnsureGLContext(); }

// The matrices, rays and sizes the renderer puts in a camera's buffer.
void FillCamera(UniformBuffer& camera) {
  glm::mat4 m(1.0f);
  m[3] = glm::vec4(1, 2, 3, 1);
  for (const char* name : {"_WorldToView_Past", "_WorldToView", "_AAWorldToView_Past",
                           "_AAWorldToView", "_InvWorldToView_Past", "_InvWorldToView",
                           "_AAInvWorldToView_Past", "_AAInvWorldToView", "_WorldToCamera"}) {
    camera.SetMatrix4(name, m);
  }
  camera.SetVector("_AAJitter", glm::vec2(0.25f, -0.25f));
  camera.SetVector("_CameraPos", glm::vec3(1, 2, 3));
  for (const char* name : {"RayTopLeft", "RayTopRight", "RayBottomLeft", "RayBottomRight",
                           "RayCenter"}) {
    camera.SetVector(name, glm::vec3(0.5f, 0.5f, -1.0f));
  }
  camera.SetVector("ScreenSize", glm::vec4(1280, 720, 1.0f / 1280, 1.0f / 720));
}

const char* const kDrawShader = R"(<Shader Name="Bench"><Uniforms/><Passes><Pass Name="Deferred">
<V>#version 430 core
in vec3 position;
uniform mat4 _LocalToWorld;
uniform mat4 _WorldToView;
void main() { gl_Position = _WorldToView * _LocalToWorld * vec4(position, 1.0); }
</V><F>#version 430 core
[PreCompile] uniform float Exposure;
uniform vec4 Tint;
uniform vec3 _CameraPos;
uniform vec4 Time;
out vec4 color;
void main() { color = Tint * Exposure + vec4(_CameraPos, Time.x); }
</F></Pass></Passes></Shader>)";

// `throughShader` adds what Shader::Use does around the pass: the throttled
// file check (a clock read) and the pass lookup by name.
void UseExistingVariant(benchmark::State& state, bool throughShader) {
  if (!EnsureContext()) {
    state.SkipWithError("no GL context (run under a display)");
    return;
  }
  std::ostringstream quiet;
  std::streambuf* console = std::cout.rdbuf(quiet.rdbuf());
  Shader shader;
  shader.LoadFromSource(kDrawShader);

  UniformBuffer time, camera, draw, material;
  time.SetVector("Time", glm::vec4(1, 0, 0, 60));
  time.SetFloat("Exposure", 1.5f);
  FillCamera(camera);
  draw.SetMatrix4("_LocalToWorld", glm::mat4(2.0f));
  material.SetVector("Tint", glm::vec4(1, 0.5f, 0.25f, 1));
  material.SetFloat("Roughness", 0.5f);
  for (UniformBuffer* buffer : {&time, &camera, &draw}) buffer->CalculateHash();
  std::vector<UniformBuffer*> buffers{&time, &camera, &draw, &material};
  shader.Use(&buffers);  // builds the variant
  SaneGL::StateSync();
  std::cout.rdbuf(console);

  ShaderPass* pass = shader.Passes.at(DefaultPass);
  SaneGL::ResetCallCounts();
  for (auto _ : state) {
    if (throughShader) {
      shader.Use(&buffers);
    } else {
      pass->Use(&buffers);
    }
    benchmark::ClobberMemory();
  }
  state.counters["GL calls/iter"] = benchmark::Counter(
      static_cast<double>(SaneGL::CallCounts().Changes()), benchmark::Counter::kAvgIterations);
  size_t values = 0;
  for (UniformBuffer* buffer : buffers) values += buffer->Uniforms.size();
  state.counters["values"] = static_cast<double>(values);

  std::cout.rdbuf(quiet.rdbuf());
  SaneGL::UseProgram(SaneGL::Program());
  SaneGL::StateSync();
  std::cout.rdbuf(console);
}
void BM_ShaderPassUseExistingVariant(benchmark::State& state) { UseExistingVariant(state, false); }
BENCHMARK(BM_ShaderPassUseExistingVariant);

void BM_ShaderUseExistingVariant(benchmark::State& state) { UseExistingVariant(state, true); }
BENCHMARK(BM_ShaderUseExistingVariant);

void BM_UniformBufferCalculateHashCamera(benchmark::State& state) {
  UniformBuffer camera;
  FillCamera(camera);
  for (auto _ : state) {
    camera.CalculateHash();
    benchmark::DoNotOptimize(camera.Hash);
  }
  state.counters["entries"] = static_cast<double>(camera.Uniforms.size());
}
BENCHMARK(BM_UniformBufferCalculateHashCamera);

// Start-up cost of a stage made of many include lines of one small file;
// the expansion should grow with the text it builds, not with its square.
void BM_IncludeExpansion(benchmark::State& state) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kestor-bench-includes";
  std::filesystem::create_directories(folder / "Shaders");
  std::ofstream(folder / "Shaders" / "Piece.glinc") << "float piece() { return 1.0; }\n";
  const std::string saved = File::AssetsPath;
  File::AssetsPath = folder.string() + File::PathSeparator;
  std::string text;
  for (int64_t i = 0; i < state.range(0); ++i) text += "#include \"Piece\"\n";
  size_t bytes = 0;
  for (auto _ : state) {
    PrecompilePositions positions;
    const std::string expanded = IncludeWoop(text, IncludeCache(), positions, true);
    bytes = expanded.size();
    benchmark::DoNotOptimize(expanded.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  File::AssetsPath = saved;
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_IncludeExpansion)->Arg(2000)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace
