// Guards meshes on a real driver: the attribute layout GL ends up with for
// each channel set, lists that would be read out of bounds never reaching
// GL, submesh ranges, and whole draws of a mesh with a material read back
// from a small target.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/Resource.h"
#include "render/Material.h"
#include "render/Mesh.h"
#include "render/RenderGL.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::ColourTarget;
using KestorTest::GraphicsPass;
using KestorTest::ShaderFile;

namespace {

struct Attribute {
  bool enabled = false;
  GLint stride = -1;
  GLint size = -1;
  size_t offset = 0;
};

// What GL holds for attribute `index` of the mesh's vertex array.
Attribute AttributeOf(Mesh& mesh, GLuint index) {
  SaneGL::StatePush();
  SaneGL::BindVertexArray(mesh.VertexArray);
  SaneGL::StateSync();
  Attribute a;
  GLint value = 0;
  glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &value);
  a.enabled = value != 0;
  glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &a.stride);
  glGetVertexAttribiv(index, GL_VERTEX_ATTRIB_ARRAY_SIZE, &a.size);
  void* pointer = nullptr;
  glGetVertexAttribPointerv(index, GL_VERTEX_ATTRIB_ARRAY_POINTER, &pointer);
  a.offset = reinterpret_cast<size_t>(pointer);
  SaneGL::StatePop();
  SaneGL::StateSync();
  return a;
}

GLint BufferBytes(const SaneGL::Buffer& buffer) {
  GLint size = -1;
  glBindBuffer(GL_COPY_READ_BUFFER, buffer.glID());
  glGetBufferParameteriv(GL_COPY_READ_BUFFER, GL_BUFFER_SIZE, &size);
  glBindBuffer(GL_COPY_READ_BUFFER, 0);
  return size;
}

uint64_t Draws() { return SaneGL::CallCounts()[SaneGL::GLCall::DrawElements]; }

const char* const kQuad =
    "<Mesh><Base><Vertices>-1,-1,0, 1,-1,0, 1,1,0, -1,1,0</Vertices>"
    "<UV1>0,0, 1,0, 1,1, 0,1</UV1><Faces>0,1,2, 0,2,3</Faces></Base></Mesh>";

class MeshTest : public KestorTest::RenderGLTest {};

}  // namespace

TEST_F(MeshTest, FileWithoutNormalsHasAFiveFloatStride) {
  assets.Write("Meshes/Quad.fml", kQuad);
  CaptureStdout quiet;
  Mesh mesh("Quad");
  EXPECT_TRUE(mesh.HasUV1);
  EXPECT_FALSE(mesh.HasNormals);
  EXPECT_EQ(BufferBytes(mesh.VertexBuffer), 4 * 20);
  EXPECT_EQ(BufferBytes(mesh.IndexBuffer), 6 * 4);
  Attribute position = AttributeOf(mesh, 0), normal = AttributeOf(mesh, 1), uv = AttributeOf(mesh, 4);
  EXPECT_TRUE(position.enabled);
  EXPECT_EQ(position.stride, 20);
  EXPECT_EQ(position.offset, 0u);
  EXPECT_FALSE(normal.enabled);
  EXPECT_TRUE(uv.enabled);
  EXPECT_EQ(uv.size, 2);
  EXPECT_EQ(uv.offset, 12u);
  EXPECT_FALSE(AttributeOf(mesh, 2).enabled);
  EXPECT_FALSE(AttributeOf(mesh, 3).enabled);
  EXPECT_EQ(mesh.BoundsMin, glm::vec3(-1, -1, 0));
  EXPECT_EQ(mesh.BoundsMax, glm::vec3(1, 1, 0));
}

TEST_F(MeshTest, ShippedCubeHasNormalsAtTwelveAndUVsAtTwentyFour) {
  assets.CopyShipped("Meshes/Cube.fml");
  CaptureStdout out;
  Resource<Mesh> cube = Resources<Mesh>::Get("Cube");
  EXPECT_EQ(cube->Vertices.size(), 24u * 3);
  EXPECT_EQ(cube->Faces.size(), 36u);
  EXPECT_EQ(BufferBytes(cube->VertexBuffer), 24 * 32);
  Attribute normal = AttributeOf(*cube, 1), uv = AttributeOf(*cube, 4);
  EXPECT_TRUE(normal.enabled);
  EXPECT_EQ(normal.stride, 32);
  EXPECT_EQ(normal.offset, 12u);
  EXPECT_EQ(uv.offset, 24u);
  EXPECT_EQ(cube->BoundsMin, glm::vec3(-0.5f));
  EXPECT_EQ(cube->BoundsMax, glm::vec3(0.5f));
  EXPECT_EQ(cube->Interleaved.size(), 24u * 8);
}

TEST_F(MeshTest, ListsThatWouldBeReadOutOfBoundsAreNotUploaded) {
  CaptureStdout out;
  Mesh mesh;
  mesh.Vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  mesh.Faces = {0, 1, 2, 0};
  EXPECT_EQ(mesh.ToGPU(), 0) << "no whole triangles";
  mesh.Faces = {0, 1, 3};
  EXPECT_EQ(mesh.ToGPU(), 0);
  EXPECT_NE(out.Text().find("Mesh: face index 3 (entry 2) is past the last of 3 vertices, not "
                            "uploaded\n"),
            std::string::npos);
  mesh.Faces = {0, 1, 2};
  mesh.HasNormals = true;
  mesh.Normals = {0, 0, 1};
  EXPECT_EQ(mesh.ToGPU(), 0);
  mesh.Normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
  EXPECT_EQ(mesh.ToGPU(), 1);
  EXPECT_EQ(BufferBytes(mesh.VertexBuffer), 3 * 24);

  Mesh empty;
  EXPECT_EQ(empty.ToGPU(), 0);
}

TEST_F(MeshTest, MalformedFileLeavesAnEmptyMeshThatDrawsNothing) {
  assets.Write("Meshes/Bad.fml", "<Mesh><Base><Vertices>0,0,0</Vertices><Faces>0,0,5</Faces>"
                                  "<UV1>0,0</UV1></Base></Mesh>");
  CaptureStdout out;
  Mesh mesh("Bad");
  EXPECT_TRUE(mesh.Vertices.empty());
  EXPECT_TRUE(mesh.Faces.empty());
  EXPECT_NE(out.Text().find(assets.Path("Meshes/Bad.fml") + ": face index 5"), std::string::npos);
  SaneGL::ResetCallCounts();
  mesh.Draw(0);
  EXPECT_EQ(Draws(), 0u);
}

TEST_F(MeshTest, SubmeshRangesDrawTheirSliceAndNothingPastTheUpload) {
  assets.CopyShipped("Meshes/Cube.fml");
  CaptureStdout out;
  Mesh mesh("Cube");
  Shader::GetErrorShader()->Use(nullptr);  // no program, no draw at all
  SaneGL::ResetCallCounts();
  mesh.Draw(0);
  EXPECT_EQ(Draws(), 1u);
  mesh.Draw(1);
  EXPECT_EQ(Draws(), 1u) << "a file mesh has no submeshes";

  mesh.SubmeshCount = 2;
  mesh.SubmeshStarts = {0, 30};
  mesh.SubmeshCounts = {6, 12};
  mesh.Draw(1);
  mesh.Draw(2);  // 30..41 is cut to the 36 uploaded indices
  mesh.Draw(3);
  EXPECT_EQ(Draws(), 3u);
  mesh.Faces.resize(360);  // changed but not uploaded
  mesh.SubmeshStarts = {0, 40};
  mesh.Draw(2);
  EXPECT_EQ(Draws(), 3u);

  // A file of several index lists: one range each, in file order.
  assets.Write("Meshes/Parts.fml", "<Mesh><Base><Vertices>0,0,0,1,0,0,0,1,0</Vertices><UV1>0,0,1,0,0,1</UV1>"
                                    "<Faces>0,1,2,0,2,1</Faces><Faces>1,2,0</Faces></Base></Mesh>");
  Mesh parts("Parts");
  EXPECT_EQ(parts.SubmeshCount, 2u);
  EXPECT_EQ(parts.SubmeshStarts, (std::vector<uint32_t>{0, 6}));
  EXPECT_EQ(parts.SubmeshCounts, (std::vector<int32_t>{6, 3}));
  EXPECT_EQ(parts.Faces.size(), 9u);
}

TEST_F(MeshTest, ErrorMaterialDrawsTheCheckerWhereTheCubeIs) {
  assets.CopyShipped("Meshes/Cube.fml");
  assets.CopyShipped("Materials/ErrorMat.xml");
  CaptureStdout out;
  Resource<Mesh> cube = Resources<Mesh>::Get("Cube");
  Resource<Material> material = Resources<Material>::Get("ErrorMat");
  ColourTarget target;
  target.Clear(0, 0, 0.25f);
  std::vector<UniformBuffer*> buffers{&material->Buffer};
  material->ShaderResource->Use(&buffers);
  cube->Draw(0);

  // The cube spans pixels 16..47; the checker has 8-pixel cells.
  EXPECT_EQ(target.Pixel(20, 20), (std::array<uint8_t, 4>{255, 0, 255, 255}));
  EXPECT_EQ(target.Pixel(28, 20), (std::array<uint8_t, 4>{0, 0, 0, 255}));
  EXPECT_EQ(target.Pixel(44, 44), (std::array<uint8_t, 4>{255, 0, 255, 255}));
  EXPECT_EQ(target.Pixel(4, 4), (std::array<uint8_t, 4>{0, 0, 64, 255}));
  EXPECT_EQ(target.Pixel(60, 30), (std::array<uint8_t, 4>{0, 0, 64, 255}));
}

TEST_F(MeshTest, MaterialValuesAndTexturesReachTheDrawnPixels) {
  assets.Write("Meshes/Quad.fml", kQuad);
  assets.WriteShader("Tinted",
                     ShaderFile("Tinted", "<Vector4 Uniform=\"Tint\"/><Texture Uniform=\"Albedo\"/>",
                                GraphicsPass("Deferred",
                                             "#version 430 core\nin vec3 position;\nin vec2 uv;\n"
                                             "uniform mat4 _LocalToWorld;\nout vec2 st;\n"
                                             "void main() { st = uv; gl_Position = _LocalToWorld * "
                                             "vec4(position, 1.0); }\n",
                                             "#version 430 core\nin vec2 st;\nuniform vec4 Tint;\n"
                                             "uniform sampler2D Albedo;\nout vec4 color;\n"
                                             "void main() { color = Tint * texture(Albedo, st); }\n")));
  assets.Write("Materials/Green.xml", "<Material Shader=\"Tinted\"><Settings Tint=\"0,1,0.5,1\" "
                                      "Albedo=\"White.bmp\"/></Material>");
  CaptureStdout out;
  Resource<Mesh> quad = Resources<Mesh>::Get("Quad");
  Resource<Material> green = Resources<Material>::Get("Green");
  ColourTarget target;
  target.Clear(0, 0, 0);

  // The draw's own buffer places the quad in the left half of the target.
  UniformBuffer draw;
  glm::mat4 leftHalf(1.0f);
  leftHalf[0][0] = 0.5f;
  leftHalf[3][0] = -0.5f;
  draw.SetMatrix4("_LocalToWorld", leftHalf);
  std::vector<UniformBuffer*> buffers{&draw, &green->Buffer};
  green->ShaderResource->Use(&buffers);
  quad->Draw(0);

  EXPECT_EQ(target.Pixel(10, 32), (std::array<uint8_t, 4>{0, 255, 128, 255}));
  EXPECT_EQ(target.Pixel(31, 5), (std::array<uint8_t, 4>{0, 255, 128, 255}));
  EXPECT_EQ(target.Pixel(40, 32), (std::array<uint8_t, 4>{0, 0, 0, 255}));
}

// A mesh's far version is drawn from its distance on, and only one that
// can stand in for it: loaded, with the same submeshes, not chaining on to
// a further one. A distance that is no distance drops the far mesh, said
// in one line, and leaves the mesh itself usable.
TEST_F(MeshTest, AFarMeshStandsInFromItsDistanceOnlyWhereItCan) {
  const std::string quad = std::string(kQuad).substr(6);  // after "<Mesh>"
  auto write = [&](const std::string& name, const std::string& attributes) {
    assets.Write("Meshes/" + name + ".fml", "<Mesh" + attributes + ">" + quad);
  };
  write("Near", " Far=\"Plain\" FarFrom=\"40\"");
  write("Plain", "");
  write("Chained", " Far=\"Near\" FarFrom=\"10\"");
  write("ToChained", " Far=\"Chained\" FarFrom=\"10\"");
  write("ToMissing", " Far=\"Nowhere\" FarFrom=\"10\"");
  write("ToItself", " Far=\"ToItself\" FarFrom=\"10\"");
  Resource<Mesh> near = Resources<Mesh>::Get("Near");
  EXPECT_FALSE(near->FarSeenFrom(39.0f));
  EXPECT_FALSE(near->FarSeenFrom(std::nanf("")));
  Resource<Mesh> far = near->FarSeenFrom(40.0f);
  ASSERT_TRUE(far);
  EXPECT_EQ(far.Name(), "Plain");
  for (const char* name : {"ToChained", "ToMissing", "ToItself"}) {
    EXPECT_FALSE(Resources<Mesh>::Get(name)->FarSeenFrom(100.0f)) << name;
  }
  for (const char* bad : {" Far=\"Plain\"", " Far=\"Plain\" FarFrom=\"-1\"", " Far=\"\" FarFrom=\"5\""}) {
    write("Bad", bad);
    CaptureStdout out;
    Mesh mesh("Bad");
    EXPECT_EQ(mesh.Faces.size(), 6u) << bad;
    EXPECT_FALSE(mesh.FarSeenFrom(100.0f)) << bad;
    EXPECT_NE(out.Text().find("\"Far\" needs a \"FarFrom\""), std::string::npos) << bad;
  }
}
