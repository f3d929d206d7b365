// Guards program variants on a real driver: the error shader builds with no
// GL error, compile and link failures print their exact texts (once when
// built, again at every use) and fall back to the error shader, variants are
// reused by key, precompiled values (matrices and vertex stages included)
// compile, staged values reach the program, and a reload rebuilds programs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "engine/Debug.h"
#include "render/Mesh.h"
#include "render/RenderGL.h"
#include "render/Shader.h"
#include "render/ShaderPass.h"
#include "render/ShaderVariant.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::CountOf;
using KestorTest::GraphicsPass;
using KestorTest::kPassThroughVertex;
using KestorTest::ShaderFile;

namespace {

class ShaderVariantTest : public KestorTest::RenderGLTest {
 protected:
  // Loads Shaders/<name>.shader made of one "Deferred" pass.
  std::unique_ptr<Shader> Make(const std::string& name, const std::string& vertex,
                               const std::string& fragment, const std::string& uniforms = "") {
    path = assets.WriteShader(name, ShaderFile(name, uniforms, GraphicsPass("Deferred", vertex,
                                                                            fragment)));
    return std::make_unique<Shader>(name);
  }
  std::string PassName() const { return path + ": Deferred"; }
  // The driver reports a failed compile through its debug output; no GL
  // call of the engine may have failed.
  void ExpectOnlyTheCompilerComplained() {
    Debug::_CheckGLError("test", 0);
    EXPECT_EQ(Debug::GLErrorCount(), 0u);
    ForgetGLErrors();
  }

  std::string path;
};

const char* const kGainFragment =
    "#version 430 core\n[PreCompile] uniform float Gain;\nout vec4 color;\n"
    "void main() { color = vec4(Gain); }\n";

std::vector<UniformBuffer*> List(std::initializer_list<UniformBuffer*> buffers) { return buffers; }

GLint ProgramInt(GLuint program, const char* name) {
  GLint value = -7;
  glGetUniformiv(program, glGetUniformLocation(program, name), &value);
  return value;
}

}  // namespace

TEST_F(ShaderVariantTest, ErrorShaderBuildsAndBindsWithoutGLErrors) {
  CaptureStdout out;
  Shader* error = Shader::GetErrorShader();
  ASSERT_EQ(error->Passes.size(), 3u);
  for (const char* pass : {"Deferred", "Emission", "Forward"}) {
    error->Use(pass, nullptr);
    ShaderVariant* variant = ShaderVariant::Current;
    ASSERT_NE(variant, nullptr);
    EXPECT_FALSE(variant->Failed()) << variant->Errors;
    EXPECT_EQ(SaneGL::RequestedState().program, variant->Program);
    SaneGL::StateSync();
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(static_cast<GLuint>(current), variant->Program.glID());
    EXPECT_EQ(glGetAttribLocation(variant->Program.glID(), "position"), 0);
  }
  EXPECT_EQ(out.Text().find("Error compiling"), std::string::npos);
}

TEST_F(ShaderVariantTest, AttributeLocationsMatchTheMeshLayout) {
  CaptureStdout out;
  auto shader = Make("Attributes",
                     "#version 430 core\nin vec3 position;\nin vec3 normal;\nin vec2 uv;\n"
                     "out vec3 n;\nout vec2 t;\n"
                     "void main() { n = normal; t = uv; gl_Position = vec4(position, 1.0); }\n",
                     "#version 430 core\nin vec3 n;\nin vec2 t;\nout vec4 color;\n"
                     "void main() { color = vec4(n, t.x + t.y); }\n");
  shader->Use(nullptr);
  ASSERT_FALSE(ShaderVariant::Current->Failed()) << ShaderVariant::Current->Errors;
  GLuint program = ShaderVariant::Current->Program.glID();
  EXPECT_EQ(glGetAttribLocation(program, "position"), 0);
  EXPECT_EQ(glGetAttribLocation(program, "normal"), 1);
  EXPECT_EQ(glGetAttribLocation(program, "uv"), 4);
}

TEST_F(ShaderVariantTest, CompileErrorIsPrintedOnceBuiltAndAtEveryUseThenFallsBack) {
  CaptureStdout out;
  auto shader = Make("BrokenFragment", kPassThroughVertex,
                     "#version 430 core\nout vec4 color;\nvoid main() { color = nope(); }\n");
  shader->Use(nullptr);
  const std::string built = "Error compiling " + PassName() + "'s fragment shader:\t";
  const std::string used = PassName() + ": " + built;
  EXPECT_EQ(CountOf(out.Text(), built), 2) << "logged at construction, then the use line";
  EXPECT_EQ(CountOf(out.Text(), used), 1);
  ShaderVariant* broken = shader->Passes.at("Deferred")->Variants.begin()->second;
  EXPECT_TRUE(broken->Failed());

  // The error shader's program stands in; the broken one is never current.
  ShaderVariant* fallback = ShaderVariant::Current;
  ASSERT_NE(fallback, broken);
  EXPECT_FALSE(fallback->Failed());
  EXPECT_EQ(fallback->Name, Shader::GetErrorShader()->Passes.at("Deferred")->Name);
  EXPECT_EQ(SaneGL::RequestedState().program, fallback->Program);

  shader->Use(nullptr);
  EXPECT_EQ(CountOf(out.Text(), used), 2);
  EXPECT_EQ(CountOf(out.Text(), built), 3) << "not rebuilt, only reported";
  EXPECT_EQ(shader->Passes.at("Deferred")->Variants.size(), 1u);
  SaneGL::StateSync();
  ExpectOnlyTheCompilerComplained();
}

TEST_F(ShaderVariantTest, AMissingPassDrawsAsTheErrorShaderNeverWithTheProgramLeftBound) {
  CaptureStdout out;
  auto bound = Make("Bound", kPassThroughVertex, "#version 430 core\nout vec4 c;\nvoid main() { c = vec4(1); }\n");
  auto lacking = Make("Lacking", kPassThroughVertex, "#version 430 core\nout vec4 c;\nvoid main() { c = vec4(0); }\n");
  bound->Use(nullptr);
  const SaneGL::Program left = SaneGL::RequestedState().program;
  lacking->Use("VoxelizeDetail", nullptr);
  lacking->Use("VoxelizeDetail", nullptr);
  ASSERT_NE(ShaderVariant::Current, nullptr);
  EXPECT_EQ(ShaderVariant::Current->Name, Shader::GetErrorShader()->Passes.at("Deferred")->Name);
  EXPECT_NE(SaneGL::RequestedState().program, left);
  EXPECT_EQ(SaneGL::RequestedState().program, ShaderVariant::Current->Program);
  EXPECT_EQ(CountOf(out.Text(), "Nonexistent pass (VoxelizeDetail) used from shader Lacking\n"), 1);

  // With no error program to stand in, nothing is current and nothing draws.
  Shader* error = Shader::ErrorShader;
  Shader passless;
  passless.LoadFromSource(ShaderFile("Passless", "", ""));
  Shader::ErrorShader = &passless;
  bound->Use(nullptr);
  lacking->Use("VoxelizeMidAndColor", nullptr);
  Shader::ErrorShader = error;
  EXPECT_EQ(ShaderVariant::Current, nullptr);
  EXPECT_EQ(SaneGL::RequestedState().program.glID(), 0u);
  assets.CopyShipped("Meshes/Cube.fml");
  Mesh cube("Cube");
  SaneGL::ResetCallCounts();
  cube.Draw(0);
  EXPECT_EQ(SaneGL::CallCounts()[SaneGL::GLCall::DrawElements], 0u);
}

TEST_F(ShaderVariantTest, VertexErrorStopsBeforeLinking) {
  CaptureStdout out;
  auto shader = Make("BrokenVertex", "#version 430 core\nvoid main() { gl_Position = what; }\n",
                     "#version 430 core\nout vec4 color;\nvoid main() { color = vec4(1); }\n");
  shader->Use(nullptr);
  EXPECT_EQ(CountOf(out.Text(), "Error compiling " + PassName() + "'s vertex shader:\t"), 2);
  EXPECT_EQ(out.Text().find("Error linking"), std::string::npos);
  EXPECT_EQ(out.Text().find("'s fragment shader"), std::string::npos);
  SaneGL::StateSync();
  ExpectOnlyTheCompilerComplained();
}

TEST_F(ShaderVariantTest, LinkErrorIsPrintedWithItsOwnText) {
  CaptureStdout out;
  auto shader = Make("BrokenLink", kPassThroughVertex,
                     "#version 430 core\nin vec3 neverWritten;\nout vec4 color;\n"
                     "void main() { color = vec4(neverWritten, 1.0); }\n");
  shader->Use(nullptr);
  EXPECT_EQ(CountOf(out.Text(), "Error linking " + PassName() + ":\t"), 2);
  EXPECT_EQ(out.Text().find("Error compiling"), std::string::npos);
  EXPECT_TRUE(ShaderVariant::Current != nullptr && !ShaderVariant::Current->Failed())
      << "the error shader stands in";
  SaneGL::StateSync();
}

TEST_F(ShaderVariantTest, VariantsAreBuiltPerValueAndReusedByKey) {
  CaptureStdout out;
  auto shader = Make("Gain", kPassThroughVertex, kGainFragment, "<Float Uniform=\"Gain\"/>");
  ShaderPass* pass = shader->Passes.at("Deferred");
  UniformBuffer values;
  auto buffers = List({&values});

  values.SetFloat("Gain", 2.0f);
  values.CalculateHash();
  shader->Use(&buffers);
  ShaderVariant* two = ShaderVariant::Current;
  EXPECT_NE(two->FragmentStage.Use()->source.find("2.000000/*Precompiled*/"), std::string::npos);

  values.SetFloat("Gain", 3.0f);
  values.CalculateHash();
  shader->Use(&buffers);
  ShaderVariant* three = ShaderVariant::Current;
  EXPECT_NE(three, two);
  EXPECT_NE(three->FragmentStage.Use()->source.find("3.000000/*Precompiled*/"), std::string::npos);

  values.SetFloat("Gain", 2.0f);
  values.CalculateHash();
  shader->Use(&buffers);
  EXPECT_EQ(ShaderVariant::Current, two);
  EXPECT_EQ(pass->Variants.size(), 2u);

  // Changed, not rehashed: the value hash still says 2.
  values.Uniforms.at("Gain").FloatValue = 5.0f;
  shader->Use(&buffers);
  EXPECT_EQ(ShaderVariant::Current, two);

  // No buffer holds it: "0" is compiled in, under the key of a pass without it.
  auto none = List({});
  shader->Use(&none);
  EXPECT_EQ(pass->Variants.count(0), 1u);
  EXPECT_NE(ShaderVariant::Current->FragmentStage.Use()->source.find("Gain = 0/*Precompiled*/"),
            std::string::npos);
  EXPECT_EQ(pass->Variants.size(), 3u);
  for (auto& variant : pass->Variants) EXPECT_FALSE(variant.second->Failed()) << variant.second->Errors;
  SaneGL::StateSync();
}

TEST_F(ShaderVariantTest, PrecompiledMatricesAndVertexValuesCompile) {
  CaptureStdout out;
  auto shader = Make(
      "Matrices",
      "#version 430 core\nin vec3 position;\n[PreCompile] uniform float Scale;\n"
      "void main() { gl_Position = vec4(position * Scale, 1.0); }\n",
      "#version 430 core\n[PreCompile] uniform mat4 M4;\n[PreCompile] uniform mat3 M3;\n"
      "[PreCompile] uniform mat4 Bones[];\nout vec4 color;\n"
      "void main() { color = M4 * vec4(M3 * vec3(1.0), 1.0) + Bones[1][0]; }\n");
  UniformBuffer values;
  values.SetMatrix4("M4", glm::mat4(2.0f));
  values.SetMatrix3("M3", glm::mat3(0.5f));
  values.SetMatrix4Array("Bones", {glm::mat4(1.0f), glm::mat4(3.0f)});
  values.SetFloat("Scale", 0.5f);
  values.CalculateHash();
  auto buffers = List({&values});
  shader->Use(&buffers);
  ShaderVariant* half = ShaderVariant::Current;
  ASSERT_FALSE(half->Failed()) << half->Errors;
  EXPECT_NE(half->VertexStage.Use()->source.find("Scale = 0.500000/*Precompiled*/"),
            std::string::npos);

  values.SetFloat("Scale", 1.0f);
  values.CalculateHash();
  shader->Use(&buffers);
  EXPECT_NE(ShaderVariant::Current, half) << "vertex-stage values distinguish variants too";
  EXPECT_FALSE(ShaderVariant::Current->Failed()) << ShaderVariant::Current->Errors;
  SaneGL::StateSync();
}

TEST_F(ShaderVariantTest, StagedValuesReachTheProgramAndLaterBuffersWin) {
  CaptureStdout out;
  auto shader = Make("Staged", kPassThroughVertex,
                     "#version 430 core\nuniform vec4 Tint;\nuniform float Gain;\n"
                     "uniform mat3 Turn;\nuniform sampler2D Albedo;\nout vec4 color;\n"
                     "void main() { color = Tint * Gain * texture(Albedo, vec2(0.5)) + "
                     "vec4(Turn[1], 0.0); }\n");
  UniformBuffer base, top;
  base.SetVector("Tint", glm::vec4(1, 0, 0, 1));
  base.SetFloat("Gain", 2.0f);
  base.SetFloat("NotInTheProgram", 1.0f);
  base.SetVectorArray("ArraysOnlyAsText", {{1, 2, 3}});
  top.SetVector("Tint", glm::vec4(0, 1, 0, 1));
  glm::mat3 turn(1.0f);
  turn[1] = glm::vec3(0.25f, 0.5f, 0.75f);
  top.SetMatrix3("Turn", turn);
  top.Uniforms.emplace("Albedo", ShaderUniform("Albedo", static_cast<Texbit*>(nullptr)));
  auto buffers = List({&base, &top});
  shader->Use(&buffers);
  ASSERT_FALSE(ShaderVariant::Current->Failed()) << ShaderVariant::Current->Errors;
  SaneGL::StateSync();

  GLuint program = ShaderVariant::Current->Program.glID();
  GLfloat tint[4] = {};
  glGetUniformfv(program, glGetUniformLocation(program, "Tint"), tint);
  EXPECT_EQ(glm::vec4(tint[0], tint[1], tint[2], tint[3]), glm::vec4(0, 1, 0, 1));
  GLfloat gain = 0;
  glGetUniformfv(program, glGetUniformLocation(program, "Gain"), &gain);
  EXPECT_EQ(gain, 2.0f);
  GLfloat turned[9] = {};
  glGetUniformfv(program, glGetUniformLocation(program, "Turn"), turned);
  EXPECT_EQ(glm::vec3(turned[3], turned[4], turned[5]), glm::vec3(0.25f, 0.5f, 0.75f));
  // A texture uniform naming no texture samples the white one.
  EXPECT_EQ(ProgramInt(program, "Albedo"), Texbit::White()->CurrentBind);
  EXPECT_GE(Texbit::White()->CurrentBind, 0);
}

TEST_F(ShaderVariantTest, ReloadRebuildsAndDeletesTheOldPrograms) {
  CaptureStdout out;
  auto shader = Make("Reloaded", kPassThroughVertex,
                     "#version 430 core\nout vec4 color;\nvoid main() { color = vec4(1); }\n");
  shader->Use(nullptr);
  SaneGL::StateSync();
  const GLuint old = ShaderVariant::Current->Program.glID();

  assets.WriteShader("Reloaded", ShaderFile("Reloaded", "",
                                            GraphicsPass("Deferred", kPassThroughVertex,
                                                         "#version 430 core\nout vec4 color;\n"
                                                         "void main() { color = vec4(0.5); }\n")));
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() + std::chrono::seconds(10));
  shader->LastCheck -= 701'000'000;
  shader->Use(nullptr);
  ASSERT_NE(ShaderVariant::Current, nullptr);
  EXPECT_NE(ShaderVariant::Current->FragmentStage.Use()->source.find("vec4(0.5)"),
            std::string::npos);
  SaneGL::StateSync();  // the mirror lets go of the old program
  EXPECT_NE(out.Text().find("PROGDEL" + std::to_string(old) + "\n"), std::string::npos);
}
