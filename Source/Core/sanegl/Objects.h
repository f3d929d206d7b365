#pragma once
// Counted handles for every GL object the engine makes: shaders, programs,
// buffers, vertex arrays and framebuffers. Create one with `X::Create`, copy
// it freely; the GL object is deleted when the last handle (or state record)
// naming it goes. Operations that need the object bound go through the state
// cache (push, bind, sync, call, pop), so they never disturb the requested
// state and the cache always knows what GL has bound.
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "sanegl/Enums.h"
#include "sanegl/Resource.h"
#include "sanegl/Uniform.h"

namespace SaneGL {

// Each GL object kind is a state object (the GL name, the resource id and
// what the layer caches about it), owned through its handle class.

// ---- Shaders -------------------------------------------------------------------

struct ShaderState {
  explicit ShaderState(ShaderType type);
  ~ShaderState();
  ShaderState(const ShaderState&) = delete;
  ShaderState& operator=(const ShaderState&) = delete;
  unsigned glID() const { return object; }

  unsigned object = 0;
  int id = 0;
  ShaderType type;
  std::string source;  // the last source given
};

class Shader : public GLResource<ShaderState> {
 public:
  Shader() = default;
  static Shader Create(ShaderType type);

  void ShaderSource(const std::string& src);
  void CompileShader();
  // 0 for an empty handle or an unknown parameter.
  int GetShaderiv(ShaderParameter p);
  std::string GetShaderInfoLog();

 private:
  using GLResource::GLResource;
};

// ---- Programs ------------------------------------------------------------------

struct ProgramState {
  ProgramState();
  ~ProgramState();
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;
  unsigned glID() const { return object; }

  // Location of a uniform, -1 when the program has none of that name. An
  // unknown name is remembered as unknown, so every miss shares location -1.
  int GetUniformLocation(const std::string& name);
  int GetUniformLocation(std::uint64_t nameHash);

  unsigned object = 0;
  int id = 0;
  // Both maps hold location + 1 (0 = unknown), keyed by name and by the
  // standard library's hash of the name; filled by LinkProgram.
  std::unordered_map<std::uint64_t, int> uniformHashLocations;
  std::unordered_map<std::string, int> uniformLocations;
  // Values waiting for the next full StateSync with this program requested;
  // one per location, the last write wins.
  std::unordered_map<int, Uniform> pendingUniforms;
};

class Program : public GLResource<ProgramState> {
 public:
  Program() = default;
  // Prints "PROGGEN" and "PROGGEN<name>"; the last release prints "PROGDEL<name>".
  static Program Create();

  void AttachShader(const Shader& shader);
  void BindAttribLocation(int index, const std::string& name);
  // Links and fills the uniform location tables from GL's active uniforms
  // (names cut to 39 characters), printing the list.
  void LinkProgram();
  int GetProgramiv(ProgramParameter p);
  std::string GetProgramInfoLog();
  std::string GetProgramBinary();
  // -1 for an empty handle or a name the program lacks.
  int GetUniformLocation(const std::string& name);
  int GetUniformLocation(std::uint64_t nameHash);

 private:
  using GLResource::GLResource;
};

// ---- Buffers -------------------------------------------------------------------

struct BufferState {
  explicit BufferState(BufferType type);
  ~BufferState();
  BufferState(const BufferState&) = delete;
  BufferState& operator=(const BufferState&) = delete;
  unsigned glID() const { return object; }

  unsigned object = 0;
  int id = 0;
  BufferType type;
};

class Buffer : public GLResource<BufferState> {
 public:
  Buffer() = default;
  static Buffer Create(BufferType type);

  // ArrayBuffer for an empty handle.
  BufferType Type() const;
  // Uploads into this buffer; the requested state is left as it was.
  void BufferData(unsigned size, const void* data, BufferUsage usage);

 private:
  using GLResource::GLResource;
};

// ---- Vertex arrays -------------------------------------------------------------

struct VertexArrayState {
  VertexArrayState();
  ~VertexArrayState();
  VertexArrayState(const VertexArrayState&) = delete;
  VertexArrayState& operator=(const VertexArrayState&) = delete;
  unsigned glID() const { return object; }

  unsigned object = 0;
  int id = 0;
  // The element buffer GL holds inside this vertex array, as the layer put
  // it there (BindElementArray, or a sync that bound an element buffer while
  // this vertex array was bound). Binding the vertex array brings it back
  // into GL's element binding, so the cache adopts it into its mirror, and
  // while this vertex array is bound a different requested element buffer
  // does not replace it.
  Buffer elementBuffer;
};

class VertexArray : public GLResource<VertexArrayState> {
 public:
  VertexArray() = default;
  static VertexArray Create();

  void VertexAttribPointer(const Buffer& buffer, unsigned index, int size, DataType type,
                           bool normalized, int stride, const void* offset);
  void EnableVertexAttribArray(unsigned index);
  // Records the buffer as this vertex array's element buffer and binds it
  // into the vertex array in GL.
  void BindElementArray(const Buffer& buffer);
  // Full StateSync (uniforms included), then the draw with this vertex array;
  // nothing at all while no program is requested.
  void DrawElements(PrimitiveModes mode, int count, DataType type, const void* offset);

 private:
  using GLResource::GLResource;
};

// ---- Framebuffers --------------------------------------------------------------

struct FramebufferState {
  static constexpr int kColorAttachments = 16;

  FramebufferState();
  ~FramebufferState();
  FramebufferState(const FramebufferState&) = delete;
  FramebufferState& operator=(const FramebufferState&) = delete;
  unsigned glID() const { return object; }

  unsigned object = 0;
  int id = 0;
  // GL texture name last attached per slot, -1 for none; repeated identical
  // attachments are skipped against these.
  std::array<int, kColorAttachments> colorAttachments;
  int depthAttachment = -1;
  int stencilAttachment = -1;
  // Last value set per framebuffer parameter.
  int defaultWidth = 0;
  int defaultHeight = 0;
  int defaultLayers = 0;
  int defaultSamples = 0;
  int defaultFixedSampleLocations = 0;
};

class Framebuffer : public GLResource<FramebufferState> {
 public:
  Framebuffer() = default;
  // Prints "FRAMEGEN" and "FRAMEGEN<name>"; the last release prints the
  // "FRAMEDEL" pair.
  static Framebuffer Create();

  // Colour slot `index` (0..15; anything else means slot 0). Skipped when
  // the slot already holds `texture`, whatever the level.
  void BindTexture(int index, int texture, int level);
  void BindTextureLayer(int index, int texture, int level, int layer);
  void BindTexture(Attachment attachment, int texture, int level);
  // Colour slot indices, in draw-buffer order. Not cached.
  void DrawBuffers(std::vector<unsigned> indices);
  void FramebufferParameter(FramebufferParameters p, int value);

  // GL_MAX_FRAMEBUFFER_SAMPLES, read on first use (0 until a context exists).
  static int MaxSamples();
  static int _MaxSamples;

  // Clears every cached attachment naming this GL texture. Texture owners
  // call it when they delete a texture: GL may hand the same name to the next
  // one, which must not then be skipped as "already attached".
  static void ForgetTexture(int texture);

 private:
  using GLResource::GLResource;
};

}  // namespace SaneGL
