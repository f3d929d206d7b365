// Guards the state cache: GL ends up exactly as requested, nothing redundant
// reaches GL, the stack restores records, uniforms upload when they should.
#include <SDL.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <utility>
#include <vector>

#include "engine/Debug.h"
#include "sanegl/StateCache.h"
#include "support/TestFiles.h"
#include "sanegl/SaneglFixture.h"

using namespace SaneGL;
using KestorTest::Calls;
using KestorTest::GetInt;
using KestorTest::IsOn;

namespace {

class StateCacheTest : public KestorTest::SaneGLFixture {};

// Every field away from its default.
void RequestUnusualState() {
  ClearColor({0.25f, 0.5f, 0.75f, 0.125f});
  ClearStencil(3);
  ClearDepth(0.5f);
  ColorWrite(true, false, true, false);
  DepthWrite(false);
  StencilWrite(0x0f);
  CullFace(FaceSide::Front);
  DepthTest(ValueComparison::GEqual);
  PolygonMode(FaceSide::FrontAndBack, PolygonModes::Line);
  Multisample(true);
  LogicOp(LogicOps::Xor);
  StencilOp(StencilOpType::Replace, StencilOpType::IncrWrap, StencilOpType::Invert);
  StencilFunc(ValueComparison::NotEqual, 7, 0x3c);
  BlendEquationSeparate(BlendEquation::ReverseSubtract, BlendEquation::Max);
  BlendFuncSeparate(BlendFunction::DstColor, BlendFunction::OneMinusConstantAlpha,
                    BlendFunction::SrcAlphaSaturate, BlendFunction::Zero);
  Blend(true);
  Viewport(4, 5, 30, 20);
}

void ExpectGLHoldsUnusualState() {
  // Also makes the driver look at the bound target's stencil bits, which
  // bound the stencil reference it reports.
  ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  for (GLenum capability :
       {GL_CULL_FACE, GL_DEPTH_TEST, GL_MULTISAMPLE, GL_COLOR_LOGIC_OP, GL_STENCIL_TEST, GL_BLEND}) {
    EXPECT_TRUE(IsOn(capability)) << std::hex << capability;
  }
  const std::pair<GLenum, GLint> values[] = {
      {GL_STENCIL_CLEAR_VALUE, 3},
      {GL_STENCIL_WRITEMASK, 0x0f},
      {GL_CULL_FACE_MODE, GL_FRONT},
      {GL_DEPTH_FUNC, GL_GEQUAL},
      {GL_LOGIC_OP_MODE, GL_XOR},
      {GL_STENCIL_FAIL, GL_REPLACE},
      {GL_STENCIL_PASS_DEPTH_FAIL, GL_INCR_WRAP},
      {GL_STENCIL_PASS_DEPTH_PASS, GL_INVERT},
      {GL_STENCIL_FUNC, GL_NOTEQUAL},
      {GL_STENCIL_REF, 7},
      {GL_STENCIL_VALUE_MASK, 0x3c},
      {GL_BLEND_EQUATION_RGB, GL_FUNC_REVERSE_SUBTRACT},
      {GL_BLEND_EQUATION_ALPHA, GL_MAX},
      {GL_BLEND_SRC_RGB, GL_DST_COLOR},
      {GL_BLEND_DST_RGB, GL_ONE_MINUS_CONSTANT_ALPHA},
      {GL_BLEND_SRC_ALPHA, GL_SRC_ALPHA_SATURATE},
      {GL_BLEND_DST_ALPHA, GL_ZERO},
  };
  for (const auto& [name, value] : values) EXPECT_EQ(GetInt(name), value) << std::hex << name;

  GLfloat color[4], depth = 0;
  glGetFloatv(GL_COLOR_CLEAR_VALUE, color);
  glGetFloatv(GL_DEPTH_CLEAR_VALUE, &depth);
  EXPECT_EQ(glm::vec4(color[0], color[1], color[2], color[3]), glm::vec4(0.25f, 0.5f, 0.75f, 0.125f));
  EXPECT_EQ(depth, 0.5f);
  GLboolean mask[5];
  glGetBooleanv(GL_COLOR_WRITEMASK, mask);
  glGetBooleanv(GL_DEPTH_WRITEMASK, &mask[4]);
  EXPECT_EQ(std::vector<GLboolean>(mask, mask + 5),
            (std::vector<GLboolean>{GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE, GL_FALSE}))
      << "colour mask, then depth mask";
  GLint polygon[2], view[4];
  glGetIntegerv(GL_POLYGON_MODE, polygon);
  glGetIntegerv(GL_VIEWPORT, view);
  EXPECT_EQ(polygon[0], GL_LINE);
  EXPECT_EQ(std::vector<GLint>(view, view + 4), (std::vector<GLint>{4, 5, 30, 20}));
}

void ExpectGLHoldsDefaults() {
  EXPECT_FALSE(IsOn(GL_CULL_FACE));
  EXPECT_TRUE(IsOn(GL_DEPTH_TEST));
  EXPECT_EQ(GetInt(GL_DEPTH_FUNC), GL_LESS);
  EXPECT_FALSE(IsOn(GL_BLEND));
  EXPECT_FALSE(IsOn(GL_STENCIL_TEST));
  EXPECT_FALSE(IsOn(GL_COLOR_LOGIC_OP));
  EXPECT_EQ(GetInt(GL_BLEND_SRC_RGB), GL_SRC_ALPHA);
  GLint polygon[2];
  glGetIntegerv(GL_POLYGON_MODE, polygon);
  EXPECT_EQ(polygon[0], GL_FILL);
  GLint view[4];
  glGetIntegerv(GL_VIEWPORT, view);
  EXPECT_EQ(view[2], 64);
}

// ---- Synchronisation by difference -------------------------------------------

TEST_F(StateCacheTest, SyncLeavesGLInTheRequestedStateForEveryFieldGroup) {
  KestorTest::StencilTarget target;
  BindFramebuffer(target.framebuffer);
  RequestUnusualState();
  StateSync();
  ExpectGLHoldsUnusualState();
  EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING), static_cast<GLint>(target.framebuffer.glID()));
}

TEST_F(StateCacheTest, ForcedSyncRepairsStateChangedBehindTheCache) {
  KestorTest::StencilTarget target;
  BindFramebuffer(target.framebuffer);
  RequestUnusualState();
  StateSync();
  glDisable(GL_BLEND);
  glDepthFunc(GL_NEVER);
  StateSync();
  EXPECT_FALSE(IsOn(GL_BLEND)) << "a diffing sync trusts its mirror";
  StateSyncForce();
  ExpectGLHoldsUnusualState();
}

TEST_F(StateCacheTest, ForcedSyncsKeepTheDebugOutputTheContextWasCreatedWith) {
  // What the renderer does every frame, from the bottom record up.
  for (int frame = 0; frame < 3; ++frame) {
    StateRevert();
    StateSyncForce();
    StatePush();
    StateSync();
    StatePop();
  }
  EXPECT_TRUE(IsOn(GL_DEBUG_OUTPUT));
  glEnable(0x7FFF);  // a GL error, long after the context was made
  EXPECT_EQ(DriverErrorCount(), 1u) << "the debug callback still hears it";
  ForgetGLErrors();
  DebugOutput(false);
  StateSync();
  EXPECT_FALSE(IsOn(GL_DEBUG_OUTPUT)) << "switching it off on purpose still works";
  DebugOutput(true);
  StateSync();
}

TEST_F(StateCacheTest, SecondSyncWithNothingChangedIssuesNoCall) {
  RequestUnusualState();
  StateSync();
  ResetCallCounts();
  StateSync();
  StateSyncClear();
  StateSyncDraw();
  StateSyncBuffer();
  StateSyncVertexArray();
  StateSyncFramebuffer();
  EXPECT_EQ(CallCounts().Changes(), 0u);
}

TEST_F(StateCacheTest, EachChangedGroupIssuesExactlyOneCall) {
  struct Case {
    const char* what;
    std::function<void()> change;
    GLCall expected;
  };
  const Case cases[] = {
      {"clear colour", [] { ClearColor({1, 0, 0, 1}); }, GLCall::ClearColor},
      {"two colour-mask flags", [] { ColorWrite(false, false, true, true); }, GLCall::ColorMask},
      {"stencil write mask", [] { StencilWrite(1); }, GLCall::StencilMask},
      {"two blend functions",
       [] {
         BlendFuncSeparate(BlendFunction::One, BlendFunction::One, BlendFunction::One,
                           BlendFunction::OneMinusSrcAlpha);
       },
       GLCall::BlendFuncSeparate},
      {"blend equations", [] { BlendEquationSeparate(BlendEquation::Min, BlendEquation::Min); },
       GLCall::BlendEquationSeparate},
      {"stencil ops",
       [] { StencilOp(StencilOpType::Zero, StencilOpType::Zero, StencilOpType::Keep); },
       GLCall::StencilOp},
      {"whole viewport", [] { Viewport(1, 2, 3, 4); }, GLCall::Viewport},
      {"blend switch", [] { Blend(true); }, GLCall::Enable},
  };
  for (const Case& c : cases) {
    StatePush();
    c.change();
    ResetCallCounts();
    StateSync();
    EXPECT_EQ(Calls(c.expected), 1u) << c.what;
    EXPECT_EQ(CallCounts().Changes(), 1u) << c.what;
    StatePop();
    StateSync();
  }
  // Stencil function, ref and mask are one call, and switching the test on
  // is another.
  StencilFunc(ValueComparison::Less, 1, 2);
  ResetCallCounts();
  StateSync();
  EXPECT_EQ(Calls(GLCall::StencilFunc), 1u);
  EXPECT_EQ(Calls(GLCall::Enable), 1u);
  EXPECT_EQ(CallCounts().Changes(), 2u);
}

TEST_F(StateCacheTest, NaNClearColourIsAlwaysResent) {
  ClearColor({std::nanf(""), 0, 0, 1});
  StateSync();
  ResetCallCounts();
  StateSync();
  EXPECT_EQ(Calls(GLCall::ClearColor), 1u);
}

// ---- Switch-off rules --------------------------------------------------------

TEST_F(StateCacheTest, DepthTestAlwaysSwitchesTheTestOffAndKeepsTheFunction) {
  DepthTest(ValueComparison::LEqual);
  StateSync();
  DepthTest(ValueComparison::Always);
  ResetCallCounts();
  StateSync();
  EXPECT_FALSE(IsOn(GL_DEPTH_TEST));
  EXPECT_EQ(GetInt(GL_DEPTH_FUNC), GL_LEQUAL);
  EXPECT_EQ(Calls(GLCall::DepthFunc), 0u);
  EXPECT_EQ(RequestedState().depthTestMode, ValueComparison::LEqual);

  DepthTest(ValueComparison::Less);
  StateSync();
  EXPECT_TRUE(IsOn(GL_DEPTH_TEST));
  EXPECT_EQ(GetInt(GL_DEPTH_FUNC), GL_LESS);
}

TEST_F(StateCacheTest, NoneAlwaysAndDisabledKeepTheStoredValues) {
  KestorTest::StencilTarget target;
  BindFramebuffer(target.framebuffer);
  CullFace(FaceSide::FrontAndBack);
  StencilFunc(ValueComparison::Greater, 9, 0x70);
  LogicOp(LogicOps::Nand);
  StateSync();

  CullFace(FaceSide::None);
  StencilFunc(ValueComparison::Always, 1, 1);
  LogicOp(LogicOps::Disabled);
  StateSync();
  ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
  EXPECT_FALSE(IsOn(GL_CULL_FACE));
  EXPECT_EQ(GetInt(GL_CULL_FACE_MODE), GL_FRONT_AND_BACK);
  EXPECT_FALSE(IsOn(GL_STENCIL_TEST));
  EXPECT_EQ(GetInt(GL_STENCIL_FUNC), GL_GREATER);
  EXPECT_EQ(GetInt(GL_STENCIL_REF), 9);
  EXPECT_EQ(GetInt(GL_STENCIL_VALUE_MASK), 0x70);
  EXPECT_FALSE(IsOn(GL_COLOR_LOGIC_OP));
  EXPECT_EQ(GetInt(GL_LOGIC_OP_MODE), GL_NAND);

  CullFace(FaceSide::Back);
  StateSync();
  EXPECT_TRUE(IsOn(GL_CULL_FACE));
  EXPECT_EQ(GetInt(GL_CULL_FACE_MODE), GL_BACK);
}

TEST_F(StateCacheTest, GLPolygonModeFollowsTheBackValue) {
  GLint mode[2];
  PolygonMode(FaceSide::Front, PolygonModes::Line);
  PolygonMode(FaceSide::Back, PolygonModes::Fill);
  ResetCallCounts();
  StateSync();
  glGetIntegerv(GL_POLYGON_MODE, mode);
  EXPECT_EQ(mode[0], GL_FILL);
  EXPECT_EQ(Calls(GLCall::PolygonMode), 0u);

  PolygonMode(FaceSide::Back, PolygonModes::Point);
  StateSync();
  glGetIntegerv(GL_POLYGON_MODE, mode);
  EXPECT_EQ(mode[0], GL_POINT);

  PolygonMode(FaceSide::FrontAndBack, PolygonModes::Line);
  PolygonMode(FaceSide::None, PolygonModes::Fill);
  StateSync();
  glGetIntegerv(GL_POLYGON_MODE, mode);
  EXPECT_EQ(mode[0], GL_LINE);
  EXPECT_EQ(RequestedState().polygonModeFront, PolygonModes::Line);
}

// ---- Stack -------------------------------------------------------------------

TEST_F(StateCacheTest, PopLeavesGLInTheRecordBelowWithTheFewestCalls) {
  StatePush();
  RequestUnusualState();
  StateSync();
  StatePop();
  StateSync();
  ExpectGLHoldsDefaults();

  StatePush();
  Viewport(0, 0, 8, 8);
  StateSync();
  StatePop();
  ResetCallCounts();
  StateSync();
  EXPECT_EQ(CallCounts().Changes(), 1u);
  EXPECT_EQ(Calls(GLCall::Viewport), 1u);
}

TEST_F(StateCacheTest, RevertDropsEveryChangeSinceThePush) {
  StatePush();
  RequestUnusualState();
  StateSync();
  StateRevert();
  EXPECT_EQ(StateDepth(), 3u);
  EXPECT_EQ(RequestedState().viewwidth, 64);
  EXPECT_EQ(RequestedState().cullMode, FaceSide::Back);
  StateSync();
  ExpectGLHoldsDefaults();

  // The reverted record equals the one below it, so popping to that costs
  // nothing.
  StatePop();
  ResetCallCounts();
  StateSync();
  EXPECT_EQ(CallCounts().Changes(), 0u);
}

TEST_F(StateCacheTest, UnbalancedPopIsReportedAndTheBottomRecordStays) {
  KestorTest::CaptureStdout out;
  EXPECT_EQ(StateDepth(), 2u);
  StatePop();
  StatePop();
  StatePop();
  StateRevert();
  EXPECT_EQ(StateDepth(), 1u);
  EXPECT_NE(out.Text().find("StatePop without a matching StatePush"), std::string::npos);
  EXPECT_NE(out.Text().find("StateRevert without a matching StatePush"), std::string::npos);
  Blend(true);
  StateSync();
  EXPECT_TRUE(IsOn(GL_BLEND));
}

TEST_F(StateCacheTest, RecordsOnTheStackHoldReferences) {
  Program program = KestorTest::MakeProgram(KestorTest::kVertexText, KestorTest::kFragmentText);
  UseProgram(program);
  EXPECT_EQ(program.References(), 2);
  StatePush();
  StatePush();
  EXPECT_EQ(program.References(), 4);
  StatePop();
  StateRevert();
  EXPECT_EQ(program.References(), 3);
  StatePop();
  StateSync();
  EXPECT_EQ(program.References(), 3) << "handle, requested state, mirror";
}

// ---- Partial synchronisations and clearing -----------------------------------

TEST_F(StateCacheTest, ClearSyncsOnlyClearStateThenClears) {
  ClearColor({0, 1, 0, 1});
  ColorWrite(true, true, true, true);
  Blend(true);
  ResetCallCounts();
  Clear(ClearTypes::Color | ClearTypes::Depth);
  EXPECT_EQ(Calls(GLCall::ClearColor), 1u);
  EXPECT_EQ(Calls(GLCall::Clear), 1u);
  EXPECT_EQ(Calls(GLCall::Enable), 0u) << "blending is not clear state";
  EXPECT_FALSE(IsOn(GL_BLEND));
  unsigned char pixel[4] = {};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ(pixel[0], 0);
  EXPECT_EQ(pixel[1], 255);

  DepthWrite(false);
  ClearColor({1, 1, 1, 1});
  ResetCallCounts();
  StateSyncDraw();
  EXPECT_EQ(Calls(GLCall::DepthMask), 1u);
  EXPECT_EQ(Calls(GLCall::ClearColor), 0u);
}

// ---- Element buffer adoption -------------------------------------------------

TEST_F(StateCacheTest, BindingAVertexArrayAdoptsItsElementBuffer) {
  Buffer elements = Buffer::Create(BufferType::ElementArrayBuffer);
  VertexArray array = VertexArray::Create();
  array.BindElementArray(elements);
  // Leave GL on another vertex array.
  StateSync();
  EXPECT_EQ(GetInt(GL_VERTEX_ARRAY_BINDING), 0);

  BindVertexArray(array);
  ResetCallCounts();
  StateSync();
  EXPECT_EQ(GetInt(GL_VERTEX_ARRAY_BINDING), static_cast<GLint>(array.glID()));
  EXPECT_EQ(GetInt(GL_ELEMENT_ARRAY_BUFFER_BINDING), static_cast<GLint>(elements.glID()));
  EXPECT_EQ(CurrentState().elementArrayBuffer, elements);
  EXPECT_TRUE(RequestedState().elementArrayBuffer.Empty());
  EXPECT_EQ(Calls(GLCall::BindVertexArray), 1u);
}

TEST_F(StateCacheTest, AdoptionSkipsTheBindWhenTheMirrorAlreadyMatches) {
  Buffer elements = Buffer::Create(BufferType::ElementArrayBuffer);
  VertexArray first = VertexArray::Create();
  VertexArray second = VertexArray::Create();
  first.BindElementArray(elements);
  second.BindElementArray(elements);
  StatePush();
  BindVertexArray(first);
  StateSync();
  StatePop();
  BindVertexArray(second);
  ResetCallCounts();
  StateSync();
  EXPECT_EQ(Calls(GLCall::BindVertexArray), 1u);
  EXPECT_EQ(Calls(GLCall::BindBuffer), 0u);
  EXPECT_EQ(GetInt(GL_ELEMENT_ARRAY_BUFFER_BINDING), static_cast<GLint>(elements.glID()));
}

// ---- Uniform staging ---------------------------------------------------------

class UniformStagingTest : public StateCacheTest {
 protected:
  void SetUp() override {
    StateCacheTest::SetUp();
    program = KestorTest::MakeProgram(KestorTest::kVertexText, KestorTest::kFragmentText);
    other = KestorTest::MakeProgram(KestorTest::kVertexText, KestorTest::kFragmentText);
  }
  glm::vec3 ReadVec3(const Program& p, const char* name) {
    glm::vec3 v(0);
    glGetUniformfv(p.glID(), glGetUniformLocation(p.glID(), name), &v.x);
    return v;
  }
  Program program;
  Program other;
};

TEST_F(UniformStagingTest, LastWriteWinsAndUploadsOnce) {
  UseProgram(program);
  SetVector("tint", glm::vec3(1, 2, 3));
  SetVector("tint", glm::vec3(4, 5, 6));
  EXPECT_EQ(program.Use()->pendingUniforms.size(), 1u);
  ResetCallCounts();
  StateSync();
  EXPECT_EQ(Calls(GLCall::Uniform), 1u);
  EXPECT_EQ(ReadVec3(program, "tint"), glm::vec3(4, 5, 6));
  EXPECT_TRUE(program.Use()->pendingUniforms.empty());

  ResetCallCounts();
  StateSync();
  EXPECT_EQ(Calls(GLCall::Uniform), 0u);
}

TEST_F(UniformStagingTest, NamesTheProgramLacksCollapseOntoMinusOne) {
  UseProgram(program);
  SetFloat("nothing", 1.0f);
  SetVector("nowhere", glm::vec4(1));
  SetFloat(std::hash<std::string>{}("neither"), 2.0f);
  ASSERT_EQ(program.Use()->pendingUniforms.size(), 1u);
  EXPECT_EQ(program.Use()->pendingUniforms.begin()->first, -1);
  StateSync();
  EXPECT_TRUE(program.Use()->pendingUniforms.empty());
}

TEST_F(UniformStagingTest, ValuesWaitForAFullSyncOfTheirOwnProgram) {
  UseProgram(program);
  SetFloat(std::hash<std::string>{}("gain"), 2.5f);
  SetMatrix3("tilt", glm::mat3(2.0f));
  StateSyncDraw();
  StateSyncClear();
  EXPECT_EQ(program.Use()->pendingUniforms.size(), 2u) << "only StateSync uploads";

  UseProgram(other);
  StateSync();
  EXPECT_EQ(program.Use()->pendingUniforms.size(), 2u) << "another program was synchronised";
  GLfloat gain = 0;
  glGetUniformfv(program.glID(), glGetUniformLocation(program.glID(), "gain"), &gain);
  EXPECT_EQ(gain, 0.0f);

  UseProgram(program);
  StateSync();
  glGetUniformfv(program.glID(), glGetUniformLocation(program.glID(), "gain"), &gain);
  EXPECT_EQ(gain, 2.5f);
  GLfloat tilt[9];
  glGetUniformfv(program.glID(), glGetUniformLocation(program.glID(), "tilt"), tilt);
  EXPECT_EQ(tilt[0], 2.0f);
  EXPECT_EQ(tilt[1], 0.0f);
  EXPECT_EQ(tilt[8], 2.0f);
}

TEST_F(UniformStagingTest, StagingWithoutAProgramDoesNothing) {
  SetFloat("gain", 1.0f);
  SetTexture("unit", 3);
  StateSync();
  EXPECT_TRUE(program.Use()->pendingUniforms.empty());
  EXPECT_EQ(Calls(GLCall::Uniform), 0u);
}

// ---- Errors ------------------------------------------------------------------

TEST_F(StateCacheTest, EachGLErrorPrintsALineAndTheStateDumpAndIsCounted) {
  std::string text;
  {
    KestorTest::CaptureStdout out;
    Viewport(0, 0, -1, 8);  // GL_INVALID_VALUE
    StencilWrite(5);
    StateSync();
    text = out.Text();
  }
  EXPECT_EQ(KestorEngine::Debug::GLErrorCount(), 1u);
  ForgetGLErrors();

  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line.rfind("GL_INVALID_VALUE - RELEASEBUILD:", 0), 0u) << line;
  std::getline(lines, line);
  EXPECT_EQ(line, "clearColor = vec4(0.000000, 0.000000, 0.000000, 1.000000)");
  std::getline(lines, line);
  EXPECT_EQ(line, "clearStencil = 0");
  std::getline(lines, line);
  EXPECT_EQ(line, "clearDepth = 1");
  int dumped = 3;
  std::string last;
  while (std::getline(lines, line)) {
    ++dumped;
    last = line;
    if (line.rfind("stencilWrite", 0) == 0) {
      EXPECT_EQ(line, "stencilWrite = 5");
    }
    if (line.rfind("debugOuputEnabled", 0) == 0) {
      EXPECT_EQ(line, "debugOuputEnabled = 1");
    }
  }
  EXPECT_EQ(dumped, 40);
  EXPECT_EQ(last, "viewheight = 8");
}

// ---- Without a context -------------------------------------------------------

TEST(StateCacheWithoutContext, NothingReachesGLWhenNoContextIsCurrent) {
  SDL_Window* window = KestorTest::TestWindow();
  if (window != nullptr) SDL_GL_MakeCurrent(window, nullptr);
  Framebuffer::_MaxSamples = 0;  // an earlier test of this process may have read it
  ResetCallCounts();
  {
    KestorTest::CaptureStdout out;
    Program program = Program::Create();
    Buffer buffer = Buffer::Create(BufferType::ArrayBuffer);
    VertexArray array = VertexArray::Create();
    Framebuffer framebuffer = Framebuffer::Create();
    buffer.BufferData(4, "abc", BufferUsage::StaticDraw);
    array.BindElementArray(buffer);
    framebuffer.BindTexture(0, 1, 0);
    UseProgram(program);
    SetFloat("x", 1);
    StateSyncForce();
    StateSync();
    Clear(ClearTypes::Color);
    EXPECT_EQ(program.glID(), 0u);
    EXPECT_EQ(Framebuffer::MaxSamples(), 0);
    StatePush();
    StatePop();
    UseProgram(Program());
  }
  EXPECT_EQ(CallCounts().Total(), 0u);
  if (window != nullptr) {
    EXPECT_TRUE(KestorTest::EnsureGLContext());
  }
}

}  // namespace
