#pragma once
// Counts of the GL calls the state layer issues, one counter per kind. The
// cache exists to avoid redundant calls, so "how many calls did this make" is
// a number tests assert on and benchmarks report.
#include <array>
#include <cstdint>

namespace SaneGL {

enum class GLCall : int {
  // Pipeline state, issued by the synchronisations.
  ClearColor,
  ClearStencil,
  ClearDepth,
  ColorMask,
  DepthMask,
  StencilMask,
  Enable,
  Disable,
  CullFace,
  DepthFunc,
  LogicOp,
  BlendEquationSeparate,
  BlendFuncSeparate,
  PolygonMode,
  StencilOp,
  StencilFunc,
  UseProgram,
  BindVertexArray,
  BindBuffer,
  BindFramebuffer,
  Viewport,
  // Work and object operations.
  Clear,
  Uniform,
  DrawElements,
  BufferData,
  VertexAttribPointer,
  EnableVertexAttribArray,
  FramebufferTexture,
  FramebufferTextureLayer,
  DrawBuffers,
  FramebufferParameter,
  ShaderSource,
  CompileShader,
  AttachShader,
  BindAttribLocation,
  LinkProgram,
  CreateObject,
  DeleteObject,
  // Reads that change nothing: glGet*, info logs, uniform locations.
  Query,
  GetError,
  Count_
};

constexpr int kGLCallKinds = static_cast<int>(GLCall::Count_);

struct GLCallCounts {
  std::array<std::uint64_t, kGLCallKinds> byKind{};

  std::uint64_t operator[](GLCall kind) const { return byKind[static_cast<int>(kind)]; }
  // Pipeline-state calls only (ClearColor .. Viewport): what a redundant
  // synchronisation would waste.
  std::uint64_t StateCalls() const;
  // Everything except queries and error polls.
  std::uint64_t Changes() const;
  std::uint64_t Total() const;
};

const GLCallCounts& CallCounts();
void ResetCallCounts();
const char* GLCallName(GLCall kind);

namespace detail {
extern GLCallCounts callCounts;
inline void Count(GLCall kind) { ++callCounts.byKind[static_cast<int>(kind)]; }
}  // namespace detail

}  // namespace SaneGL
