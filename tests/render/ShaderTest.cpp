// Guards the shader file loader (uniform types, stages by child count,
// console lines), its handling of broken files (reported, no passes, every
// use logs the missing pass) and the throttled change check that reloads a
// newer file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "render/RenderAssets.h"
#include "render/Shader.h"
#include "render/ShaderPass.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::RenderAssets;
using KestorTest::ShaderFile;

namespace {

void SetFileTime(const std::string& path, std::chrono::seconds fromNow) {
  std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() + fromNow);
}

// The change check runs at the next use after this.
void ExpireCheck(Shader& shader) { shader.LastCheck -= 701'000'000; }

}  // namespace

TEST(ShaderFile, UniformDeclarationsTakeTheirTypeFromTheElementName) {
  RenderAssets assets;
  assets.WriteShader("Decl", ShaderFile("Decl",
                                        "<Texture Uniform=\"Albedo\" IsLinear=\"TRUE\"/>"
                                        "<Vector2 Uniform=\"Offset\"/><Vector3 Uniform=\"Tint\"/>"
                                        "<Vector4 Uniform=\"Colour\"/><Matrix4 Uniform=\"Xf\"/>"
                                        "<Float Uniform=\"Gain\"/><Vector3 Uniform=\"Gain\"/>",
                                        ""));
  CaptureStdout quiet;
  Shader shader("Decl");
  ASSERT_EQ(shader.Uniforms.size(), 6u);
  EXPECT_EQ(shader.Uniforms.at("Albedo").Type, TypeTexture);
  EXPECT_EQ(shader.Uniforms.at("Offset").Type, TypeVector2);
  EXPECT_EQ(shader.Uniforms.at("Tint").Type, TypeVector3);
  EXPECT_EQ(shader.Uniforms.at("Colour").Type, TypeVector4);
  EXPECT_EQ(shader.Uniforms.at("Xf").Type, TypeFloat) << "unknown element names declare floats";
  EXPECT_EQ(shader.Uniforms.at("Gain").Type, TypeVector3) << "the later declaration wins";
  EXPECT_EQ(shader.Uniforms.at("Gain").NameHash, HashName("Gain"));
  EXPECT_EQ(shader.Name, "Decl");
}

TEST(ShaderFile, StagesFollowTheNumberOfChildren) {
  RenderAssets assets;
  std::string path = assets.WriteShader(
      "Stages", ShaderFile("Stages", "",
                           "<P Name=\"C\"><X>compute</X></P>"
                           "<P Name=\"VF\"><X>vertex</X><Y>fragment</Y></P>"
                           "<P Name=\"VFG\"><X>v</X><Y>f</Y><Z>g</Z><W>ignored</W></P>"));
  CaptureStdout out;
  Shader shader("Stages");
  ASSERT_EQ(shader.Passes.size(), 3u);
  ShaderPass* compute = shader.Passes.at("C");
  EXPECT_EQ(compute->ComputeSource, "compute");
  EXPECT_EQ(compute->VertexSource, "");
  EXPECT_EQ(compute->Name, path + ": C");
  ShaderPass* graphics = shader.Passes.at("VF");
  EXPECT_EQ(graphics->VertexSource, "vertex");
  EXPECT_EQ(graphics->FragmentSource, "fragment");
  EXPECT_EQ(graphics->GeometrySource, "");
  ShaderPass* geometry = shader.Passes.at("VFG");
  EXPECT_EQ(geometry->GeometrySource, "g");
  EXPECT_EQ(geometry->ComputeSource, "");
  EXPECT_NE(out.Text().find("No pass called!!! C"), std::string::npos);
}

TEST(ShaderFile, LoadWritesItsPathLinesAndTheName) {
  RenderAssets assets;
  assets.WriteShader("Sub/Named", ShaderFile("Pretty", "", ""));
  CaptureStdout out;
  Shader shader("Sub/Named");
  const std::string root = File::AssetsPath;
  const std::string expected = "filename" + root + "\nfilenameShaders\nfilename" +
                               File::PathSeparator + "\nfilenameSub/Named\nfilename.shader\n" +
                               "Filename: " + shader.Filename + "\n";
  EXPECT_EQ(out.Text().substr(0, expected.size()), expected);
  EXPECT_EQ(shader.Filename, root + "Shaders" + File::PathSeparator + "Sub/Named.shader");
  EXPECT_EQ(out.Text().substr(out.Text().size() - 6), "Pretty");
}

TEST(ShaderFile, NoPassesSectionLeavesUniformsAndLogsEachMissingPassOnce) {
  RenderAssets assets;
  assets.WriteShader("Bare", "<Shader Name=\"Bare\"><Uniforms><Float Uniform=\"A\"/></Uniforms>"
                             "</Shader>");
  CaptureStdout out;
  Shader shader("Bare");
  EXPECT_NE(out.Text().find("BareYeah the shader doesn't have a passes section...XD"),
            std::string::npos);
  EXPECT_EQ(shader.Uniforms.size(), 1u);
  EXPECT_TRUE(shader.Passes.empty());
  shader.Use("Deferred", nullptr);
  shader.Use(nullptr);
  shader.Use("Typo", nullptr);
  shader.Use("Typo", nullptr);
  const std::string text = out.Text();
  for (const char* pass : {"Deferred", "Typo"}) {
    const std::string line = "Nonexistent pass (" + std::string(pass) + ") used from shader Bare\n";
    const size_t first = text.find(line);
    ASSERT_NE(first, std::string::npos) << line;
    EXPECT_EQ(text.find(line, first + 1), std::string::npos) << "said once, not every frame: " << line;
  }
}

TEST(ShaderFile, BrokenFilesAreReportedAndBehaveAsShadersWithoutPasses) {
  RenderAssets assets;
  struct Case {
    const char* name;
    std::string text;
    const char* problem;
  };
  const std::string pass = "<Passes><P Name=\"Deferred\"><V>v</V><F>f</F></P></Passes>";
  const Case cases[] = {
      {"Missing", "", "cannot read the shader"},
      {"NotXml", "<Shader Name=\"x\"><Uniforms>", "cannot read the shader"},
      {"NoShader", "<Effect Name=\"x\"/>", "no \"Shader\" element"},
      {"NoName", "<Shader><Uniforms/>" + pass + "</Shader>", "the \"Shader\" element has no \"Name\" attribute"},
      {"NoUniforms", "<Shader Name=\"x\">" + pass + "</Shader>", "no \"Uniforms\" element"},
  };
  for (const Case& c : cases) {
    std::string path = assets.Path("Shaders/" + std::string(c.name) + ".shader");
    if (!c.text.empty()) assets.WriteShader(c.name, c.text);
    CaptureStdout out;
    Shader shader(c.name);
    EXPECT_TRUE(shader.Passes.empty()) << c.name;
    EXPECT_NE(out.Text().find(path + ": " + c.problem), std::string::npos)
        << c.name << ": " << out.Text();
    shader.Use("Deferred", nullptr);
    EXPECT_NE(out.Text().find("Nonexistent pass (Deferred) used from shader "), std::string::npos);
  }
}

TEST(ShaderFile, BrokenPiecesAreSkippedAndTheRestLoads) {
  RenderAssets assets;
  assets.WriteShader("Pieces", ShaderFile("Pieces",
                                          "<Float/><Float Uniform=\"Kept\"/>",
                                          "<P><V>v</V><F>f</F></P>"
                                          "<P Name=\"Empty\"/>"
                                          "<P Name=\"NoText\"><V>v</V><F/></P>"
                                          "<P Name=\"Lone\"><Fragment>f</Fragment></P>"
                                          "<P Name=\"Good\"><V>first</V><F>f</F></P>"
                                          "<P Name=\"Good\"><V>second</V><F>f</F></P>"));
  CaptureStdout out;
  Shader shader("Pieces");
  EXPECT_EQ(shader.Uniforms.size(), 1u);
  EXPECT_EQ(shader.Uniforms.count("Kept"), 1u);
  ASSERT_EQ(shader.Passes.size(), 1u);
  EXPECT_EQ(shader.Passes.at("Good")->VertexSource, "first");
  const std::string text = out.Text();
  EXPECT_NE(text.find("uniform declaration <Float> has no \"Uniform\" attribute"), std::string::npos);
  EXPECT_NE(text.find("pass <P> has no \"Name\" attribute"), std::string::npos);
  EXPECT_NE(text.find("pass \"Empty\" has no stages"), std::string::npos);
  EXPECT_NE(text.find("stage <F> of pass \"NoText\" has no text"), std::string::npos);
  EXPECT_NE(text.find("pass \"Good\" is named twice"), std::string::npos);
  EXPECT_NE(text.find("pass \"Lone\" has only a <Fragment> stage, which cannot stand alone; skipped"),
            std::string::npos);
}

TEST(ShaderFile, FromSourceHasNoFileAndIsNeverChecked) {
  CaptureStdout quiet;
  Shader shader;
  shader.LoadFromSource(ShaderFile("Inline", "<Vector4 Uniform=\"C\"/>", ""));
  EXPECT_EQ(shader.Filename, "");
  EXPECT_EQ(shader.Name, "Inline");
  EXPECT_EQ(shader.Uniforms.at("C").Type, TypeVector4);
  shader.Use("Deferred", nullptr);
  EXPECT_EQ(shader.LastCheck, 0) << "a shader made from text has nothing to check";
}

TEST(ShaderReload, NewerFileIsPickedUpAtTheFirstUseAfterTheInterval) {
  RenderAssets assets;
  std::string path = assets.WriteShader("Live", ShaderFile("Live", "<Float Uniform=\"Old\"/>", ""));
  CaptureStdout quiet;
  Shader shader("Live");
  shader.Use("Deferred", nullptr);  // the first use checks; nothing changed
  EXPECT_NE(shader.LastCheck, 0);
  EXPECT_EQ(shader.Uniforms.count("Old"), 1u);

  assets.WriteShader("Live", ShaderFile("Live", "<Float Uniform=\"New\"/>", ""));
  SetFileTime(path, std::chrono::seconds(10));
  shader.Use("Deferred", nullptr);
  EXPECT_EQ(shader.Uniforms.count("Old"), 1u) << "within 700 ms of the last check: no query";

  ExpireCheck(shader);
  shader.Use("Deferred", nullptr);
  EXPECT_EQ(shader.Uniforms.count("New"), 1u);
  EXPECT_EQ(shader.Uniforms.count("Old"), 0u);
  const int64_t seen = shader.LastModified;

  // An older copy put back is not reloaded.
  assets.WriteShader("Live", ShaderFile("Live", "<Float Uniform=\"Older\"/>", ""));
  SetFileTime(path, std::chrono::seconds(-100));
  ExpireCheck(shader);
  shader.Use("Deferred", nullptr);
  EXPECT_EQ(shader.Uniforms.count("New"), 1u);
  EXPECT_LT(shader.LastModified, seen) << "the older time is remembered";
}

TEST(ShaderReload, ASecondSaveWithinTheSameSecondIsPickedUp) {
  RenderAssets assets;
  std::string path = assets.WriteShader("Quick", ShaderFile("Quick", "<Float Uniform=\"First\"/>", ""));
  const auto second = std::chrono::floor<std::chrono::seconds>(std::filesystem::file_time_type::clock::now());
  std::filesystem::last_write_time(path, second + std::chrono::milliseconds(100));
  CaptureStdout quiet;
  Shader shader("Quick");
  shader.Use("Deferred", nullptr);

  assets.WriteShader("Quick", ShaderFile("Quick", "<Float Uniform=\"Second\"/>", ""));
  std::filesystem::last_write_time(path, second + std::chrono::milliseconds(600));
  ExpireCheck(shader);
  shader.Use("Deferred", nullptr);
  EXPECT_EQ(shader.Uniforms.count("Second"), 1u) << "half a second later, in the same second";

  // A file system with coarse times: same stamp, other content and size.
  assets.WriteShader("Quick", ShaderFile("Quick", "<Float Uniform=\"ThirdOne\"/>", ""));
  std::filesystem::last_write_time(path, second + std::chrono::milliseconds(600));
  ExpireCheck(shader);
  shader.Use("Deferred", nullptr);
  EXPECT_EQ(shader.Uniforms.count("ThirdOne"), 1u);
}

TEST(ShaderReload, FileThatBreaksAndIsFixedRecovers) {
  RenderAssets assets;
  const std::string good = ShaderFile("Fix", "", "<P Name=\"Deferred\"><V>v</V><F>f</F></P>");
  std::string path = assets.WriteShader("Fix", good);
  CaptureStdout quiet;
  Shader shader("Fix");
  ASSERT_EQ(shader.Passes.size(), 1u);

  assets.WriteShader("Fix", "<Shader Name=\"Fix\"><Uniforms>");
  SetFileTime(path, std::chrono::seconds(5));
  ExpireCheck(shader);
  shader.Use("Other", nullptr);
  EXPECT_TRUE(shader.Passes.empty());

  assets.WriteShader("Fix", good);
  SetFileTime(path, std::chrono::seconds(10));
  ExpireCheck(shader);
  shader.Use("Other", nullptr);
  EXPECT_EQ(shader.Passes.size(), 1u);
}

TEST(ShaderFile, ErrorShaderIsLoadedOnceFromTheShippedAssets) {
  CaptureStdout out;
  delete Shader::ErrorShader;  // an earlier test of this process may have made it
  Shader* first = Shader::GetErrorShader();
  Shader* second = Shader::GetErrorShader();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->Name, "Error");
  EXPECT_EQ(first->Passes.count(DefaultPass), 1u);
  size_t reads = 0;
  for (size_t at = out.Text().find("Filename: "); at != std::string::npos;
       at = out.Text().find("Filename: ", at + 1)) {
    ++reads;
  }
  EXPECT_EQ(reads, 1u);
}
