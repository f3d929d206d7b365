// Guards material files: the settings table (parts count, isFloat, textures,
// the declared type never changing), the fallbacks to the "Error" shader for
// unusable files, reporting of non-numbers, and sharing through the cache.
#include <gtest/gtest.h>

#include "engine/Component.h"
#include "engine/Resource.h"
#include "render/FrameBuffer.h"
#include "render/Material.h"
#include "render/RenderGL.h"
#include "render/RenderTextureGuy.h"
#include "render/Texbit.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::ShaderFile;

namespace {

class MaterialTest : public KestorTest::RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    assets.WriteShader("Lit", ShaderFile("Lit",
                                         "<Float Uniform=\"Gain\"/><Vector3 Uniform=\"Colour\"/>"
                                         "<Vector4 Uniform=\"Tint\"/><Vector2 Uniform=\"Offset\"/>"
                                         "<Texture Uniform=\"Albedo\"/><Float Uniform=\"Rough\"/>",
                                         ""));
  }
  std::string WriteMaterial(const std::string& name, const std::string& text) {
    return assets.Write("Materials/" + name + ".xml", text);
  }
};

// Holds a material in a component array, as a level's mesh renderers do.
struct MaterialHolder : Component {
  Resource<Material> material;
};

}  // namespace

TEST(MaterialIsFloat, WholeTextMustBeOneNumber) {
  for (const char* yes : {"0.5", "-2", "1e3", "3.", ".25", "+4"}) EXPECT_TRUE(isFloat(yes)) << yes;
  for (const char* no : {"", " 0.5", "0.5 ", "abc", "1,2", "1.5f", "White.bmp", "-"}) {
    EXPECT_FALSE(isFloat(no)) << "'" << no << "'";
  }
}

TEST_F(MaterialTest, SettingsFollowTheTableAndNeverChangeTheType) {
  WriteMaterial("Painted",
                "<Material Shader=\"Lit\"><Settings Gain=\"0.5\" Colour=\"1, 0.5, 0\" Tint=\"0.5\" "
                "Offset=\"1,2,3,4,5\" Unknown=\"3\" Rough=\" 0.5\" Albedo=\"White.bmp\" "
                "Empty=\"\"/></Material>");
  CaptureStdout quiet;
  Material material("Painted");
  const auto& buffer = material.Buffer.Uniforms;
  ASSERT_EQ(buffer.size(), 6u) << "one entry per declaration, none for unknown settings";
  EXPECT_EQ(buffer.at("Gain").FloatValue, 0.5f);
  EXPECT_EQ(buffer.at("Colour").Vector3Value, glm::vec3(1, 0.5f, 0));
  EXPECT_EQ(buffer.at("Colour").Type, TypeVector3);
  // A single number on a vector writes the float field, which the vector
  // declaration does not use.
  EXPECT_EQ(buffer.at("Tint").Vector4Value, glm::vec4(0));
  EXPECT_EQ(buffer.at("Tint").FloatValue, 0.5f);
  EXPECT_EQ(buffer.at("Tint").Type, TypeVector4);
  EXPECT_EQ(buffer.at("Offset").Vector2Value, glm::vec2(0)) << "five parts change nothing";
  EXPECT_EQ(buffer.at("Albedo").TextureResource.Name(), "White.bmp");
  EXPECT_EQ(buffer.at("Rough").TextureResource.Name(), " 0.5") << "a leading blank is no number";
  EXPECT_EQ(buffer.at("Rough").Type, TypeFloat);
  for (const auto& entry : buffer) EXPECT_EQ(entry.second.ValueHash, 0u);
}

TEST_F(MaterialTest, MissingShaderAttributeAndSettingsGiveTheErrorShaderDefaults) {
  WriteMaterial("Plain", "<Material/>");
  CaptureStdout out;
  Material material("Plain");
  EXPECT_EQ(material.ShaderResource.Name(), "Error");
  EXPECT_EQ(material.ShaderResource->Name, "Error");
  EXPECT_EQ(material.Buffer.Uniforms.size(), material.ShaderResource->Uniforms.size());
}

TEST_F(MaterialTest, UnusableFilesAreReportedAndUseTheErrorShader) {
  WriteMaterial("NotXml", "<Material Shader=\"Lit\"");
  WriteMaterial("Wrong", "<Surface Shader=\"Lit\"/>");
  for (const char* name : {"Absent", "NotXml", "Wrong"}) {
    CaptureStdout out;
    Material material(name);
    EXPECT_EQ(material.ShaderResource.Name(), "Error") << name;
    EXPECT_NE(out.Text().find(assets.Path("Materials/" + std::string(name) + ".xml") + ": "),
              std::string::npos)
        << out.Text();
    EXPECT_NE(out.Text().find("using the \"Error\" shader\n"), std::string::npos);
  }
}

TEST_F(MaterialTest, NonNumberPartIsReportedAndTheSettingSkipped) {
  for (const char* part : {"x", "nan", "-inf"}) {
    WriteMaterial("Typo", std::string("<Material Shader=\"Lit\"><Settings Colour=\"1,") + part +
                              ",0\" Gain=\"2\"/></Material>");
    CaptureStdout out;
    Material material("Typo");
    EXPECT_EQ(material.Buffer.Uniforms.at("Colour").Vector3Value, glm::vec3(0)) << part;
    EXPECT_EQ(material.Buffer.Uniforms.at("Gain").FloatValue, 2.0f) << "the other settings apply";
    EXPECT_NE(out.Text().find(std::string("setting \"Colour\": part 2 (\"") + part + "\") is not a finite number, skipped"),
              std::string::npos)
        << out.Text();
  }
}

TEST_F(MaterialTest, SharedThroughTheCacheAndBuiltFromAShaderHandle) {
  WriteMaterial("Shared", "<Material Shader=\"Lit\"/>");
  CaptureStdout out;
  {
    Resource<Material> a = Resources<Material>::Get("Shared");
    Resource<Material> b = Resources<Material>::Get("Shared");
    EXPECT_EQ(a, b);
    EXPECT_EQ(KestorTest::CountOf(out.Text(), "Loading" + assets.Path("Materials/Shared.xml")), 1);

    Material fromShader(a->ShaderResource);
    EXPECT_EQ(fromShader.Buffer.Uniforms.size(), 6u);
    EXPECT_EQ(fromShader.Buffer.Uniforms.at("Colour").Type, TypeVector3);
    EXPECT_EQ(Resources<Shader>::Count("Lit"), 2);
  }
  EXPECT_EQ(Resources<Shader>::Count("Lit"), 0) << "the last material released its shader";
}

// The check is this test's process exit: component arrays die after anything
// made during the run, and with them the last handle of the material and its
// texture, whose destructor reports to the framebuffer and texture-unit
// registries. Under AddressSanitizer a registry already destroyed fails the
// process.
TEST_F(MaterialTest, ATexturedMaterialInAComponentArrayExitsCleanly) {
  WriteMaterial("Textured", "<Material Shader=\"Lit\"><Settings Albedo=\"White.bmp\"/></Material>");
  CaptureStdout out;
  Thing holder = Thing::Gimme();
  ComponentHandler<MaterialHolder>::Gimmoo(holder);
  ComponentHandler<MaterialHolder>::Get(holder)->material = Resources<Material>::Get("Textured");
  Texbit* albedo = ComponentHandler<MaterialHolder>::Get(holder)->material->Buffer.Uniforms.at("Albedo").TextureResource.Object();
  ASSERT_NE(albedo, nullptr);
  albedo->ToGPU();  // holds a texture unit
  RenderTexture* target = RenderTextureGuy::GrabTex(8, 8, TextureFormats::RGBA8);
  RenderTextureGuy::UseTex(target);  // the pool keeps this framebuffer for good
  FrameBuffer::SaveState();
  FrameBuffer::RestoreState();
  RenderTextureGuy::UseTexDone();
  EXPECT_GE(albedo->CurrentBind, 0);
}
