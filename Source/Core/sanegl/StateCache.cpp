// The requested-state stack, the mirror of GL's state and the
// synchronisations between them.
//
//   1. Module state and start-up
//   2. Error check and state dump
//   3. Setters
//   4. Stack
//   5. Field groups: one apply function per GL call
//   6. Synchronisations
#include "sanegl/StateCache.h"

#include <SDL.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <iostream>

#include "engine/Debug.h"
#include "sanegl/Detail.h"

namespace SaneGL {

// ==== 1. Module state and start-up ===========================================

namespace {

// The stack of requested states; the last element is the one setters edit.
// A deque, so pushing and popping never moves the other records.
std::deque<GlobalState> States;
// What GL holds, as far as the layer knows.
GlobalState currentState;

GlobalState& Top() { return States.back(); }

}  // namespace

// Runs before main, before any context: two default records, so that the
// bottom one survives a pass that pops once too often.
class SaneGLInit {
 public:
  SaneGLInit() {
    std::cout << "SANEGL STARTUP" << std::endl;
    States.emplace_back();
    States.emplace_back();
  }
};

namespace SaneGLStartup {
SaneGLInit asd;
}

bool detail::ContextAlive() {
  // SDL_WasInit first: after SDL_Quit even asking for the current context
  // is not safe.
  return SDL_WasInit(SDL_INIT_VIDEO) != 0 && SDL_GL_GetCurrentContext() != nullptr;
}

const GlobalState& RequestedState() { return States.back(); }
const GlobalState& CurrentState() { return currentState; }
std::size_t StateDepth() { return States.size(); }

// ==== 2. Error check and state dump ==========================================

namespace {

// A lost context can keep reporting errors; never spin on it.
constexpr int kMaxErrorsPerCheck = 64;

// The check proper, for callers that already know a context is current.
void CheckErrors(const char* file, int line) {
  detail::Count(GLCall::GetError);
  GLenum err = glGetError();
  for (int reported = 0; err != GL_NO_ERROR && reported < kMaxErrorsPerCheck; ++reported) {
    std::cout << "GL_" << KestorEngine::Debug::GLErrorName(err) << " - " << file << ":" << line
              << "\n";
    KestorEngine::Debug::CountGLError();
    detail::Count(GLCall::GetError);
    err = glGetError();
    DumpState(std::cout, States.back());
    std::cout.flush();
  }
}

}  // namespace

// Inside the synchronisations the context was checked once on entry.
#define SANEGL_CHECK_LIVE() CheckErrors("RELEASEBUILD", __LINE__)

void _SaneGLCheckGLError(const char* file, int line) {
  if (!detail::ContextAlive()) return;
  CheckErrors(file, line);
}

void _SaneGLClearGLError() {
  if (!detail::ContextAlive()) return;
  for (int i = 0; i < kMaxErrorsPerCheck; ++i) {
    detail::Count(GLCall::GetError);
    if (glGetError() == GL_NO_ERROR) return;
  }
}

void DumpState(std::ostream& out, const GlobalState& s) {
  char color[128];
  std::snprintf(color, sizeof color, "vec4(%f, %f, %f, %f)", s.clearColor.x, s.clearColor.y,
                s.clearColor.z, s.clearColor.w);
  auto e = [](auto v) { return static_cast<int>(v); };
  out << "clearColor = " << color << "\n"
      << "clearStencil = " << s.clearStencil << "\n"
      << "clearDepth = " << static_cast<double>(s.clearDepth) << "\n"
      << "cullMode = " << e(s.cullMode) << "\n"
      << "cullEnabled = " << e(s.cullEnabled) << "\n"
      << "depthTestMode = " << e(s.depthTestMode) << "\n"
      << "depthTestEnabled = " << e(s.depthTestEnabled) << "\n"
      << "blendEnabled = " << e(s.blendEnabled) << "\n"
      << "blendEquationRGB = " << e(s.blendEquationRGB) << "\n"
      << "blendEquationA = " << e(s.blendEquationA) << "\n"
      << "blendFunctionSrcRGB = " << e(s.blendFunctionSrcRGB) << "\n"
      << "blendFunctionSrcA = " << e(s.blendFunctionSrcA) << "\n"
      << "blendFunctionDstRGB = " << e(s.blendFunctionDstRGB) << "\n"
      << "blendFunctionDstA = " << e(s.blendFunctionDstA) << "\n"
      << "depthWrite = " << e(s.depthWrite) << "\n"
      << "rWrite = " << e(s.rWrite) << "\n"
      << "gWrite = " << e(s.gWrite) << "\n"
      << "bWrite = " << e(s.bWrite) << "\n"
      << "aWrite = " << e(s.aWrite) << "\n"
      << "polygonModeFront = " << e(s.polygonModeFront) << "\n"
      << "polygonModeBack = " << e(s.polygonModeBack) << "\n"
      << "stencilTestEnabled = " << e(s.stencilTestEnabled) << "\n"
      << "stencilFunc = " << e(s.stencilFunc) << "\n"
      << "stencilRef = " << s.stencilRef << "\n"
      << "stencilMask = " << s.stencilMask << "\n"
      << "stencilWrite = " << s.stencilWrite << "\n"
      << "sfailOp = " << e(s.sfailOp) << "\n"
      << "dpfailOp = " << e(s.dpfailOp) << "\n"
      << "dppassOp = " << e(s.dppassOp) << "\n"
      << "debugOuputEnabled = " << e(s.debugOuputEnabled) << "\n"
      << "multiSampleEnabled = " << e(s.multiSampleEnabled) << "\n"
      << "program = " << s.program.glID() << "\n"
      << "arrayBuffer = " << s.arrayBuffer.glID() << "\n"
      << "elementArrayBuffer = " << s.elementArrayBuffer.glID() << "\n"
      << "vertexArray = " << s.vertexArray.glID() << "\n"
      << "framebuffer = " << s.framebuffer.glID() << "\n"
      << "viewx = " << s.viewx << "\n"
      << "viewy = " << s.viewy << "\n"
      << "viewwidth = " << s.viewwidth << "\n"
      << "viewheight = " << s.viewheight << "\n";
}

// ==== 3. Setters =============================================================

void ClearColor(glm::vec4 c) { Top().clearColor = c; }
void ClearStencil(int s) { Top().clearStencil = s; }
void ClearDepth(float d) { Top().clearDepth = d; }

void ColorWrite(bool r, bool g, bool b, bool a) {
  GlobalState& s = Top();
  s.rWrite = r;
  s.gWrite = g;
  s.bWrite = b;
  s.aWrite = a;
}

void DepthWrite(bool w) { Top().depthWrite = w; }
void StencilWrite(int mask) { Top().stencilWrite = mask; }

void CullFace(FaceSide side) {
  GlobalState& s = Top();
  if (side == FaceSide::None) {
    s.cullEnabled = false;
    return;
  }
  s.cullEnabled = true;
  s.cullMode = side;
}

void DepthTest(ValueComparison c) {
  GlobalState& s = Top();
  if (c == ValueComparison::Always) {
    s.depthTestEnabled = false;
    return;
  }
  s.depthTestEnabled = true;
  s.depthTestMode = c;
}

void PolygonMode(FaceSide side, PolygonModes m) {
  GlobalState& s = Top();
  if (side == FaceSide::Front || side == FaceSide::FrontAndBack) s.polygonModeFront = m;
  if (side == FaceSide::Back || side == FaceSide::FrontAndBack) s.polygonModeBack = m;
}

void DebugOutput(bool on) { Top().debugOuputEnabled = on; }
void Multisample(bool on) { Top().multiSampleEnabled = on; }

void LogicOp(LogicOps op) {
  GlobalState& s = Top();
  if (op == LogicOps::Disabled) {
    s.logicOpEnabled = false;
    return;
  }
  s.logicOpEnabled = true;
  s.logicOp = op;
}

void StencilOp(StencilOpType sfail, StencilOpType dpfail, StencilOpType dppass) {
  GlobalState& s = Top();
  s.sfailOp = sfail;
  s.dpfailOp = dpfail;
  s.dppassOp = dppass;
}

void StencilFunc(ValueComparison c, int ref, int mask) {
  GlobalState& s = Top();
  if (c == ValueComparison::Always) {
    s.stencilTestEnabled = false;
    return;
  }
  s.stencilTestEnabled = true;
  s.stencilFunc = c;
  s.stencilRef = ref;
  s.stencilMask = mask;
}

void BlendEquationSeparate(BlendEquation rgb, BlendEquation a) {
  GlobalState& s = Top();
  s.blendEquationRGB = rgb;
  s.blendEquationA = a;
}

void BlendFuncSeparate(BlendFunction srcRGB, BlendFunction dstRGB, BlendFunction srcA,
                       BlendFunction dstA) {
  GlobalState& s = Top();
  s.blendFunctionSrcRGB = srcRGB;
  s.blendFunctionDstRGB = dstRGB;
  s.blendFunctionSrcA = srcA;
  s.blendFunctionDstA = dstA;
}

void Blend(bool on) { Top().blendEnabled = on; }

void Viewport(int x, int y, int w, int h) {
  GlobalState& s = Top();
  s.viewx = x;
  s.viewy = y;
  s.viewwidth = w;
  s.viewheight = h;
}

void UseProgram(const Program& p) { Top().program = p; }

void BindBuffer(const Buffer& b) {
  if (b.Empty()) return;
  switch (b.Type()) {
    case BufferType::ArrayBuffer: Top().arrayBuffer = b; break;
    case BufferType::ElementArrayBuffer: Top().elementArrayBuffer = b; break;
    default: break;
  }
}

void BindVertexArray(const VertexArray& v) { Top().vertexArray = v; }
void BindFramebuffer(const Framebuffer& f) { Top().framebuffer = f; }
void UnbindFramebuffer() { Top().framebuffer = Framebuffer(); }

namespace {

// Staging always replaces: a later value at the same location wins.
template <class Key, class Value>
void Stage(const Key& key, const Value& value) {
  ProgramState* program = Top().program.Use();
  if (program == nullptr) return;
  int location = program->GetUniformLocation(key);
  program->pendingUniforms.insert_or_assign(location, Uniform(location, value));
}

}  // namespace

void SetFloat(const std::string& name, float v) { Stage(name, v); }
void SetVector(const std::string& name, glm::vec2 v) { Stage(name, v); }
void SetVector(const std::string& name, glm::vec3 v) { Stage(name, v); }
void SetVector(const std::string& name, glm::vec4 v) { Stage(name, v); }
void SetMatrix3(const std::string& name, const glm::mat3& m) { Stage(name, m); }
void SetMatrix4(const std::string& name, const glm::mat4& m) { Stage(name, m); }
void SetTexture(const std::string& name, int unit) { Stage(name, unit); }
void SetFloat(std::uint64_t nameHash, float v) { Stage(nameHash, v); }
void SetVector(std::uint64_t nameHash, glm::vec2 v) { Stage(nameHash, v); }
void SetVector(std::uint64_t nameHash, glm::vec3 v) { Stage(nameHash, v); }
void SetVector(std::uint64_t nameHash, glm::vec4 v) { Stage(nameHash, v); }
void SetMatrix3(std::uint64_t nameHash, const glm::mat3& m) { Stage(nameHash, m); }
void SetMatrix4(std::uint64_t nameHash, const glm::mat4& m) { Stage(nameHash, m); }
void SetTexture(std::uint64_t nameHash, int unit) { Stage(nameHash, unit); }

// ==== 4. Stack ===============================================================

void StatePush() {
  // Safe although the argument lives in the deque: growing a deque never
  // moves its elements.
  States.push_back(States.back());
}

void StatePop() {
  if (States.size() <= 1) {
    std::cout << "SaneGL: StatePop without a matching StatePush, ignored" << std::endl;
    return;
  }
  States.pop_back();
}

void StateRevert() {
  if (States.size() <= 1) {
    std::cout << "SaneGL: StateRevert without a matching StatePush, ignored" << std::endl;
    return;
  }
  States.back() = States[States.size() - 2];
}

// ==== 5. Field groups ========================================================
// One apply function per GL call, shared by the diffing and the forced
// synchronisation. Each counts the call, makes it and checks for errors.

namespace {

using detail::Count;

GLboolean GLBool(bool b) { return b ? GL_TRUE : GL_FALSE; }

// NaN never equals itself, so a NaN component always counts as a change.
bool SameColor(const glm::vec4& a, const glm::vec4& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}

bool SameColorMask(const GlobalState& a, const GlobalState& b) {
  return a.rWrite == b.rWrite && a.gWrite == b.gWrite && a.bWrite == b.bWrite &&
         a.aWrite == b.aWrite;
}

bool SameBlendFunc(const GlobalState& a, const GlobalState& b) {
  return a.blendFunctionSrcRGB == b.blendFunctionSrcRGB &&
         a.blendFunctionSrcA == b.blendFunctionSrcA &&
         a.blendFunctionDstRGB == b.blendFunctionDstRGB &&
         a.blendFunctionDstA == b.blendFunctionDstA;
}

bool SameStencilOp(const GlobalState& a, const GlobalState& b) {
  return a.sfailOp == b.sfailOp && a.dpfailOp == b.dpfailOp && a.dppassOp == b.dppassOp;
}

bool SameStencilFunc(const GlobalState& a, const GlobalState& b) {
  return a.stencilFunc == b.stencilFunc && a.stencilRef == b.stencilRef &&
         a.stencilMask == b.stencilMask;
}

bool SameViewport(const GlobalState& a, const GlobalState& b) {
  return a.viewx == b.viewx && a.viewy == b.viewy && a.viewwidth == b.viewwidth &&
         a.viewheight == b.viewheight;
}

void ApplyCapability(GLenum capability, bool on) {
  if (on) {
    Count(GLCall::Enable);
    glEnable(capability);
  } else {
    Count(GLCall::Disable);
    glDisable(capability);
  }
  SANEGL_CHECK_LIVE();
}

void ApplyClearColor(const GlobalState& s) {
  Count(GLCall::ClearColor);
  glClearColor(s.clearColor.x, s.clearColor.y, s.clearColor.z, s.clearColor.w);
  SANEGL_CHECK_LIVE();
}

void ApplyClearStencil(const GlobalState& s) {
  Count(GLCall::ClearStencil);
  glClearStencil(s.clearStencil);
  SANEGL_CHECK_LIVE();
}

void ApplyClearDepth(const GlobalState& s) {
  Count(GLCall::ClearDepth);
  glClearDepth(s.clearDepth);
  SANEGL_CHECK_LIVE();
}

void ApplyColorMask(const GlobalState& s) {
  Count(GLCall::ColorMask);
  glColorMask(GLBool(s.rWrite), GLBool(s.gWrite), GLBool(s.bWrite), GLBool(s.aWrite));
  SANEGL_CHECK_LIVE();
}

void ApplyDepthMask(const GlobalState& s) {
  Count(GLCall::DepthMask);
  glDepthMask(GLBool(s.depthWrite));
  SANEGL_CHECK_LIVE();
}

void ApplyStencilMask(const GlobalState& s) {
  Count(GLCall::StencilMask);
  glStencilMask(static_cast<GLuint>(s.stencilWrite));
  SANEGL_CHECK_LIVE();
}

void ApplyCullFace(const GlobalState& s) {
  Count(GLCall::CullFace);
  glCullFace(FaceSideToGL(s.cullMode));
  SANEGL_CHECK_LIVE();
}

void ApplyDepthFunc(const GlobalState& s) {
  Count(GLCall::DepthFunc);
  glDepthFunc(ValueComparisonToGL(s.depthTestMode));
  SANEGL_CHECK_LIVE();
}

void ApplyLogicOp(const GlobalState& s) {
  Count(GLCall::LogicOp);
  glLogicOp(LogicOpToGL(s.logicOp));
  SANEGL_CHECK_LIVE();
}

void ApplyBlendEquation(const GlobalState& s) {
  Count(GLCall::BlendEquationSeparate);
  glBlendEquationSeparate(BlendEquationToGL(s.blendEquationRGB),
                          BlendEquationToGL(s.blendEquationA));
  SANEGL_CHECK_LIVE();
}

void ApplyBlendFunc(const GlobalState& s) {
  Count(GLCall::BlendFuncSeparate);
  glBlendFuncSeparate(BlendFunctionToGL(s.blendFunctionSrcRGB),
                      BlendFunctionToGL(s.blendFunctionDstRGB),
                      BlendFunctionToGL(s.blendFunctionSrcA),
                      BlendFunctionToGL(s.blendFunctionDstA));
  SANEGL_CHECK_LIVE();
}

// The core profile only accepts GL_FRONT_AND_BACK.
void ApplyPolygonMode(PolygonModes mode) {
  Count(GLCall::PolygonMode);
  glPolygonMode(GL_FRONT_AND_BACK, PolygonModeToGL(mode));
  SANEGL_CHECK_LIVE();
}

void ApplyStencilOp(const GlobalState& s) {
  Count(GLCall::StencilOp);
  glStencilOp(stencilOpTypeToGL(s.sfailOp), stencilOpTypeToGL(s.dpfailOp),
              stencilOpTypeToGL(s.dppassOp));
  SANEGL_CHECK_LIVE();
}

void ApplyStencilFunc(const GlobalState& s) {
  Count(GLCall::StencilFunc);
  glStencilFunc(ValueComparisonToGL(s.stencilFunc), s.stencilRef,
                static_cast<GLuint>(s.stencilMask));
  SANEGL_CHECK_LIVE();
}

void ApplyProgram(const Program& p) {
  Count(GLCall::UseProgram);
  glUseProgram(p.glID());
  SANEGL_CHECK_LIVE();
}

// Uploads go to the program GL has bound, which the caller has just made
// the requested one. Names the program lacks share location -1, which GL
// accepts and ignores.
void UploadPendingUniforms(const Program& p) {
  ProgramState* program = p.Use();
  if (program == nullptr || program->object == 0 || program->pendingUniforms.empty()) return;
  for (const auto& entry : program->pendingUniforms) entry.second.ToGPU();
  program->pendingUniforms.clear();
}

void ApplyVertexArray(const VertexArray& v) {
  Count(GLCall::BindVertexArray);
  glBindVertexArray(v.glID());
  SANEGL_CHECK_LIVE();
}

void ApplyBuffer(GLenum target, const Buffer& b) {
  Count(GLCall::BindBuffer);
  glBindBuffer(target, b.glID());
  SANEGL_CHECK_LIVE();
}

void ApplyFramebuffer(const Framebuffer& f) {
  Count(GLCall::BindFramebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, f.glID());
  SANEGL_CHECK_LIVE();
}

void ApplyViewport(const GlobalState& s) {
  Count(GLCall::Viewport);
  glViewport(s.viewx, s.viewy, s.viewwidth, s.viewheight);
  SANEGL_CHECK_LIVE();
}

// ---- The element binding ------------------------------------------------------
// GL keeps the element-array binding inside the bound vertex array: binding
// a vertex array switches it, and binding an element buffer writes it into
// whichever vertex array is bound. So the mirror's elementArrayBuffer means
// "what the bound vertex array holds", and every vertex array records what
// the layer put into it (VertexArrayState::elementBuffer). With no vertex
// array bound, GL's default one holds it; that is kept here.
Buffer looseElementBuffer;

Buffer& ElementSlot(const VertexArray& bound) {
  VertexArrayState* array = bound.Use();
  return array != nullptr ? array->elementBuffer : looseElementBuffer;
}

// A vertex array with an element buffer of its own keeps it: binding the
// requested one instead would overwrite its indices inside GL.
const Buffer& ElementTarget(const VertexArray& bound, const Buffer& requested) {
  VertexArrayState* array = bound.Use();
  if (array != nullptr && !array->elementBuffer.Empty()) return array->elementBuffer;
  return requested;
}

// Brings GL's element binding (in the vertex array the mirror says is bound)
// to `requested`, or to that vertex array's own buffer when it has one.
void SyncElementBuffer(const Buffer& requested, GlobalState& m, bool force) {
  const Buffer& target = ElementTarget(m.vertexArray, requested);
  if (!force && target == m.elementArrayBuffer) return;
  ApplyBuffer(GL_ELEMENT_ARRAY_BUFFER, target);
  // `target` may be the slot itself; take the reference first.
  Buffer bound(target);
  ElementSlot(m.vertexArray) = bound;
  m.elementArrayBuffer = std::move(bound);
}

// Steps 25 to 27: vertex array, array buffer, element buffer.
void SyncArrayBindings(const GlobalState& s, GlobalState& m, bool force) {
  if (force || s.vertexArray != m.vertexArray) {
    ApplyVertexArray(s.vertexArray);
    m.vertexArray = s.vertexArray;
    // GL now shows the new vertex array's own element binding.
    m.elementArrayBuffer = ElementSlot(m.vertexArray);
  }
  if (force || s.arrayBuffer != m.arrayBuffer) ApplyBuffer(GL_ARRAY_BUFFER, s.arrayBuffer);
  m.arrayBuffer = s.arrayBuffer;
  SyncElementBuffer(s.elementArrayBuffer, m, force);
}

// Copies the requested record into the mirror, except the element binding,
// which the array bindings above have already set to what GL holds. Handles
// naming the same object assign without touching their counts, so this is
// cheap when little changed.
void StoreMirror(const GlobalState& s, GlobalState& m) {
  Buffer element = std::move(m.elementArrayBuffer);
  m = s;
  m.elementArrayBuffer = std::move(element);
}

void SyncClearValues(const GlobalState& s, GlobalState& m) {
  if (!SameColor(s.clearColor, m.clearColor)) ApplyClearColor(s);
  if (s.clearStencil != m.clearStencil) ApplyClearStencil(s);
  if (s.clearDepth != m.clearDepth) ApplyClearDepth(s);
  m.clearColor = s.clearColor;
  m.clearStencil = s.clearStencil;
  m.clearDepth = s.clearDepth;
}

void SyncWriteMasks(const GlobalState& s, GlobalState& m) {
  if (!SameColorMask(s, m)) ApplyColorMask(s);
  if (s.depthWrite != m.depthWrite) ApplyDepthMask(s);
  if (s.stencilWrite != m.stencilWrite) ApplyStencilMask(s);
  m.rWrite = s.rWrite;
  m.gWrite = s.gWrite;
  m.bWrite = s.bWrite;
  m.aWrite = s.aWrite;
  m.depthWrite = s.depthWrite;
  m.stencilWrite = s.stencilWrite;
}

}  // namespace

// ==== 6. Synchronisations ====================================================

void StateSync() {
  if (!detail::ContextAlive()) return;
  // Compared in place: nothing below edits the requested record.
  const GlobalState& s = Top();
  GlobalState& m = currentState;
  SANEGL_CHECK_LIVE();

  SyncClearValues(s, m);
  SyncWriteMasks(s, m);
  if (s.cullEnabled != m.cullEnabled) ApplyCapability(GL_CULL_FACE, s.cullEnabled);
  if (s.cullMode != m.cullMode) ApplyCullFace(s);
  if (s.depthTestEnabled != m.depthTestEnabled) ApplyCapability(GL_DEPTH_TEST, s.depthTestEnabled);
  if (s.depthTestMode != m.depthTestMode) ApplyDepthFunc(s);
  if (s.debugOuputEnabled != m.debugOuputEnabled) {
    ApplyCapability(GL_DEBUG_OUTPUT, s.debugOuputEnabled);
  }
  if (s.multiSampleEnabled != m.multiSampleEnabled) {
    ApplyCapability(GL_MULTISAMPLE, s.multiSampleEnabled);
  }
  if (s.blendEnabled != m.blendEnabled) ApplyCapability(GL_BLEND, s.blendEnabled);
  if (s.logicOpEnabled != m.logicOpEnabled) {
    ApplyCapability(GL_COLOR_LOGIC_OP, s.logicOpEnabled);
  }
  if (s.logicOp != m.logicOp) ApplyLogicOp(s);
  if (s.blendEquationRGB != m.blendEquationRGB || s.blendEquationA != m.blendEquationA) {
    ApplyBlendEquation(s);
  }
  if (!SameBlendFunc(s, m)) ApplyBlendFunc(s);
  // The core profile has one mode for both faces. GL follows the back value,
  // as after a forced sync; the front value is only recorded. Applying a
  // changed front value would leave GL depending on which field changed
  // last, so a record with front Line and back Fill could draw lines.
  if (s.polygonModeBack != m.polygonModeBack) ApplyPolygonMode(s.polygonModeBack);
  if (s.stencilTestEnabled != m.stencilTestEnabled) {
    ApplyCapability(GL_STENCIL_TEST, s.stencilTestEnabled);
  }
  if (!SameStencilOp(s, m)) ApplyStencilOp(s);
  if (!SameStencilFunc(s, m)) ApplyStencilFunc(s);
  if (s.program != m.program) ApplyProgram(s.program);
  // Uniforms go whether or not the program changed: values staged since the
  // last sync are waiting for it.
  UploadPendingUniforms(s.program);
  SyncArrayBindings(s, m, false);
  if (s.framebuffer != m.framebuffer) ApplyFramebuffer(s.framebuffer);
  if (!SameViewport(s, m)) ApplyViewport(s);

  StoreMirror(s, m);
  SANEGL_CHECK_LIVE();
}

void StateSyncForce() {
  if (!detail::ContextAlive()) return;
  const GlobalState& s = Top();
  GlobalState& m = currentState;
  SANEGL_CHECK_LIVE();
  ApplyClearColor(s);
  ApplyClearStencil(s);
  ApplyClearDepth(s);
  ApplyColorMask(s);
  ApplyDepthMask(s);
  ApplyStencilMask(s);
  ApplyCapability(GL_CULL_FACE, s.cullEnabled);
  ApplyCullFace(s);
  ApplyCapability(GL_DEPTH_TEST, s.depthTestEnabled);
  ApplyDepthFunc(s);
  ApplyCapability(GL_DEBUG_OUTPUT, s.debugOuputEnabled);
  ApplyCapability(GL_MULTISAMPLE, s.multiSampleEnabled);
  ApplyCapability(GL_BLEND, s.blendEnabled);
  ApplyCapability(GL_COLOR_LOGIC_OP, s.logicOpEnabled);
  ApplyLogicOp(s);
  ApplyBlendEquation(s);
  ApplyBlendFunc(s);
  ApplyPolygonMode(s.polygonModeBack);
  ApplyCapability(GL_STENCIL_TEST, s.stencilTestEnabled);
  ApplyStencilOp(s);
  ApplyStencilFunc(s);
  ApplyProgram(s.program);
  SyncArrayBindings(s, m, true);
  ApplyFramebuffer(s.framebuffer);
  ApplyViewport(s);
  StoreMirror(s, m);
  SANEGL_CHECK_LIVE();
}

void StateSyncClear() {
  if (!detail::ContextAlive()) return;
  SyncClearValues(Top(), currentState);
  SyncWriteMasks(Top(), currentState);
}

void StateSyncDraw() {
  if (!detail::ContextAlive()) return;
  SyncWriteMasks(Top(), currentState);
}

void StateSyncBuffer() {
  if (!detail::ContextAlive()) return;
  const GlobalState& s = Top();
  GlobalState& m = currentState;
  // The vertex array stays as GL has it, so the element binding is resolved
  // against that one, not the requested one.
  if (s.arrayBuffer != m.arrayBuffer) ApplyBuffer(GL_ARRAY_BUFFER, s.arrayBuffer);
  m.arrayBuffer = s.arrayBuffer;
  SyncElementBuffer(s.elementArrayBuffer, m, false);
}

void StateSyncVertexArray() {
  if (!detail::ContextAlive()) return;
  SyncArrayBindings(Top(), currentState, false);
}

void StateSyncFramebuffer() {
  if (!detail::ContextAlive()) return;
  const GlobalState& s = Top();
  if (s.framebuffer != currentState.framebuffer) ApplyFramebuffer(s.framebuffer);
  currentState.framebuffer = s.framebuffer;
}

void AdoptContextDebugOutput() {
  if (!detail::ContextAlive()) return;
  Count(GLCall::Query);
  const bool on = glIsEnabled(GL_DEBUG_OUTPUT) == GL_TRUE;
  SANEGL_CHECK_LIVE();
  for (GlobalState& s : States) s.debugOuputEnabled = on;
  currentState.debugOuputEnabled = on;
}

void ResetStateStack() {
  States.clear();
  States.emplace_back();
  States.emplace_back();
  currentState = GlobalState();
  AdoptContextDebugOutput();
}

void StateSyncRender() {}
void StateSyncShaderCore() {}

void Clear(unsigned mask) {
  if (!detail::ContextAlive()) return;
  StateSyncClear();
  Count(GLCall::Clear);
  glClear(mask);
  SANEGL_CHECK_LIVE();
}

void detail::SetElementBuffer(VertexArrayState& array, const Buffer& buffer) {
  GlobalState& m = currentState;
  if (ContextAlive() && m.vertexArray.Use() == &array && buffer != m.elementArrayBuffer) {
    ApplyBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
    m.elementArrayBuffer = buffer;
  }
  array.elementBuffer = buffer;
}

}  // namespace SaneGL
