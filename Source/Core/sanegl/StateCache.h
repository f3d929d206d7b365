#pragma once
// The GL pipeline state cache. Callers never change GL state directly: the
// setters edit the *requested* state (the top of a stack of records) and the
// synchronisations compare it with a mirror of what GL holds, issuing GL
// calls only for what differs. Push a copy before changing a few fields for
// a pass and pop it afterwards.
//
// The mirror starts as a default record, which is not GL's own start state:
// the first synchronisation after the context exists must be StateSyncForce.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include <glm/glm.hpp>

#include "sanegl/Enums.h"
#include "sanegl/Objects.h"

namespace SaneGL {

// One complete pipeline state. Copying it copies its five handles (five more
// references).
struct GlobalState {
  glm::vec4 clearColor{0, 0, 0, 1};
  int clearStencil = 0;
  float clearDepth = 1.0f;
  FaceSide cullMode = FaceSide::Back;
  bool cullEnabled = false;
  ValueComparison depthTestMode = ValueComparison::Less;
  bool depthTestEnabled = true;
  bool logicOpEnabled = false;
  LogicOps logicOp = LogicOps::Disabled;
  bool blendEnabled = false;
  BlendEquation blendEquationRGB = BlendEquation::Add;
  BlendEquation blendEquationA = BlendEquation::Add;
  BlendFunction blendFunctionSrcRGB = BlendFunction::SrcAlpha;
  BlendFunction blendFunctionSrcA = BlendFunction::One;
  BlendFunction blendFunctionDstRGB = BlendFunction::OneMinusSrcAlpha;
  BlendFunction blendFunctionDstA = BlendFunction::OneMinusSrcAlpha;
  bool depthWrite = true;
  bool rWrite = true;
  bool gWrite = true;
  bool bWrite = true;
  bool aWrite = true;
  // The core profile has one polygon mode for both faces; GL follows
  // polygonModeBack.
  PolygonModes polygonModeFront = PolygonModes::Fill;
  PolygonModes polygonModeBack = PolygonModes::Fill;
  bool stencilTestEnabled = false;
  ValueComparison stencilFunc = ValueComparison::Equal;
  int stencilRef = 0;
  int stencilMask = 255;   // compare mask of glStencilFunc
  int stencilWrite = 255;  // glStencilMask
  StencilOpType sfailOp = StencilOpType::Keep;
  StencilOpType dpfailOp = StencilOpType::Keep;
  StencilOpType dppassOp = StencilOpType::Keep;
  bool debugOuputEnabled = false;
  bool multiSampleEnabled = false;
  // Empty handles stand for GL object 0.
  Program program;
  Buffer arrayBuffer;
  Buffer elementArrayBuffer;
  VertexArray vertexArray;
  Framebuffer framebuffer;
  int viewx = 0;
  int viewy = 0;
  int viewwidth = 0;
  int viewheight = 0;
};

// ---- Inspection --------------------------------------------------------------

// The record the setters edit (top of the stack).
const GlobalState& RequestedState();
// The mirror: what GL holds as far as the layer knows.
const GlobalState& CurrentState();
// Records on the stack; 2 at start, never below 1.
std::size_t StateDepth();
// The 40-line dump printed with every GL error, one "label = value" per line.
void DumpState(std::ostream& out, const GlobalState& state);

// ---- Setters: edit the requested state only, never call GL ------------------

void ClearColor(glm::vec4 c);
void ClearStencil(int s);
void ClearDepth(float d);
void ColorWrite(bool r, bool g, bool b, bool a);
void DepthWrite(bool w);
void StencilWrite(int mask);
// `None` switches culling off and keeps the stored face.
void CullFace(FaceSide side);
// `Always` switches the depth test off and keeps the stored comparison.
void DepthTest(ValueComparison c);
// `None` changes nothing.
void PolygonMode(FaceSide side, PolygonModes m);
void DebugOutput(bool on);
void Multisample(bool on);
// `Disabled` switches the logic op off and keeps the stored op.
void LogicOp(LogicOps op);
void StencilOp(StencilOpType sfail, StencilOpType dpfail, StencilOpType dppass);
// `Always` switches the stencil test off and keeps function, ref and mask.
void StencilFunc(ValueComparison c, int ref, int mask);
void BlendEquationSeparate(BlendEquation rgb, BlendEquation a);
// GL's argument order.
void BlendFuncSeparate(BlendFunction srcRGB, BlendFunction dstRGB, BlendFunction srcA,
                       BlendFunction dstA);
void Blend(bool on);
void Viewport(int x, int y, int w, int h);

// Bindings, applied at the next synchronisation.
void UseProgram(const Program& p);
// Array and element buffers only; other types have no binding here.
void BindBuffer(const Buffer& b);
void BindVertexArray(const VertexArray& v);
void BindFramebuffer(const Framebuffer& f);
void UnbindFramebuffer();

// Uniform staging into the requested program (nothing without one). One
// value per location; names the program lacks all land on location -1,
// which GL ignores. Uploaded by the next StateSync with that program.
void SetFloat(const std::string& name, float v);
void SetVector(const std::string& name, glm::vec2 v);
void SetVector(const std::string& name, glm::vec3 v);
void SetVector(const std::string& name, glm::vec4 v);
void SetMatrix3(const std::string& name, const glm::mat3& m);
void SetMatrix4(const std::string& name, const glm::mat4& m);
void SetTexture(const std::string& name, int unit);
// The same by the standard library's hash of the name.
void SetFloat(std::uint64_t nameHash, float v);
void SetVector(std::uint64_t nameHash, glm::vec2 v);
void SetVector(std::uint64_t nameHash, glm::vec3 v);
void SetVector(std::uint64_t nameHash, glm::vec4 v);
void SetMatrix3(std::uint64_t nameHash, const glm::mat3& m);
void SetMatrix4(std::uint64_t nameHash, const glm::mat4& m);
void SetTexture(std::uint64_t nameHash, int unit);

// ---- Stack -------------------------------------------------------------------

// Pushes a copy of the requested state, which becomes the requested state.
void StatePush();
// Drops the requested state. The bottom record is never popped: an
// unbalanced pop is reported and ignored.
void StatePop();
// Drops every change since the last push: the requested state becomes a
// copy of the record below it.
void StateRevert();

// ---- Synchronisation ---------------------------------------------------------
// Without a current GL context these do nothing at all.
//
// The element-array binding is the one field GL keeps per vertex array. A
// vertex array that has an element buffer of its own (VertexArrayState::
// elementBuffer) keeps it: while it is bound, the mirror's element binding
// is that buffer and a different requested one is not bound over it.

// Every field, by difference, plus the upload of the requested program's
// pending uniforms.
void StateSync();
// Every field, unconditionally (no uniform upload).
void StateSyncForce();
// Clear values and write masks.
void StateSyncClear();
// Write masks.
void StateSyncDraw();
// Array and element bindings, leaving the vertex array GL has bound.
void StateSyncBuffer();
// Vertex array, then the array and element bindings.
void StateSyncVertexArray();
void StateSyncFramebuffer();
// Takes GL_DEBUG_OUTPUT as the current context has it into every record and
// the mirror, so that no synchronisation, forced or not, switches off the
// debug output a context was created with. Call it once the context is set
// up; DebugOutput still changes it on purpose.
void AdoptContextDebugOutput();
// Back to the start: two default records (debug output as the current
// context has it) and a default mirror, so the next synchronisation must be
// StateSyncForce. For a host that starts over, and for tests.
void ResetStateStack();
// Kept for callers that mark these points; nothing reaches GL here.
void StateSyncRender();
void StateSyncShaderCore();
// StateSyncClear, then glClear with ClearTypes bits.
void Clear(unsigned mask);

// ---- Errors ------------------------------------------------------------------

// Drains GL's error queue; each error prints "GL_<name> - <file>:<line>"
// followed by the requested-state dump, and is counted in
// KestorEngine::Debug::GLErrorCount(). The run goes on.
void _SaneGLCheckGLError(const char* file, int line);
// Drains GL's error queue silently.
void _SaneGLClearGLError();

}  // namespace SaneGL
