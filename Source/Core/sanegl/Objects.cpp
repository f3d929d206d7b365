// GL object lifetimes and the operations that need an object bound.
//
//   1. Shaders
//   2. Programs
//   3. Buffers
//   4. Vertex arrays
//   5. Framebuffers
//
// Every operation that needs a binding uses the same bracket: push the
// requested state, put the object into it, synchronise that part, make the
// call, pop. The requested state comes back unchanged; the mirror keeps the
// object bound (and referenced) until a later synchronisation changes it.
#include "sanegl/Objects.h"

#include <functional>
#include <iostream>

#include "sanegl/Detail.h"
#include "sanegl/StateCache.h"

namespace SaneGL {

namespace {

using detail::ContextAlive;
using detail::Count;

// Reads a GL string (info log, binary) of `length` bytes through `read`,
// which reports how many it wrote.
template <class Read>
std::string ReadGLText(GLint length, Read read) {
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length), '\0');
  GLsizei written = 0;
  Count(GLCall::Query);
  read(length, &written, text.data());
  SANEGL_CHECK();
  if (written < 0) written = 0;
  if (written < length) text.resize(static_cast<std::size_t>(written));
  return text;
}

}  // namespace

// ==== 1. Shaders =============================================================

ShaderState::ShaderState(ShaderType t) : type(t) {
  if (!ContextAlive()) return;
  Count(GLCall::CreateObject);
  object = glCreateShader(ShaderTypeToGL(type));
  SANEGL_CHECK();
}

ShaderState::~ShaderState() {
  if (object == 0 || !ContextAlive()) return;
  Count(GLCall::DeleteObject);
  glDeleteShader(object);
  SANEGL_CHECK();
}

Shader Shader::Create(ShaderType type) { return Shader(Register(new ShaderState(type))); }

void Shader::ShaderSource(const std::string& src) {
  ShaderState* s = Use();
  if (s == nullptr) return;
  s->source = src;
  if (!ContextAlive()) return;
  const GLchar* text = s->source.c_str();
  Count(GLCall::ShaderSource);
  glShaderSource(s->object, 1, &text, nullptr);
  SANEGL_CHECK();
}

void Shader::CompileShader() {
  if (Use() == nullptr || !ContextAlive()) return;
  Count(GLCall::CompileShader);
  glCompileShader(glID());
  SANEGL_CHECK();
}

int Shader::GetShaderiv(ShaderParameter p) {
  GLenum name = ShaderParameterToGL(p);
  if (name == 0 || Use() == nullptr || !ContextAlive()) return 0;
  GLint value = 0;
  Count(GLCall::Query);
  glGetShaderiv(glID(), name, &value);
  SANEGL_CHECK();
  return value;
}

std::string Shader::GetShaderInfoLog() {
  GLuint object = glID();
  int length = GetShaderiv(ShaderParameter::ShaderInfoLogLength);
  return ReadGLText(length, [object](GLsizei size, GLsizei* written, GLchar* out) {
    glGetShaderInfoLog(object, size, written, out);
  });
}

// ==== 2. Programs ============================================================

ProgramState::ProgramState() {
  if (ContextAlive()) {
    Count(GLCall::CreateObject);
    object = glCreateProgram();
    SANEGL_CHECK();
  }
  std::cout << "PROGGEN\n" << "PROGGEN" << object << "\n";
}

ProgramState::~ProgramState() {
  std::cout << "PROGDEL" << object << "\n";
  if (object == 0 || !ContextAlive()) return;
  Count(GLCall::DeleteObject);
  glDeleteProgram(object);
  SANEGL_CHECK();
}

int ProgramState::GetUniformLocation(const std::string& name) {
  return uniformLocations[name] - 1;
}

int ProgramState::GetUniformLocation(std::uint64_t nameHash) {
  return uniformHashLocations[nameHash] - 1;
}

Program Program::Create() { return Program(Register(new ProgramState())); }

void Program::AttachShader(const Shader& shader) {
  if (Use() == nullptr) return;
  std::cout << "myid" << glID() << "\n" << "theirid" << shader.glID() << "\n";
  if (!ContextAlive()) return;
  Count(GLCall::AttachShader);
  glAttachShader(glID(), shader.glID());
  SANEGL_CHECK();
}

void Program::BindAttribLocation(int index, const std::string& name) {
  if (Use() == nullptr || !ContextAlive()) return;
  Count(GLCall::BindAttribLocation);
  glBindAttribLocation(glID(), static_cast<GLuint>(index), name.c_str());
  SANEGL_CHECK();
}

void Program::LinkProgram() {
  ProgramState* p = Use();
  if (p == nullptr || !ContextAlive()) return;
  Count(GLCall::LinkProgram);
  glLinkProgram(p->object);
  SANEGL_CHECK();

  GLint count = GetProgramiv(ProgramParameter::ActiveUniforms);
  std::cout << "Active Uniforms: " << count << "\n";
  std::hash<std::string> hashName;
  for (GLint i = 0; i < count; ++i) {
    // GL cuts names to the buffer: 39 characters and the terminator.
    GLchar name[40] = {};
    GLsizei length = 0;
    GLint size = 0;
    GLenum type = 0;
    Count(GLCall::Query);
    glGetActiveUniform(p->object, static_cast<GLuint>(i), sizeof name, &length, &size, &type,
                       name);
    SANEGL_CHECK();
    if (length < 0) length = 0;
    if (length > 39) length = 39;
    name[length] = '\0';
    std::cout << "Uniform #" << i << " Type: " << type << " Name: " << name << "\n";
    Count(GLCall::Query);
    int location = glGetUniformLocation(p->object, name) + 1;
    SANEGL_CHECK();
    std::string key(name);
    p->uniformLocations[key] = location;
    p->uniformHashLocations[hashName(key)] = location;
  }
}

int Program::GetProgramiv(ProgramParameter p) {
  GLenum name = ProgramParameterToGL(p);
  if (name == 0 || Use() == nullptr || !ContextAlive()) return 0;
  // GL_COMPUTE_WORK_GROUP_SIZE writes three values; the first is returned.
  GLint values[3] = {0, 0, 0};
  Count(GLCall::Query);
  glGetProgramiv(glID(), name, values);
  SANEGL_CHECK();
  return values[0];
}

std::string Program::GetProgramInfoLog() {
  GLuint object = glID();
  int length = GetProgramiv(ProgramParameter::InfoLogLength);
  return ReadGLText(length, [object](GLsizei size, GLsizei* written, GLchar* out) {
    glGetProgramInfoLog(object, size, written, out);
  });
}

std::string Program::GetProgramBinary() {
  GLuint object = glID();
  int length = GetProgramiv(ProgramParameter::ProgramBinaryLength);
  return ReadGLText(length, [object](GLsizei size, GLsizei* written, GLchar* out) {
    GLenum format = 0;
    glGetProgramBinary(object, size, written, &format, out);
  });
}

int Program::GetUniformLocation(const std::string& name) {
  return Use() != nullptr ? Use()->GetUniformLocation(name) : -1;
}

int Program::GetUniformLocation(std::uint64_t nameHash) {
  return Use() != nullptr ? Use()->GetUniformLocation(nameHash) : -1;
}

// ==== 3. Buffers =============================================================

BufferState::BufferState(BufferType t) : type(t) {
  if (!ContextAlive()) return;
  Count(GLCall::CreateObject);
  glGenBuffers(1, &object);
  SANEGL_CHECK();
}

BufferState::~BufferState() {
  if (object == 0 || !ContextAlive()) return;
  Count(GLCall::DeleteObject);
  glDeleteBuffers(1, &object);
  SANEGL_CHECK();
}

Buffer Buffer::Create(BufferType type) { return Buffer(Register(new BufferState(type))); }

BufferType Buffer::Type() const {
  return Use() != nullptr ? Use()->type : BufferType::ArrayBuffer;
}

void Buffer::BufferData(unsigned size, const void* data, BufferUsage usage) {
  if (Use() == nullptr) return;
  BufferType type = Type();
  GLenum target = BufferTypeToGL(type);
  if (type == BufferType::ArrayBuffer || type == BufferType::ElementArrayBuffer) {
    StatePush();
    BindBuffer(*this);
    if (type == BufferType::ElementArrayBuffer) {
      // The element binding lives in the bound vertex array. Uploading with
      // none bound keeps every vertex array's indices where they are.
      BindVertexArray(VertexArray());
      StateSyncVertexArray();
    } else {
      StateSyncBuffer();
    }
    if (ContextAlive()) {
      Count(GLCall::BufferData);
      glBufferData(target, size, data, BufferUsageToGL(usage));
      SANEGL_CHECK();
    }
    StatePop();
    return;
  }
  // The state cache mirrors only the array and element bindings; any other
  // target is bound just for the upload, so the data lands in this buffer
  // rather than in whatever (or nothing) is bound there.
  if (!ContextAlive()) return;
  Count(GLCall::BindBuffer);
  glBindBuffer(target, glID());
  Count(GLCall::BufferData);
  glBufferData(target, size, data, BufferUsageToGL(usage));
  Count(GLCall::BindBuffer);
  glBindBuffer(target, 0);
  SANEGL_CHECK();
}

// ==== 4. Vertex arrays =======================================================

VertexArrayState::VertexArrayState() {
  if (!ContextAlive()) return;
  Count(GLCall::CreateObject);
  glGenVertexArrays(1, &object);
  SANEGL_CHECK();
}

// elementBuffer is released after this body, once the vertex array is gone.
VertexArrayState::~VertexArrayState() {
  if (object == 0 || !ContextAlive()) return;
  Count(GLCall::DeleteObject);
  glDeleteVertexArrays(1, &object);
  SANEGL_CHECK();
}

VertexArray VertexArray::Create() { return VertexArray(Register(new VertexArrayState())); }

void VertexArray::VertexAttribPointer(const Buffer& buffer, unsigned index, int size,
                                      DataType type, bool normalized, int stride,
                                      const void* offset) {
  if (Use() == nullptr) return;
  StatePush();
  BindVertexArray(*this);
  BindBuffer(buffer);
  StateSyncVertexArray();
  if (ContextAlive()) {
    Count(GLCall::VertexAttribPointer);
    glVertexAttribPointer(index, size, DataTypeToGL(type), normalized ? GL_TRUE : GL_FALSE,
                          stride, offset);
    SANEGL_CHECK();
  }
  StatePop();
}

void VertexArray::EnableVertexAttribArray(unsigned index) {
  if (Use() == nullptr) return;
  StatePush();
  BindVertexArray(*this);
  StateSyncVertexArray();
  if (ContextAlive()) {
    Count(GLCall::EnableVertexAttribArray);
    glEnableVertexAttribArray(index);
    SANEGL_CHECK();
  }
  StatePop();
}

void VertexArray::BindElementArray(const Buffer& buffer) {
  VertexArrayState* array = Use();
  if (array == nullptr) return;
  StatePush();
  BindVertexArray(*this);
  StateSyncVertexArray();
  // Recorded only once this vertex array is bound: the cache takes a vertex
  // array's record as what GL holds inside it.
  detail::SetElementBuffer(*array, buffer);
  StatePop();
}

void VertexArray::DrawElements(PrimitiveModes mode, int count, DataType type,
                               const void* offset) {
  if (Use() == nullptr) return;
  // Without a program the core profile's results are undefined: a shader
  // whose pass is missing draws nothing rather than something.
  if (RequestedState().program.glID() == 0) return;
  StateSync();
  StatePush();
  BindVertexArray(*this);
  StateSyncVertexArray();
  if (ContextAlive()) {
    Count(GLCall::DrawElements);
    glDrawElements(PrimitiveModeToGL(mode), count, DataTypeToGL(type), offset);
    SANEGL_CHECK();
  }
  StatePop();
}

// ==== 5. Framebuffers ========================================================

int Framebuffer::_MaxSamples = 0;

FramebufferState::FramebufferState() {
  colorAttachments.fill(-1);
  std::cout << "FRAMEGEN\n";
  if (ContextAlive()) {
    Count(GLCall::CreateObject);
    glGenFramebuffers(1, &object);
    SANEGL_CHECK();
  }
  std::cout << "FRAMEGEN" << object << "\n";
}

FramebufferState::~FramebufferState() {
  if (object != 0 && ContextAlive()) {
    Count(GLCall::DeleteObject);
    glDeleteFramebuffers(1, &object);
    SANEGL_CHECK();
  }
  std::cout << "FRAMEDEL\n" << "FRAMEDEL" << object << "\n";
}

Framebuffer Framebuffer::Create() { return Framebuffer(Register(new FramebufferState())); }

namespace {

// The bracket around every framebuffer call: bound through the cache, the
// requested state left as it was.
template <class Call>
void WithBound(const Framebuffer& framebuffer, Call call) {
  StatePush();
  BindFramebuffer(framebuffer);
  StateSyncFramebuffer();
  if (ContextAlive()) {
    call();
    SANEGL_CHECK();
  }
  StatePop();
}

// Slots outside 0..15 share slot 0, as their GL attachment does.
int ColorSlot(int index) {
  return index >= 0 && index < FramebufferState::kColorAttachments ? index : 0;
}

}  // namespace

void Framebuffer::BindTexture(int index, int texture, int level) {
  FramebufferState* f = Use();
  if (f == nullptr) return;
  int& slot = f->colorAttachments[ColorSlot(index)];
  if (slot == texture) return;
  slot = texture;
  WithBound(*this, [&] {
    Count(GLCall::FramebufferTexture);
    glFramebufferTexture(GL_FRAMEBUFFER, AttachmentIndexToGL(index), static_cast<GLuint>(texture),
                         level);
  });
}

void Framebuffer::BindTextureLayer(int index, int texture, int level, int layer) {
  FramebufferState* f = Use();
  if (f == nullptr) return;
  f->colorAttachments[ColorSlot(index)] = texture;
  WithBound(*this, [&] {
    Count(GLCall::FramebufferTextureLayer);
    glFramebufferTextureLayer(GL_FRAMEBUFFER, AttachmentIndexToGL(index),
                              static_cast<GLuint>(texture), level, layer);
  });
}

void Framebuffer::BindTexture(Attachment attachment, int texture, int level) {
  FramebufferState* f = Use();
  if (f == nullptr) return;
  int& slot = attachment == Attachment::StencilAttachment ? f->stencilAttachment
                                                          : f->depthAttachment;
  if (slot == texture) return;
  slot = texture;
  WithBound(*this, [&] {
    Count(GLCall::FramebufferTexture);
    glFramebufferTexture(GL_FRAMEBUFFER, AttachmentToGL(attachment),
                         static_cast<GLuint>(texture), level);
  });
}

void Framebuffer::DrawBuffers(std::vector<unsigned> indices) {
  if (Use() == nullptr) return;
  for (unsigned& index : indices) {
    index = AttachmentIndexToGL(index <= 15 ? static_cast<int>(index) : 0);
  }
  WithBound(*this, [&] {
    Count(GLCall::DrawBuffers);
    glDrawBuffers(static_cast<GLsizei>(indices.size()), indices.data());
  });
}

void Framebuffer::FramebufferParameter(FramebufferParameters p, int value) {
  FramebufferState* f = Use();
  if (f == nullptr) return;
  int* stored = nullptr;
  switch (p) {
    case FramebufferParameters::DefaultWidth: stored = &f->defaultWidth; break;
    case FramebufferParameters::DefaultHeight: stored = &f->defaultHeight; break;
    case FramebufferParameters::DefaultLayers: stored = &f->defaultLayers; break;
    case FramebufferParameters::DefaultSamples: stored = &f->defaultSamples; break;
    case FramebufferParameters::DefaultFixedSampleLocations:
      stored = &f->defaultFixedSampleLocations;
      break;
  }
  if (stored == nullptr || *stored == value) return;
  *stored = value;
  WithBound(*this, [&] {
    Count(GLCall::FramebufferParameter);
    glFramebufferParameteri(GL_FRAMEBUFFER, FramebufferParametersToGL(p), value);
  });
}

int Framebuffer::MaxSamples() {
  if (_MaxSamples == 0 && ContextAlive()) {
    Count(GLCall::Query);
    glGetIntegerv(GL_MAX_FRAMEBUFFER_SAMPLES, &_MaxSamples);
    SANEGL_CHECK();
  }
  return _MaxSamples;
}

void Framebuffer::ForgetTexture(int texture) {
  for (auto& entry : GLResources<FramebufferState>::Get().Res) {
    FramebufferState* f = entry.second;
    for (int& slot : f->colorAttachments) {
      if (slot == texture) slot = -1;
    }
    if (f->depthAttachment == texture) f->depthAttachment = -1;
    if (f->stencilAttachment == texture) f->stencilAttachment = -1;
  }
}

}  // namespace SaneGL
