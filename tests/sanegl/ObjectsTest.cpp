// Guards GL object lifetimes through handles and state records, and the
// object operations: binding brackets, attachment caching, uploads, draws.
#include <string>
#include <vector>

#include "sanegl/Objects.h"
#include "support/TestFiles.h"
#include "sanegl/SaneglFixture.h"

using namespace SaneGL;
using KestorTest::Calls;
using KestorTest::GetInt;

namespace {

class ObjectsTest : public KestorTest::SaneGLFixture {};

GLint BufferSize(const Buffer& buffer) {
  GLint size = -1;
  glBindBuffer(GL_COPY_READ_BUFFER, buffer.glID());
  glGetBufferParameteriv(GL_COPY_READ_BUFFER, GL_BUFFER_SIZE, &size);
  glBindBuffer(GL_COPY_READ_BUFFER, 0);
  return size;
}

GLuint MakeTexture() {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 16, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glBindTexture(GL_TEXTURE_2D, 0);
  return texture;
}

GLint AttachedTo(GLenum attachment) {
  GLint name = -1;
  glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment,
                                        GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
  return name;
}

// ---- Lifetimes ---------------------------------------------------------------

TEST_F(ObjectsTest, BufferIsDeletedOnceAfterItsLastHandle) {
  Buffer first = Buffer::Create(BufferType::ArrayBuffer);
  first.BufferData(16, nullptr, BufferUsage::StaticDraw);
  StateSync();  // the upload left it bound in the mirror; let go of that
  GLuint name = first.glID();
  ASSERT_TRUE(glIsBuffer(name));
  ResetCallCounts();
  {
    Buffer second(first);
    Buffer third;
    third = second;
    EXPECT_EQ(first.References(), 3);
    first = Buffer();
    second = Buffer();
    EXPECT_TRUE(glIsBuffer(name));
    EXPECT_EQ(Calls(GLCall::DeleteObject), 0u);
  }
  EXPECT_FALSE(glIsBuffer(name));
  EXPECT_EQ(Calls(GLCall::DeleteObject), 1u);
}

TEST_F(ObjectsTest, ProgramLivesWhileAStateRecordNamesIt) {
  Program program = KestorTest::MakeProgram(KestorTest::kVertexText, KestorTest::kFragmentText);
  GLuint name = program.glID();
  UseProgram(program);
  StateSync();
  program = Program();
  EXPECT_TRUE(glIsProgram(name)) << "requested state and mirror still hold it";

  Program next = KestorTest::MakeProgram(KestorTest::kVertexText, KestorTest::kFragmentText);
  UseProgram(next);
  KestorTest::CaptureStdout out;
  StateSync();
  EXPECT_FALSE(glIsProgram(name));
  EXPECT_EQ(out.Text(), "PROGDEL" + std::to_string(name) + "\n");
}

TEST_F(ObjectsTest, PushedRecordKeepsAnObjectUntilItIsPopped) {
  Framebuffer framebuffer = Framebuffer::Create();
  framebuffer.FramebufferParameter(FramebufferParameters::DefaultWidth, 8);
  StateSync();
  GLuint name = framebuffer.glID();
  StatePush();
  BindFramebuffer(framebuffer);
  framebuffer = Framebuffer();
  StatePush();
  UnbindFramebuffer();
  StatePop();
  EXPECT_TRUE(glIsFramebuffer(name));
  KestorTest::CaptureStdout out;
  StatePop();
  EXPECT_FALSE(glIsFramebuffer(name));
  EXPECT_EQ(out.Text(), "FRAMEDEL\nFRAMEDEL" + std::to_string(name) + "\n");
}

TEST_F(ObjectsTest, VertexArrayReleasesItsElementBufferWhenDeleted) {
  VertexArray array = VertexArray::Create();
  Buffer elements = Buffer::Create(BufferType::ElementArrayBuffer);
  array.BindElementArray(elements);
  GLuint arrayName = array.glID();
  GLuint bufferName = elements.glID();
  elements = Buffer();
  array = VertexArray();
  StateSync();  // the mirror lets go of both
  EXPECT_FALSE(glIsVertexArray(arrayName));
  EXPECT_FALSE(glIsBuffer(bufferName));
}

// ---- Binding brackets --------------------------------------------------------

TEST_F(ObjectsTest, ObjectOperationsLeaveTheRequestedStateAsTheyFoundIt) {
  Buffer vertices = Buffer::Create(BufferType::ArrayBuffer);
  Buffer indices = Buffer::Create(BufferType::ElementArrayBuffer);
  VertexArray array = VertexArray::Create();
  Framebuffer framebuffer = Framebuffer::Create();
  GLuint texture = MakeTexture();
  std::size_t depth = StateDepth();

  vertices.BufferData(36, nullptr, BufferUsage::StaticDraw);
  indices.BufferData(12, nullptr, BufferUsage::StaticDraw);
  array.BindElementArray(indices);
  array.VertexAttribPointer(vertices, 0, 3, DataType::Float, false, 12, nullptr);
  array.EnableVertexAttribArray(0);
  framebuffer.BindTexture(0, static_cast<int>(texture), 0);

  EXPECT_EQ(StateDepth(), depth);
  const GlobalState& requested = RequestedState();
  EXPECT_TRUE(requested.arrayBuffer.Empty());
  EXPECT_TRUE(requested.elementArrayBuffer.Empty());
  EXPECT_TRUE(requested.vertexArray.Empty());
  EXPECT_TRUE(requested.framebuffer.Empty());
  // GL keeps the last objects bound, and the mirror knows it.
  EXPECT_EQ(CurrentState().framebuffer, framebuffer);
  EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING), static_cast<GLint>(framebuffer.glID()));
  EXPECT_EQ(CurrentState().vertexArray, array);
  EXPECT_EQ(GetInt(GL_VERTEX_ARRAY_BINDING), static_cast<GLint>(array.glID()));
  EXPECT_EQ(GetInt(GL_ELEMENT_ARRAY_BUFFER_BINDING), static_cast<GLint>(indices.glID()));

  StateSync();
  EXPECT_EQ(GetInt(GL_FRAMEBUFFER_BINDING), 0);
  EXPECT_EQ(GetInt(GL_VERTEX_ARRAY_BINDING), 0);
  glDeleteTextures(1, &texture);
}

TEST_F(ObjectsTest, UploadsLandInTheirOwnBufferWhateverIsRequestedOrMirrored) {
  Buffer recorded = Buffer::Create(BufferType::ElementArrayBuffer);
  Buffer fresh = Buffer::Create(BufferType::ElementArrayBuffer);
  VertexArray array = VertexArray::Create();
  recorded.BufferData(8, nullptr, BufferUsage::StaticDraw);
  array.BindElementArray(recorded);
  BindVertexArray(array);
  fresh.BufferData(100, nullptr, BufferUsage::DynamicDraw);
  EXPECT_EQ(BufferSize(fresh), 100);
  EXPECT_EQ(BufferSize(recorded), 8);

  // A target the state cache does not mirror.
  Buffer uniforms = Buffer::Create(BufferType::UniformBufferTarget);
  uniforms.BufferData(64, nullptr, BufferUsage::DynamicDraw);
  EXPECT_EQ(BufferSize(uniforms), 64);
  EXPECT_EQ(GetInt(GL_UNIFORM_BUFFER_BINDING), 0);
}

// A quad made the way the mesh loader makes one: vertices, indices, then
// the vertex array.
struct Quad {
  Buffer vertices = Buffer::Create(BufferType::ArrayBuffer);
  Buffer indices = Buffer::Create(BufferType::ElementArrayBuffer);
  VertexArray array = VertexArray::Create();
};

void Upload(Quad& mesh, float left, float right) {
  const float corners[] = {left, -1, 0, right, -1, 0, right, 1, 0, left, 1, 0};
  const unsigned faces[] = {0, 1, 2, 0, 2, 3};
  mesh.vertices.BufferData(sizeof corners, corners, BufferUsage::StaticDraw);
  mesh.indices.BufferData(sizeof faces, faces, BufferUsage::StaticDraw);
  mesh.array.BindElementArray(mesh.indices);
  mesh.array.VertexAttribPointer(mesh.vertices, 0, 3, DataType::Float, false, 12, nullptr);
  mesh.array.EnableVertexAttribArray(0);
}

void DrawFlat(const Program& program, Quad& mesh, glm::vec3 tint) {
  UseProgram(program);
  SetMatrix4("xf", glm::mat4(1.0f));
  SetMatrix3("tilt", glm::mat3(1.0f));
  SetFloat("gain", 1.0f);
  SetVector("tint", tint);
  mesh.array.DrawElements(PrimitiveModes::Triangles, 6, DataType::UnsignedInt, nullptr);
}

glm::ivec3 PixelAt(int x, int y) {
  unsigned char pixel[4] = {};
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  return glm::ivec3(pixel[0], pixel[1], pixel[2]);
}

// The element buffer GL really holds inside a vertex array, read behind the
// cache's back.
GLint ElementsInside(const VertexArray& array) {
  GLint previous = GetInt(GL_VERTEX_ARRAY_BINDING);
  glBindVertexArray(array.glID());
  GLint elements = GetInt(GL_ELEMENT_ARRAY_BUFFER_BINDING);
  glBindVertexArray(static_cast<GLuint>(previous));
  return elements;
}

// Two meshes made one after the other, then drawn: each must draw with its
// own index buffer even though GL's element binding lives inside whichever
// vertex array was bound at the time.
TEST_F(ObjectsTest, MeshesUploadedBackToBackEachDrawWithTheirOwnIndices) {
  Program program = KestorTest::MakeProgram(KestorTest::kVertexText, KestorTest::kFragmentText);
  Quad leftHalf;
  Quad rightHalf;
  Upload(leftHalf, -1, 0);
  DrawFlat(program, leftHalf, {1, 0, 0});
  Upload(rightHalf, 0, 1);
  ClearColor({0, 0, 0, 1});
  Clear(ClearTypes::Color | ClearTypes::Depth);
  DrawFlat(program, leftHalf, {1, 0, 0});
  DrawFlat(program, rightHalf, {0, 1, 0});
  EXPECT_EQ(PixelAt(16, 32), glm::ivec3(255, 0, 0));
  EXPECT_EQ(PixelAt(48, 32), glm::ivec3(0, 255, 0));
}

// GL stores the element binding inside the bound vertex array, so every
// element-buffer bind lands in some vertex array. None of the layer's own
// operations may put the wrong one there.
TEST_F(ObjectsTest, AVertexArrayKeepsItsIndicesWhateverIsBoundAroundIt) {
  Quad mesh;
  Upload(mesh, -1, 1);  // attribute setup after BindElementArray
  EXPECT_EQ(ElementsInside(mesh.array), static_cast<GLint>(mesh.indices.glID()));

  // Indices uploaded for another mesh while this vertex array is bound.
  ASSERT_EQ(CurrentState().vertexArray, mesh.array);
  Buffer other = Buffer::Create(BufferType::ElementArrayBuffer);
  other.BufferData(12, nullptr, BufferUsage::StaticDraw);
  EXPECT_EQ(ElementsInside(mesh.array), static_cast<GLint>(mesh.indices.glID()));

  // Requested alongside an element buffer of its own: the vertex array's
  // wins, in the plain and the forced sync, and the mirror says so.
  BindVertexArray(mesh.array);
  BindBuffer(other);
  StateSync();
  EXPECT_EQ(ElementsInside(mesh.array), static_cast<GLint>(mesh.indices.glID()));
  EXPECT_EQ(CurrentState().elementArrayBuffer, mesh.indices);
  EXPECT_EQ(RequestedState().elementArrayBuffer, other);
  StateSyncForce();
  EXPECT_EQ(ElementsInside(mesh.array), static_cast<GLint>(mesh.indices.glID()));
  ResetCallCounts();
  StateSync();
  EXPECT_EQ(CallCounts().Changes(), 0u);
}

TEST_F(ObjectsTest, RequestedVertexArrayDrawsAgainAndAgain) {
  Program program = KestorTest::MakeProgram(KestorTest::kVertexText, KestorTest::kFragmentText);
  Quad mesh;
  Upload(mesh, -1, 1);
  BindVertexArray(mesh.array);
  Clear(ClearTypes::Color | ClearTypes::Depth);
  for (int i = 0; i < 3; ++i) DrawFlat(program, mesh, {0, 0, 1});
  EXPECT_EQ(PixelAt(32, 32).z, 255);
  // The fixture fails the test on the GL error a draw without indices gives.
}

// ---- Framebuffer caching -----------------------------------------------------

TEST_F(ObjectsTest, RepeatedAttachmentsAndParametersAreSkipped) {
  Framebuffer framebuffer = Framebuffer::Create();
  GLuint texture = MakeTexture();
  int t = static_cast<int>(texture);

  framebuffer.BindTexture(0, t, 0);
  framebuffer.BindTexture(0, t, 0);
  framebuffer.BindTexture(0, t, 1);
  EXPECT_EQ(Calls(GLCall::FramebufferTexture), 1u);
  EXPECT_EQ(AttachedTo(GL_COLOR_ATTACHMENT0), t);

  framebuffer.FramebufferParameter(FramebufferParameters::DefaultWidth, 512);
  framebuffer.FramebufferParameter(FramebufferParameters::DefaultWidth, 512);
  EXPECT_EQ(Calls(GLCall::FramebufferParameter), 1u);
  framebuffer.FramebufferParameter(FramebufferParameters::DefaultWidth, 0);
  EXPECT_EQ(Calls(GLCall::FramebufferParameter), 2u);

  // A deleted texture's name may come back for a new texture.
  Framebuffer::ForgetTexture(t);
  framebuffer.BindTexture(0, t, 0);
  EXPECT_EQ(Calls(GLCall::FramebufferTexture), 2u);
  glDeleteTextures(1, &texture);
}

TEST_F(ObjectsTest, AttachmentSlotsAndDrawBuffers) {
  Framebuffer framebuffer = Framebuffer::Create();
  GLuint first = MakeTexture();
  GLuint second = MakeTexture();

  framebuffer.BindTexture(3, static_cast<int>(first), 0);
  framebuffer.BindTexture(20, static_cast<int>(second), 0);  // outside 0..15: slot 0
  framebuffer.BindTexture(Attachment::DepthAttachment, 0, 0);
  EXPECT_EQ(AttachedTo(GL_COLOR_ATTACHMENT3), static_cast<GLint>(first));
  EXPECT_EQ(AttachedTo(GL_COLOR_ATTACHMENT0), static_cast<GLint>(second));
  EXPECT_EQ(framebuffer.Use()->colorAttachments[0], static_cast<int>(second));

  framebuffer.DrawBuffers({3, 0});
  EXPECT_EQ(GetInt(GL_DRAW_BUFFER0), GL_COLOR_ATTACHMENT3);
  EXPECT_EQ(GetInt(GL_DRAW_BUFFER1), GL_COLOR_ATTACHMENT0);
  EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GL_FRAMEBUFFER_COMPLETE);
  glDeleteTextures(1, &first);
  glDeleteTextures(1, &second);
}

TEST_F(ObjectsTest, MaxSamplesIsReadOnce) {
  int samples = Framebuffer::MaxSamples();
  EXPECT_GT(samples, 0);
  ResetCallCounts();
  EXPECT_EQ(Framebuffer::MaxSamples(), samples);
  EXPECT_EQ(Calls(GLCall::Query), 0u);
}

// ---- Shaders and programs ----------------------------------------------------

TEST_F(ObjectsTest, UniformTableFindsNamesByTextOrHashAndCutsLongOnes) {
  const std::string longName = "a_uniform_name_long_enough_to_be_cut_by_the_layer";
  KestorTest::CaptureStdout quiet;
  Shader vs = Shader::Create(ShaderType::VertexShader);
  vs.ShaderSource("#version 430 core\nuniform float gain;\nuniform float " + longName +
                  ";\nvoid main() { gl_Position = vec4(gain + " + longName + "); }\n");
  vs.CompileShader();
  Program program = Program::Create();
  program.AttachShader(vs);
  program.LinkProgram();
  ASSERT_EQ(program.GetProgramiv(ProgramParameter::LinkStatus), GL_TRUE);

  int gain = program.GetUniformLocation("gain");
  EXPECT_GE(gain, 0);
  EXPECT_EQ(program.GetUniformLocation(std::hash<std::string>{}("gain")), gain);
  EXPECT_EQ(program.Use()->uniformLocations.count(longName.substr(0, 39)), 1u);
  EXPECT_EQ(program.GetUniformLocation("missing"), -1);
  EXPECT_EQ(program.GetUniformLocation("missing"), -1);
}

TEST_F(ObjectsTest, CompileFailureIsReadableThroughTheHandle) {
  Shader broken = Shader::Create(ShaderType::FragmentShader);
  broken.ShaderSource("#version 430 core\nvoid main() { this is not glsl }\n");
  broken.CompileShader();
  EXPECT_EQ(broken.GetShaderiv(ShaderParameter::CompileStatus), GL_FALSE);
  std::string log = broken.GetShaderInfoLog();
  EXPECT_FALSE(log.empty());
  EXPECT_EQ(log.find('\0'), std::string::npos);
  EXPECT_EQ(broken.Use()->source.find("not glsl"), 40u);
  ForgetGLErrors();  // the driver reports the compile error through debug output
  ResetCallCounts();
  EXPECT_EQ(broken.GetShaderiv(static_cast<ShaderParameter>(99)), 0);
  EXPECT_EQ(CallCounts().Total(), 0u);
}

TEST_F(ObjectsTest, ComputeWorkGroupSizeQueryReturnsItsFirstValue) {
  Shader cs = Shader::Create(ShaderType::ComputeShader);
  cs.ShaderSource("#version 430 core\nlayout(local_size_x = 4, local_size_y = 2) in;\n"
                  "void main() {}\n");
  cs.CompileShader();
  Program program = Program::Create();
  program.AttachShader(cs);
  program.LinkProgram();
  EXPECT_EQ(program.GetProgramiv(ProgramParameter::ComputeWorkGroupSize), 4);
}

TEST_F(ObjectsTest, EmptyHandlesAreHarmless) {
  Program program;
  Buffer buffer;
  VertexArray array;
  Framebuffer framebuffer;
  ResetCallCounts();
  program.LinkProgram();
  EXPECT_EQ(program.GetUniformLocation("x"), -1);
  EXPECT_EQ(program.GetProgramInfoLog(), "");
  buffer.BufferData(4, nullptr, BufferUsage::StaticDraw);
  array.DrawElements(PrimitiveModes::Triangles, 3, DataType::UnsignedInt, nullptr);
  framebuffer.BindTexture(0, 1, 0);
  BindBuffer(buffer);
  EXPECT_EQ(CallCounts().Total(), 0u);
  EXPECT_EQ(program.glID(), 0u);
}

}  // namespace
