#include "sanegl/CallCounts.h"

namespace SaneGL {

namespace detail {
GLCallCounts callCounts;
}

namespace {

constexpr const char* kNames[] = {
    "ClearColor",      "ClearStencil",         "ClearDepth",
    "ColorMask",       "DepthMask",            "StencilMask",
    "Enable",          "Disable",              "CullFace",
    "DepthFunc",       "LogicOp",              "BlendEquationSeparate",
    "BlendFuncSeparate", "PolygonMode",        "StencilOp",
    "StencilFunc",     "UseProgram",           "BindVertexArray",
    "BindBuffer",      "BindFramebuffer",      "Viewport",
    "Clear",           "Uniform",              "DrawElements",
    "BufferData",      "VertexAttribPointer",  "EnableVertexAttribArray",
    "FramebufferTexture", "FramebufferTextureLayer", "DrawBuffers",
    "FramebufferParameter", "ShaderSource",    "CompileShader",
    "AttachShader",    "BindAttribLocation",   "LinkProgram",
    "CreateObject",    "DeleteObject",         "Query",
    "GetError",
};
static_assert(sizeof(kNames) / sizeof(kNames[0]) == kGLCallKinds, "one name per call kind");

std::uint64_t Sum(const GLCallCounts& counts, GLCall first, GLCall last) {
  std::uint64_t total = 0;
  for (int k = static_cast<int>(first); k <= static_cast<int>(last); ++k) total += counts.byKind[k];
  return total;
}

}  // namespace

std::uint64_t GLCallCounts::StateCalls() const {
  return Sum(*this, GLCall::ClearColor, GLCall::Viewport);
}

std::uint64_t GLCallCounts::Changes() const {
  return Sum(*this, GLCall::ClearColor, GLCall::DeleteObject);
}

std::uint64_t GLCallCounts::Total() const {
  return Sum(*this, GLCall::ClearColor, GLCall::GetError);
}

const GLCallCounts& CallCounts() { return detail::callCounts; }

void ResetCallCounts() { detail::callCounts = GLCallCounts{}; }

const char* GLCallName(GLCall kind) {
  int k = static_cast<int>(kind);
  return k >= 0 && k < kGLCallKinds ? kNames[k] : "?";
}

}  // namespace SaneGL
