// Guards the draw queue's two ways of carrying values (a live shared buffer
// versus a snapshot), the renderer's grouping order, and what the draw
// helpers hand the GPU: model matrices and their inverses, submesh ranges
// and the blit sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <iterator>
#include <vector>

#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include "engine/Engine.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/RenderAssets.h"
#include "render/Texbit.h"
#include "sanegl/GL.h"
#include "sanegl/StateCache.h"
#include "support/GLTestContext.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::GraphicsPass;
using KestorTest::RenderAssets;
using KestorTest::ShaderFile;

namespace {

// ---------------------------------------------------------------------------
// Queue

// A material filled in code: no files, no GL.
Resource<Material> TintMaterial(const std::string& name, float tint) {
  Resource<Material> material = Resources<Material>::Make(name);
  material->ShaderResource = Resources<Shader>::Make(name + "Shader");
  material->Buffer.SetFloat("Tint", tint);
  return material;
}

float TintOf(const UniformBuffer& buffer) { return buffer.Uniforms.at("Tint").FloatValue; }

const glm::mat4 Now = glm::translate(glm::mat4(1.0f), glm::vec3(1, 2, 3));
const glm::mat4 Past = glm::translate(glm::mat4(1.0f), glm::vec3(0, 2, 3));

class DrawQueue : public ::testing::Test {
 protected:
  void TearDown() override { DrawSystem::ClearCache(); }
  Resource<Mesh> mesh = Resources<Mesh>::Make("QueueMesh");
};

TEST_F(DrawQueue, ShaderFormsKeepThePointerOrACopy) {
  Resource<Shader> shader = Resources<Shader>::Make("QueueShader");
  UniformBuffer values;
  values.SetFloat("Tint", 1.0f);

  DrawSystem::QueueDraw(mesh, 2, Now, Past, shader, &values);
  DrawSystem::QueueDraw(mesh, -1, Now, Past, shader, &values, false, true);
  DrawSystem::QueueDraw(mesh, -1, Now, Past, shader, values);
  DrawSystem::QueueDraw(mesh, -1, Now, Past, shader, values, true, false);
  values.SetFloat("Tint", 2.0f);

  const auto& q = DrawSystem::drawthings;
  ASSERT_EQ(q.size(), 4u);
  EXPECT_EQ(std::get<0>(q[0]), mesh);
  EXPECT_EQ(std::get<1>(q[0]), 2);
  EXPECT_EQ(std::get<2>(q[0]), Now);
  EXPECT_EQ(std::get<3>(q[0]), Past);
  EXPECT_EQ(std::get<4>(q[0]), shader);
  for (int i : {0, 1}) {
    EXPECT_EQ(std::get<5>(q[i]), &values) << i;
    EXPECT_TRUE(std::get<6>(q[i]).Uniforms.empty()) << i;
  }
  for (int i : {2, 3}) {
    EXPECT_EQ(std::get<5>(q[i]), nullptr) << i;
    EXPECT_EQ(TintOf(std::get<6>(q[i])), 1.0f) << "the copy is taken when queued: " << i;
  }
  const bool flags[4][2] = {{true, true}, {false, true}, {true, true}, {true, false}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::get<7>(q[i]), flags[i][0]) << i;
    EXPECT_EQ(std::get<8>(q[i]), flags[i][1]) << i;
  }
  EXPECT_TRUE(DrawSystem::guidrawthings.empty());
}

TEST_F(DrawQueue, MaterialAloneIsASnapshotWithAMapItIsLive) {
  Resource<Material> material = TintMaterial("QueueMat", 1.0f);
  const UniformMap own{{"Tint", ShaderUniform("Tint", 9.0f)}};

  DrawSystem::QueueDraw(mesh, -1, Now, Past, material);
  DrawSystem::QueueDraw(mesh, -1, Now, Past, material, own);
  DrawSystem::QueueDraw(mesh, -1, Now, Past, material, own, false, false);
  // A preset changing the material between queueing and drawing.
  material->Buffer.SetFloat("Tint", 2.0f);

  const auto& q = DrawSystem::drawthings;
  ASSERT_EQ(q.size(), 3u);
  for (const DrawEntry& entry : q) EXPECT_EQ(std::get<4>(entry), material->ShaderResource);
  EXPECT_EQ(std::get<5>(q[0]), nullptr);
  EXPECT_EQ(TintOf(std::get<6>(q[0])), 1.0f);
  for (int i : {1, 2}) {
    ASSERT_EQ(std::get<5>(q[i]), &material->Buffer) << i;
    EXPECT_EQ(TintOf(*std::get<5>(q[i])), 2.0f) << i;
    EXPECT_EQ(TintOf(std::get<6>(q[i])), 9.0f) << "the renderer's own values ride along: " << i;
  }
  EXPECT_TRUE(std::get<7>(q[1]) && std::get<8>(q[1]));
  EXPECT_FALSE(std::get<7>(q[2]) || std::get<8>(q[2]));
}

TEST_F(DrawQueue, GUIFormsFillOnlyTheGUIQueue) {
  Resource<Material> material = TintMaterial("GuiMat", 1.0f);
  Resource<Shader> shader = material->ShaderResource;
  UniformBuffer values;
  DrawSystem::QueueDrawGUI(mesh, -1, Now, Past, shader, &values);
  DrawSystem::QueueDrawGUI(mesh, -1, Now, Past, shader, &values, false, false);
  DrawSystem::QueueDrawGUI(mesh, -1, Now, Past, shader, values);
  DrawSystem::QueueDrawGUI(mesh, -1, Now, Past, shader, values, false, false);
  DrawSystem::QueueDrawGUI(mesh, -1, Now, Past, material);
  DrawSystem::QueueDrawGUI(mesh, -1, Now, Past, material, UniformMap());
  DrawSystem::QueueDrawGUI(mesh, -1, Now, Past, material, UniformMap(), false, false);

  const auto& q = DrawSystem::guidrawthings;
  ASSERT_EQ(q.size(), 7u);
  EXPECT_TRUE(DrawSystem::drawthings.empty());
  const UniformBuffer* shared[7] = {&values, &values, nullptr, nullptr, nullptr, &material->Buffer,
                                    &material->Buffer};
  const bool camera[7] = {true, false, true, false, true, true, false};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(std::get<5>(q[i]), shared[i]) << i;
    EXPECT_EQ(std::get<7>(q[i]), camera[i]) << i;
  }
  EXPECT_EQ(TintOf(std::get<6>(q[4])), 1.0f);
}

TEST_F(DrawQueue, ClearCacheEmptiesBothQueuesAndDropsTheirReferences) {
  Resource<Material> material = TintMaterial("ClearMat", 1.0f);
  const int32_t meshRefs = Resources<Mesh>::Count("QueueMesh");
  const int32_t shaderRefs = Resources<Shader>::Count("ClearMatShader");
  DrawSystem::QueueDraw(mesh, -1, Now, Past, material, UniformMap());
  DrawSystem::QueueDrawGUI(mesh, -1, Now, Past, material);
  EXPECT_EQ(Resources<Mesh>::Count("QueueMesh"), meshRefs + 2);
  EXPECT_EQ(Resources<Shader>::Count("ClearMatShader"), shaderRefs + 2);

  KestorEngineFlyHahaJk engine;
  DrawSystem::Attach(&engine);
  ASSERT_TRUE(engine.UpdateList[46]);
  EXPECT_EQ(engine.UpdateList[46](), "");
  EXPECT_TRUE(DrawSystem::drawthings.empty());
  EXPECT_TRUE(DrawSystem::guidrawthings.empty());
  EXPECT_EQ(Resources<Mesh>::Count("QueueMesh"), meshRefs);
  EXPECT_EQ(Resources<Shader>::Count("ClearMatShader"), shaderRefs);
}

TEST_F(DrawQueue, EmptyMaterialHandleQueuesNothingToDereference) {
  DrawSystem::QueueDraw(mesh, -1, Now, Past, Resource<Material>(), UniformMap());
  DrawSystem::QueueDraw(mesh, -1, Now, Past, Resource<Material>());
  ASSERT_EQ(DrawSystem::drawthings.size(), 2u);
  for (const DrawEntry& entry : DrawSystem::drawthings) {
    EXPECT_FALSE(std::get<4>(entry));
    EXPECT_EQ(std::get<5>(entry), nullptr);
  }
}

TEST_F(DrawQueue, RendererOrderGroupsSharedBuffersInQueueOrderAndPutsNullsLast) {
  UniformBuffer a, b, c;
  // The groups follow the queue, whatever the buffers' addresses.
  UniformBuffer* queued[] = {&c, nullptr, &b, &a, &c, nullptr, &a, &b, &c};
  for (size_t i = 0; i < std::size(queued); ++i) {
    if (queued[i] != nullptr) {
      DrawSystem::QueueDraw(mesh, static_cast<int>(i), Now, Past, Resource<Shader>(), queued[i]);
    } else {
      DrawSystem::QueueDraw(mesh, static_cast<int>(i), Now, Past, Resource<Shader>(), UniformBuffer());
    }
  }
  std::vector<DrawEntry> sorted = DrawSystem::drawthings;
  SortForDrawing(sorted);
  std::vector<int> order;
  for (const DrawEntry& entry : sorted) order.push_back(std::get<1>(entry));
  EXPECT_EQ(order, (std::vector<int>{0, 4, 8, 2, 7, 3, 6, 1, 5}));
}

// ---------------------------------------------------------------------------
// Helpers on the GPU

void ExpectNear(const float* actual, const float* expected, int count, const char* what) {
  for (int i = 0; i < count; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-5f) << what << "[" << i << "]";
}

// A pass whose outputs depend on the three matrices, so all stay active.
const char* const kMatrixVertex =
    "#version 430 core\nin vec3 position;\nin vec3 normal;\n"
    "uniform mat4 _LocalToWorld;\nuniform mat4 _WorldToLocal;\nuniform mat3 _LocalToWorldNormal;\n"
    "out vec3 n;\n"
    "void main() { n = _LocalToWorldNormal * normal;\n"
    "  gl_Position = _WorldToLocal * _LocalToWorld * vec4(position, 1.0); }\n";
const char* const kMatrixFragment =
    "#version 430 core\nin vec3 n;\nout vec4 colour;\nvoid main() { colour = vec4(n, 1.0); }\n";

const char* const kSizeFragment =
    "#version 430 core\nuniform sampler2D _MainTex;\nuniform vec4 _MainTex_Size;\n"
    "uniform vec2 _MainTex3D_Size = vec2(-1.0);\nout vec4 colour;\n"
    "void main() { colour = texture(_MainTex, vec2(0.5)) + _MainTex_Size"
    " + vec4(_MainTex3D_Size, 0.0, 0.0); }\n";
const char* const kVolumeSizeFragment =
    "#version 430 core\nuniform vec4 _MainTex_Size;\nuniform vec2 _MainTex3D_Size = vec2(-1.0);\n"
    "out vec4 colour;\nvoid main() { colour = _MainTex_Size + vec4(_MainTex3D_Size, 0.0, 0.0); }\n";

class DrawHelpers : public KestorTest::GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    if (HasFatalFailure()) return;
    assets.WriteShader("Probe", ShaderFile("Probe", "",
                                           GraphicsPass("Matrices", kMatrixVertex, kMatrixFragment) +
                                               GraphicsPass("Sizes", KestorTest::kPassThroughVertex,
                                                            kSizeFragment) +
                                               GraphicsPass("VolumeSizes", KestorTest::kPassThroughVertex,
                                                            kVolumeSizeFragment)));
    CaptureStdout quiet;
    Draw::Initialize();
    shader = Resources<Shader>::Get("Probe");
    SaneGL::StateSyncForce();
    SaneGL::Viewport(0, 0, 64, 64);
  }
  void TearDown() override {
    shader = Resource<Shader>();
    GLTest::TearDown();
  }

  // Makes `pass` current; returns its GL program.
  unsigned Use(const std::string& pass) {
    CaptureStdout quiet;
    std::vector<UniformBuffer*> none;
    shader->Use(pass, &none);
    return SaneGL::RequestedState().program.glID();
  }

  template <int N>
  static std::array<float, N> Read(unsigned program, const char* name) {
    std::array<float, N> value{};
    glGetUniformfv(program, glGetUniformLocation(program, name), value.data());
    return value;
  }

  // Primitives the GPU assembled while `draw` ran.
  static GLuint Primitives(const std::function<void()>& draw) {
    GLuint query = 0, count = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_PRIMITIVES_GENERATED, query);
    draw();
    glEndQuery(GL_PRIMITIVES_GENERATED);
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &count);
    glDeleteQueries(1, &query);
    return count;
  }

  RenderAssets assets;
  Resource<Shader> shader;
};

TEST_F(DrawHelpers, ModelsArriveWithTheirAffineInverseAndNormalMatrix) {
  glm::mat4 model = glm::translate(glm::mat4(1.0f), glm::vec3(3, -2, 5)) *
                    glm::rotate(glm::mat4(1.0f), 0.7f, glm::normalize(glm::vec3(1, 2, 3))) *
                    glm::scale(glm::mat4(1.0f), glm::vec3(2, 0.5f, 4));
  // The bottom row is not part of an affine model matrix and must be ignored.
  glm::mat4 sent = model;
  sent[0][3] = 7.0f;
  sent[2][3] = -1.0f;
  struct Case {
    const char* what;
    std::function<void()> draw;
    glm::mat4 model, inverse;
    glm::mat3 normal;
  };
  const Case cases[] = {
      {"no model given", [] { Draw::DrawMesh(Draw::Quad); }, glm::mat4(1.0f), glm::mat4(1.0f), glm::mat3(1.0f)},
      {"turned and scaled", [&] { Draw::DrawMesh(Draw::Quad, sent, -1); }, sent, glm::inverse(model),
       glm::transpose(glm::inverse(glm::mat3(model)))},
  };
  const unsigned program = Use("Matrices");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.draw();
    ExpectNear(Read<16>(program, "_LocalToWorld").data(), glm::value_ptr(c.model), 16, "model");
    ExpectNear(Read<16>(program, "_WorldToLocal").data(), glm::value_ptr(c.inverse), 16, "inverse");
    ExpectNear(Read<9>(program, "_LocalToWorldNormal").data(), glm::value_ptr(c.normal), 9, "normal");
  }
}

TEST_F(DrawHelpers, FlattenedModelSendsFiniteMatricesWithTheRightNormal) {
  // A floor scaled flat: no inverse exists, and NaN would spread through the
  // temporal history. The normal still has to point up.
  const glm::mat4 flat = glm::scale(glm::mat4(1.0f), glm::vec3(2, 3, 0));
  const Draw::InverseMatrices result = Draw::AffineInverse(flat);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) EXPECT_TRUE(std::isfinite(result.WorldToLocal[c][r])) << c << r;
  const glm::vec3 up = glm::normalize(result.Normal * glm::vec3(0, 0, 1));
  EXPECT_NEAR(up.z, 1.0f, 1e-6f);

  const unsigned program = Use("Matrices");
  Draw::DrawMesh(Draw::Quad, flat, -1);
  for (float v : Read<9>(program, "_LocalToWorldNormal")) EXPECT_TRUE(std::isfinite(v));
}

TEST_F(DrawHelpers, SubmeshArgumentCountsFromMinusOneForTheWholeMesh) {
  Resource<Mesh> mesh = Resources<Mesh>::Make("TwoTriangles");
  mesh->Vertices = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
  mesh->Faces = {0, 1, 2, 0, 2, 3};
  mesh->SubmeshCount = 1;
  mesh->SubmeshStarts = {3};
  mesh->SubmeshCounts = {3};
  mesh->ToGPU();
  Use("Matrices");
  EXPECT_EQ(Primitives([&] { Draw::DrawMesh(mesh, glm::mat4(1.0f), -1); }), 2u);
  EXPECT_EQ(Primitives([&] { Draw::DrawMesh(mesh, glm::mat4(1.0f), 0); }), 1u);
  EXPECT_EQ(Primitives([&] { Draw::DrawMesh(mesh, glm::mat4(1.0f), 1); }), 0u);
  EXPECT_EQ(Primitives([&] { Draw::DrawMesh(Resource<Mesh>(), glm::mat4(1.0f), -1); }), 0u);
  // The quad's one submesh is the whole quad, however often it is built.
  Draw::Initialize();
  EXPECT_EQ(Draw::Quad->Vertices.size(), 12u);
  EXPECT_EQ(Primitives([&] { Draw::DrawMesh(Draw::Quad, glm::mat4(1.0f), 0); }), 2u);
  EXPECT_EQ(Primitives([] { Draw::Blit(); }), 2u);
}

TEST_F(DrawHelpers, BlitOfAFlatTextureSetsNoVolumeSize) {
  Texbit texture(16, 8);
  const unsigned program = Use("Sizes");
  EXPECT_EQ(Primitives([&] { Draw::Blit(&texture); }), 2u);
  const float size[4] = {16.0f, 8.0f, 1.0f / 16.0f, 1.0f / 8.0f};
  ExpectNear(Read<4>(program, "_MainTex_Size").data(), size, 4, "_MainTex_Size");
  const float unset[2] = {-1.0f, -1.0f};
  ExpectNear(Read<2>(program, "_MainTex3D_Size").data(), unset, 2, "_MainTex3D_Size");
  GLint unit = -1;
  glGetUniformiv(program, glGetUniformLocation(program, "_MainTex"), &unit);
  EXPECT_EQ(unit, texture.CurrentBind);
}

TEST_F(DrawHelpers, BlitOfAVolumeSetsItsSliceCount) {
  Texbit volume(8, 8, 64);
  const unsigned program = Use("VolumeSizes");
  Draw::Blit(&volume);
  const float slices[2] = {64.0f, 64.0f};
  ExpectNear(Read<2>(program, "_MainTex3D_Size").data(), slices, 2, "_MainTex3D_Size");
  EXPECT_EQ(Primitives([] { Draw::Blit(nullptr); }), 0u);
}

}  // namespace
