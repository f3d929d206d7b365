#pragma once
// Shared by the GL layer's tests: a context whose GL state matches the
// layer's mirror, with call counters at zero, and a few GL readers.
#include <cstdint>
#include <string>

#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "support/GLTestContext.h"

namespace KestorTest {

class SaneGLFixture : public GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    if (HasFatalFailure()) return;
    // Whatever an earlier test of this process left requested starts over.
    SaneGL::ResetStateStack();
    SaneGL::Viewport(0, 0, 64, 64);
    SaneGL::StateSyncForce();
    SaneGL::ResetCallCounts();
  }
};

inline GLint GetInt(GLenum name) {
  GLint value = 0;
  glGetIntegerv(name, &value);
  return value;
}

inline bool IsOn(GLenum capability) { return glIsEnabled(capability) == GL_TRUE; }

inline std::uint64_t Calls(SaneGL::GLCall kind) { return SaneGL::CallCounts()[kind]; }

// A 64x64 colour and depth-stencil target. The test window has no stencil
// bits, and GL clamps the stencil reference it reports to them.
struct StencilTarget {
  SaneGL::Framebuffer framebuffer = SaneGL::Framebuffer::Create();
  GLuint color = 0;
  GLuint depthStencil = 0;

  StencilTarget() {
    glGenTextures(1, &color);
    glBindTexture(GL_TEXTURE_2D, color);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glGenTextures(1, &depthStencil);
    glBindTexture(GL_TEXTURE_2D, depthStencil);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH24_STENCIL8, 64, 64, 0, GL_DEPTH_STENCIL,
                 GL_UNSIGNED_INT_24_8, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    framebuffer.BindTexture(0, static_cast<int>(color), 0);
    framebuffer.BindTexture(SaneGL::Attachment::DepthAttachment, static_cast<int>(depthStencil), 0);
    framebuffer.BindTexture(SaneGL::Attachment::StencilAttachment, static_cast<int>(depthStencil),
                            0);
  }
  ~StencilTarget() {
    SaneGL::Framebuffer::ForgetTexture(static_cast<int>(color));
    SaneGL::Framebuffer::ForgetTexture(static_cast<int>(depthStencil));
    glDeleteTextures(1, &color);
    glDeleteTextures(1, &depthStencil);
  }
  StencilTarget(const StencilTarget&) = delete;
  StencilTarget& operator=(const StencilTarget&) = delete;
};

// A linked program from vertex and fragment text; fails the test otherwise.
inline SaneGL::Program MakeProgram(const std::string& vertex, const std::string& fragment) {
  SaneGL::Shader vs = SaneGL::Shader::Create(SaneGL::ShaderType::VertexShader);
  SaneGL::Shader fs = SaneGL::Shader::Create(SaneGL::ShaderType::FragmentShader);
  vs.ShaderSource(vertex);
  vs.CompileShader();
  EXPECT_EQ(vs.GetShaderiv(SaneGL::ShaderParameter::CompileStatus), GL_TRUE)
      << vs.GetShaderInfoLog();
  fs.ShaderSource(fragment);
  fs.CompileShader();
  EXPECT_EQ(fs.GetShaderiv(SaneGL::ShaderParameter::CompileStatus), GL_TRUE)
      << fs.GetShaderInfoLog();
  SaneGL::Program program = SaneGL::Program::Create();
  program.AttachShader(vs);
  program.AttachShader(fs);
  program.BindAttribLocation(0, "position");
  program.LinkProgram();
  EXPECT_EQ(program.GetProgramiv(SaneGL::ProgramParameter::LinkStatus), GL_TRUE)
      << program.GetProgramInfoLog();
  return program;
}

// Positions pass through; the colour comes from uniforms of every staged kind.
inline const char* kVertexText = R"(#version 430 core
in vec3 position;
uniform mat4 xf;
uniform mat3 tilt;
void main() { gl_Position = xf * vec4(tilt * position, 1.0); }
)";

inline const char* kFragmentText = R"(#version 430 core
uniform vec3 tint;
uniform float gain;
uniform vec2 pair;
uniform vec4 extra;
uniform int unit;
out vec4 color;
void main() { color = vec4(tint * gain + vec3(pair, float(unit)), 1.0) + extra; }
)";

}  // namespace KestorTest
