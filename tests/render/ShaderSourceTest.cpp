// Guards GLSL assembly: include expansion from the end (order, the "//" rule,
// missing files, nesting, cycles), the [PreCompile] rewriting, the values
// filled into each variant and the variant key built from stored hashes.
#include <gtest/gtest.h>

#include "engine/File.h"
#include "render/Shader.h"
#include "render/ShaderSource.h"
#include "render/ShaderUniform.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::TempDir;

namespace {

class ShaderSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shipped = File::AssetsPath;
    File::AssetsPath = assets.Path() + File::PathSeparator;
  }
  void TearDown() override {
    File::AssetsPath = shipped;
    Shader::TemporalAntiAliasing = false;
    Shader::MotionBlur = false;
  }
  void Include(const std::string& name, const std::string& text) {
    assets.Write("Shaders/" + name + ".glinc", text);
  }
  std::string Expand(const std::string& text) {
    PrecompilePositions positions;
    return IncludeWoop(text, IncludeCache(), positions, false, "Test.shader: Pass");
  }

  TempDir assets;
  std::string shipped;
};

std::vector<UniformBuffer*> List(std::initializer_list<UniformBuffer*> buffers) { return buffers; }

}  // namespace

// Each directive is replaced by its file, from the end of the text, keeping
// its own line break; bad ones expand to nothing and say why.
TEST_F(ShaderSourceTest, IncludeDirectivesExpandInPlace) {
  Include("A", "a();");
  Include("B", "b();");
  Include("Common/Math", "float sq(float x){return x*x;}");
  Include("Lighting", "#include \"Common/Math\"\nvec3 light();");
  Include("C", "c1\n#include \"D\"\nc2");
  Include("D", "d1\n#include \"C\"\nd2");
  Include("Self", "s\n#include \"Self\"");
  struct Case {
    const char* text;
    const char* expanded;
    const char* says;  // a line the expansion prints, or ""
  };
  const Case cases[] = {
      {"#include \"A\"\n#include \"B\"\n", "a();\nb();\n", ""},
      {"x\n#include \"B\"", "x\nb();", ""},  // a last line without a newline
      // A trailing comment keeps its directive; one on a later line does not count.
      {"#include \"A\"\n#include \"B\" // off for now\n", "a();\n#include \"B\" // off for now\n", ""},
      {"#include \"A\"\n// note\n", "a();\n// note\n", ""},
      {"#include \"Lighting\"\nvoid main(){}", "float sq(float x){return x*x;}\nvec3 light();\nvoid main(){}", ""},
      {"pre\n#include \"Nowhere\"\npost", "pre\n\npost", "Test.shader: Pass: include \"Nowhere\" not found"},
      {"#include \"C\"", "c1\nd1\n\nd2\nc2", "include cycle C.glinc -> D.glinc -> C.glinc"},
      {"#include \"Self\"", "s\n", "include cycle Self.glinc -> Self.glinc"},
      // The quotes of the next line's directive must not be taken for this one's.
      {"#include <A>\n#include \"A\"\n", "\na();\n", "#include without a quoted name"},
  };
  for (const Case& c : cases) {
    CaptureStdout out;
    EXPECT_EQ(Expand(c.text), c.expanded) << c.text;
    EXPECT_NE(out.Text().find(c.says), std::string::npos) << c.text << "\n" << out.Text();
  }
}

TEST_F(ShaderSourceTest, IncludesPastTheSizeLimitExpandToNothingWithOneLine) {
  Include("Big", std::string(1 << 20, 'x') + "\n");
  Include("Small", "s();");
  std::string text = "#include \"Small\"\n";
  for (int i = 0; i < 12; ++i) text += "#include \"Big\"\n";
  CaptureStdout out;
  const std::string expanded = Expand(text);
  EXPECT_LT(expanded.size(), 10u << 20);
  EXPECT_GT(expanded.size(), 8u << 20) << "everything up to the limit is kept";
  EXPECT_EQ(expanded.find("s();"), std::string::npos) << "taken from the end, the first line is past it";
  const std::string line = "Test.shader: Pass: includes expand past 8 MiB, the rest expanded to nothing\n";
  const size_t first = out.Text().find(line);
  ASSERT_NE(first, std::string::npos) << out.Text().substr(0, 400);
  EXPECT_EQ(out.Text().find(line, first + 1), std::string::npos);
}

TEST_F(ShaderSourceTest, HLSLIncludeGetsTheSourceOptionDefinesEveryTime) {
  Include("HLSL", "common");
  EXPECT_EQ(Expand("#include \"HLSL\""), "common");
  Shader::TemporalAntiAliasing = true;
  Shader::MotionBlur = true;
  EXPECT_EQ(Expand("#include \"HLSL\"\n#include \"HLSL\""),
            "\n\t#define MotionBlur\n\n\t#define TAA\ncommon\n"
            "\n\t#define MotionBlur\n\n\t#define TAA\ncommon");
}

TEST_F(ShaderSourceTest, PrecompiledFloatBecomesAnInitialisedGlobal) {
  PrecompilePositions positions;
  std::string text;
  {
    CaptureStdout quiet;
    text = IncludeWoop("[PreCompile] uniform float Gain;\nvoid main(){}", IncludeCache(),
                       positions, true);
  }
  EXPECT_EQ(text, " float Gain = /*Precompiled*/;\nvoid main(){}");
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions.begin()->second, "Gain");
  EXPECT_EQ(text.substr(positions.begin()->first, 15), "/*Precompiled*/");

  UniformBuffer buffer;
  buffer.SetFloat("Gain", 2.0f);
  auto buffers = List({&buffer});
  EXPECT_EQ(ComputeVariant(positions, text, &buffers),
            " float Gain = 2.000000/*Precompiled*/;\nvoid main(){}");
  auto none = List({});
  EXPECT_EQ(ComputeVariant(positions, text, &none), " float Gain = 0/*Precompiled*/;\nvoid main(){}");
}

TEST_F(ShaderSourceTest, PrecompiledArraysJoinEveryBufferAndSinglesTakeTheLast) {
  PrecompilePositions positions;
  std::string text = IncludeWoop(
      "[PreCompile] uniform vec3 Weights[];\n[PreCompile] uniform float Scale;\n"
      "[PreCompile] uniform vec4 Tint;\n",
      IncludeCache(), positions, true);
  EXPECT_EQ(text,
            " vec3 Weights[] = vec3[]()/*Precompiled*/;\n float Scale = /*Precompiled*/;\n"
            " vec4 Tint = /*Precompiled*/;\n");
  ASSERT_EQ(positions.size(), 3u);
  EXPECT_EQ(positions.begin()->second, "Weights");

  UniformBuffer first, second;
  first.SetVectorArray("Weights", {{1, 2, 3}});
  first.SetFloat("Scale", 1.0f);
  second.SetVectorArray("Weights", {{4, 5, 6}});
  second.SetFloat("Scale", 0.5f);
  second.SetVector("Tint", glm::vec4(1, 0, 0.25f, 1));
  auto buffers = List({&first, &second});
  EXPECT_EQ(ComputeVariant(positions, text, &buffers),
            " vec3 Weights[] = vec3[](vec3(1.000000, 2.000000, 3.000000), "
            "vec3(4.000000, 5.000000, 6.000000))/*Precompiled*/;\n"
            " float Scale = 0.500000/*Precompiled*/;\n"
            " vec4 Tint = vec4(1.000000, 0.000000, 0.250000, 1.000000)/*Precompiled*/;\n");
}

TEST_F(ShaderSourceTest, PrecompiledMatricesAreGLSLConstructors) {
  glm::mat3 m3(1.0f);
  m3[0][1] = 2.0f;  // column 0, row 1
  ShaderUniform u3(m3);
  EXPECT_EQ(PrecompiledValue(u3, ""),
            "mat3(vec3(1.000000,2.000000,0.000000),vec3(0.000000,1.000000,0.000000),"
            "vec3(0.000000,0.000000,1.000000))");
  ShaderUniform u4(glm::mat4(1.0f));
  EXPECT_EQ(PrecompiledValue(u4, ""),
            "mat4(vec4(1.000000,0.000000,0.000000,0.000000),vec4(0.000000,1.000000,0.000000,"
            "0.000000),vec4(0.000000,0.000000,1.000000,0.000000),vec4(0.000000,0.000000,0.000000,"
            "1.000000))");
  ShaderUniform array(std::vector<glm::mat4>{glm::mat4(1.0f), glm::mat4(1.0f)});
  EXPECT_EQ(PrecompiledValue(array, ""), PrecompiledValue(u4, "") + ", " + PrecompiledValue(u4, ""));
}

TEST_F(ShaderSourceTest, CommentedOrMalformedMarkersLeaveTheCodeIntact) {
  PrecompilePositions positions;
  CaptureStdout out;
  std::string text = IncludeWoop(
      "[PreCompile] uniform float A; // tuned by hand\n"
      "[PreCompile] const float B = 1.0;\nuniform sampler2D tex;\n",
      IncludeCache(), positions, true);
  EXPECT_EQ(text,
            "[PreCompile] uniform float A; // tuned by hand\n"
            " const float B = 1.0;\nuniform sampler2D tex;\n");
  EXPECT_TRUE(positions.empty());
  EXPECT_NE(out.Text().find("[PreCompile] not followed by a uniform declaration"),
            std::string::npos);
}

TEST_F(ShaderSourceTest, PrecompilesInsideIncludesArePreparedAtTopLevelOnly) {
  Include("Settings", "[PreCompile] uniform float Exposure;");
  PrecompilePositions positions;
  std::string nested = IncludeWoop("#include \"Settings\"", IncludeCache(), positions, false);
  EXPECT_EQ(nested, "[PreCompile] uniform float Exposure;");
  EXPECT_TRUE(positions.empty());
  std::string top = IncludeWoop("#include \"Settings\"\n", IncludeCache(), positions, true);
  EXPECT_EQ(top, " float Exposure = /*Precompiled*/;\n");
  EXPECT_EQ(positions.size(), 1u);
}

TEST_F(ShaderSourceTest, VariantKeyFollowsStoredHashesOnly) {
  PrecompilePositions positions{{10, "Gain"}};
  UniformBuffer buffer;
  auto buffers = List({&buffer});
  EXPECT_EQ(CombineVariantKey(0, positions, &buffers), 0u) << "a name no buffer holds adds nothing";

  buffer.SetFloat("Gain", 2.0f);
  buffer.CalculateHash();
  uint64_t two = CombineVariantKey(0, positions, &buffers);
  EXPECT_EQ(two, HashCombine(0, buffer.Uniforms.at("Gain").ValueHash));

  buffer.Uniforms.at("Gain").FloatValue = 3.0f;
  EXPECT_EQ(CombineVariantKey(0, positions, &buffers), two) << "stale hashes keep the old key";
  buffer.CalculateHash();
  EXPECT_NE(CombineVariantKey(0, positions, &buffers), two);

  UniformBuffer again;
  again.SetFloat("Gain", 2.0f);
  again.CalculateHash();
  auto twice = List({&again, &again});
  EXPECT_EQ(CombineVariantKey(0, positions, &twice), HashCombine(two, again.Uniforms.at("Gain").ValueHash))
      << "a name held by several buffers adds once per buffer";
}
