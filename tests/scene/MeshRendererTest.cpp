// Guards the mesh renderers: which Things are listed (order, duplicates,
// removal), what each frame submits (each submesh with its material's live
// buffer, flags, the ErrorMat fallback instead of reading an empty list),
// the spin rule, and loading renderers from levels, the shipped street
// included.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

#include <glm/gtc/quaternion.hpp>

#include "engine/Engine.h"
#include "render/DrawSystem.h"
#include "render/ShaderPass.h"
#include "render/ShaderVariant.h"
#include "renderer/DemoComposition.h"
#include "scene/LevelFixture.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"
#include "support/EngineStatics.h"
#include "support/GLTestContext.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;

namespace {

std::string ReadShipped(const std::string& shipped, const std::string& relative) {
  std::ifstream in(shipped + relative);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A scratch asset folder holding the fallback material, two materials on a
// tiny shader and a one-triangle mesh.
class MeshRenderers : public KestorTest::LevelTest {
 protected:
  void SetUp() override {
    LevelTest::SetUp();
    for (const char* file : {"Materials/ErrorMat.xml", "Shaders/Error.shader"}) {
      assets.Write(file, ReadShipped(shippedAssets, file));
    }
    assets.Write("Shaders/Flat.shader",
                 "<Shader Name=\"Flat\"><Uniforms><Float Uniform=\"Strength\"/></Uniforms></Shader>");
    assets.Write("Materials/Red.xml", "<Material Shader=\"Flat\"><Settings Strength=\"1\"/></Material>");
    assets.Write("Materials/Blue.xml", "<Material Shader=\"Flat\"><Settings Strength=\"2\"/></Material>");
    assets.Write("Meshes/Tri.fml",
                 "<Mesh><Base><Vertices>0,0,0,1,0,0,0,1,0</Vertices><UV1>0,0,1,0,0,1</UV1>"
                 "<Faces>0,1,2</Faces></Base></Mesh>");
    assets.Write("Meshes/ThreeParts.fml",
                 "<Mesh><Base><Vertices>0,0,0,1,0,0,0,1,0</Vertices><UV1>0,0,1,0,0,1</UV1>"
                 "<Faces>0,1,2</Faces><Faces>0,2,1</Faces><Faces>1,2,0</Faces></Base></Mesh>");
    // What earlier tests of this process queued, attached and left in the
    // renderers of ids they released.
    DrawSystem::ClearCache();
    for (MeshRenderer& r : ComponentHandler<MeshRenderer>::Components) r = MeshRenderer();
    KestorTest::ForgetFollowers<Transform, MeshRenderer>();
    Transform::Attach();
    MeshRenderer::Attach();
    TransformSystem::Attach(&engine);
    MeshRendererSystem::Attach(&engine);
  }
  void TearDown() override {
    for (Thing t : made) Thing::HereItsBunk(t);
    MeshRendererSystem::MeshyThings.clear();
    DrawSystem::ClearCache();
    LevelTest::TearDown();
  }

  Thing Make(bool transform, bool renderer) {
    Thing t = Thing::Gimme();
    made.push_back(t);
    CaptureStdout quiet;
    if (transform) ComponentHandler<Transform>::Gimmoo(t);
    if (renderer) ComponentHandler<MeshRenderer>::Gimmoo(t);
    return t;
  }
  void Frame() {
    TransformSystem::MAKETHEMATERIALREALITY(&engine);
    MeshRendererSystem::MAKEITpretty(&engine);
  }
  static const std::vector<Thing>& Listed() { return MeshRendererSystem::MeshyThings; }

  KestorEngineFlyHahaJk engine;
  std::vector<Thing> made;
};

TEST_F(MeshRenderers, ListedOnceEitherOrderAndDroppedWhenEitherGoes) {
  Thing rendererFirst = Make(false, true);
  Thing plain = Make(true, false);
  Thing both = Make(true, true);
  EXPECT_EQ(Listed(), std::vector<Thing>{both});

  ComponentHandler<Transform>::Gimmoo(rendererFirst);
  EXPECT_EQ(Listed(), (std::vector<Thing>{both, rendererFirst}));
  {
    CaptureStdout quiet;
    ComponentHandler<MeshRenderer>::Gimmoo(both);
    ComponentHandler<Transform>::Gimmoo(both);
  }
  EXPECT_EQ(Listed(), (std::vector<Thing>{both, rendererFirst})) << "re-adding lists nothing twice";

  Thing last = Make(true, true);
  ComponentHandler<Transform>::HereItsBunk(both);
  EXPECT_EQ(Listed(), (std::vector<Thing>{rendererFirst, last})) << "the rest keep their order";
  ComponentHandler<MeshRenderer>::HereItsBunk(plain);
  ComponentHandler<MeshRenderer>::HereItsBunk(rendererFirst);
  EXPECT_EQ(Listed(), (std::vector<Thing>{last}));
}

TEST_F(MeshRenderers, EachFrameQueuesEverySubmeshWithItsMaterialsLiveBufferAndTheFlags) {
  Thing t = Make(true, true);
  MeshRenderer* r = ComponentHandler<MeshRenderer>::Get(t);
  {
    CaptureStdout quiet;
    r->Mesh = Resources<Mesh>::Get("Tri");
    r->Materials = {Resources<Material>::Get("Red"), Resources<Material>::Get("Blue")};
  }
  r->Visible = false;
  r->ShadowCast = false;
  ComponentHandler<Transform>::Get(t)->Position = glm::vec3(1, 2, 3);
  Frame();

  // One index list: the whole mesh, once, with the first material.
  ASSERT_EQ(DrawSystem::drawthings.size(), 1u) << "one request per Thing, whatever its flags";
  const DrawEntry& entry = DrawSystem::drawthings[0];
  EXPECT_EQ(std::get<0>(entry), r->Mesh);
  EXPECT_EQ(std::get<1>(entry), -1);
  EXPECT_EQ(std::get<2>(entry)[3], glm::vec4(1, 2, 3, 1));
  EXPECT_EQ(std::get<3>(entry)[3], glm::vec4(0, 0, 0, 1)) << "the previous frame's matrix";
  EXPECT_EQ(std::get<4>(entry), r->Materials[0]->ShaderResource);
  EXPECT_EQ(std::get<5>(entry), &r->Materials[0]->Buffer) << "the first material, live";
  EXPECT_FALSE(std::get<7>(entry));
  EXPECT_FALSE(std::get<8>(entry));

  // Three lists and two materials: the third submesh takes the last one.
  {
    CaptureStdout quiet;
    r->Mesh = Resources<Mesh>::Get("ThreeParts");
  }
  DrawSystem::ClearCache();
  Frame();
  ASSERT_EQ(DrawSystem::drawthings.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    const DrawEntry& part = DrawSystem::drawthings[k];
    EXPECT_EQ(std::get<1>(part), k);
    EXPECT_EQ(std::get<5>(part), &r->Materials[k == 0 ? 0 : 1]->Buffer) << k;
    EXPECT_FALSE(std::get<7>(part));
  }
}

TEST_F(MeshRenderers, AnEmptiedMaterialListFallsBackToErrorMat) {
  Thing t = Make(true, true);
  MeshRenderer* r = ComponentHandler<MeshRenderer>::Get(t);
  ASSERT_EQ(r->Materials.size(), 1u);
  EXPECT_EQ(r->Materials[0].Name(), "ErrorMat") << "every renderer starts with the fallback";
  r->Materials.clear();
  Frame();
  ASSERT_EQ(DrawSystem::drawthings.size(), 1u);
  ASSERT_EQ(r->Materials.size(), 1u);
  EXPECT_EQ(r->Materials[0].Name(), "ErrorMat");
  EXPECT_EQ(std::get<5>(DrawSystem::drawthings[0]), &r->Materials[0]->Buffer);
}

TEST_F(MeshRenderers, OnlyTheWeathervaneScaleSpins) {
  EXPECT_TRUE(MeshRendererSystem::Spins(glm::vec3(0.272764f)));
  EXPECT_TRUE(MeshRendererSystem::Spins(glm::vec3(0.27f)));
  EXPECT_FALSE(MeshRendererSystem::Spins(glm::vec3(0.4f))) << "0.22 away";
  EXPECT_FALSE(MeshRendererSystem::Spins(glm::vec3(0.272764f, 0.272764f, 0.38f))) << "0.107 away";

  Thing spinning = Make(true, true);
  Thing still = Make(true, true);
  Transform* a = ComponentHandler<Transform>::Get(spinning);
  Transform* b = ComponentHandler<Transform>::Get(still);
  a->Scale = glm::vec3(0.27f);
  b->Scale = glm::vec3(0.4f);
  a->Rotation = glm::angleAxis(0.5f, glm::vec3(1, 0, 0));
  const glm::quat tilted = a->Rotation;
  Frame();
  // Pre-multiplied: a turn about world +Z after the existing tilt.
  const glm::quat expected = glm::angleAxis(0.1f, glm::vec3(0, 0, 1)) * tilted;
  EXPECT_NEAR(std::abs(glm::dot(a->Rotation, expected)), 1.0f, 1e-6f);
  EXPECT_EQ(b->Rotation, glm::quat(1, 0, 0, 0));
  // The request already left with this frame's matrix: the turn shows next frame.
  EXPECT_EQ(std::get<2>(DrawSystem::drawthings[0]), a->World);
  Frame();
  EXPECT_NEAR(std::abs(glm::dot(a->Rotation, glm::angleAxis(0.2f, glm::vec3(0, 0, 1)) * tilted)), 1.0f,
              1e-6f);
}

TEST_F(MeshRenderers, LevelKeysSetMeshFlagsAndMaterialsInOrder) {
  auto scene = Load(
      "<Thing Name=\"Full\"><Transform Position=\"0,0,0\" Rotation=\"1,0,0,0\" Scale=\"1,1,1\"/>"
      "<MeshRenderer Mesh=\"Tri\" Materials=\"Blue,Red\" Visible=\"True\" ShadowCast=\"true\""
      " BounceCast=\"True\"/></Thing>"
      "<Thing Name=\"Bare\"><MeshRenderer Mesh=\"Tri\"/></Thing>");
  EXPECT_TRUE(Problems(*scene).empty()) << output;

  MeshRenderer* full = Of<MeshRenderer>(*scene, "Full");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->Mesh.Name(), "Tri");
  EXPECT_EQ(full->Mesh->Faces.size(), 3u);
  ASSERT_EQ(full->Materials.size(), 2u);
  EXPECT_EQ(full->Materials[0].Name(), "Blue");
  EXPECT_EQ(full->Materials[1].Name(), "Red");
  EXPECT_TRUE(full->Visible);
  EXPECT_FALSE(full->ShadowCast) << "only \"True\" exactly";
  EXPECT_TRUE(full->BounceCast);

  MeshRenderer* bare = Of<MeshRenderer>(*scene, "Bare");
  ASSERT_NE(bare, nullptr);
  EXPECT_FALSE(bare->Visible) << "an absent flag reads as false";
  ASSERT_EQ(bare->Materials.size(), 1u);
  EXPECT_EQ(bare->Materials[0].Name(), "ErrorMat") << "no \"Materials\" key keeps the fallback";
  EXPECT_EQ(Listed(), (std::vector<Thing>{scene->Things.at("Full")})) << "Bare has no Transform";
}

TEST_F(MeshRenderers, MaterialListsWithoutNamesAreReportedAndFallBack) {
  auto scene = Load(
      "<Thing Name=\"Gap\"><MeshRenderer Mesh=\"Tri\" Materials=\"Red,,Blue\"/></Thing>"
      "<Thing Name=\"Empty\"><MeshRenderer Mesh=\"Tri\" Materials=\"\"/></Thing>"
      "<Thing Name=\"Comma\"><MeshRenderer Mesh=\"Tri\" Materials=\",\"/></Thing>"
      "<Thing Name=\"NoMesh\"><MeshRenderer Materials=\"Red\"/></Thing>");
  EXPECT_EQ(Of<MeshRenderer>(*scene, "Gap")->Materials.size(), 2u);
  for (const char* name : {"Empty", "Comma"}) {
    MeshRenderer* r = Of<MeshRenderer>(*scene, name);
    ASSERT_EQ(r->Materials.size(), 1u) << name;
    EXPECT_EQ(r->Materials[0].Name(), "ErrorMat") << name;
  }
  size_t issues = 0;
  for (size_t at = output.find("Empty material name issue\n"); at != std::string::npos;
       at = output.find("Empty material name issue\n", at + 1)) {
    ++issues;
  }
  EXPECT_EQ(issues, 2u) << "one for Gap's empty piece, one for Comma's";
  const auto problems = Problems(*scene);
  ASSERT_EQ(problems.size(), 3u) << output;
  EXPECT_NE(problems[0].find("\"Materials\" names no material"), std::string::npos) << problems[0];
  EXPECT_NE(problems[2].find("\"Mesh\""), std::string::npos) << problems[2];
  EXPECT_FALSE(Of<MeshRenderer>(*scene, "NoMesh")->Mesh);
}

// The shipped level with the shipped assets: everything it names exists and
// loads cleanly, and each material's shader compiles every pass here.
class StreetLevel : public KestorTest::GLTest {};

TEST_F(StreetLevel, LoadsWithoutProblemsAndItsShadersCompile) {
  RegisterLevelComponents();
  KestorEngineFlyHahaJk engine;
  MeshRendererSystem::Attach(&engine);
  CaptureStdout capture;
  Scene level("StreetTest");
  const std::string text = capture.Text();
  EXPECT_EQ(level.ProblemCount(), 0);
  // Meshes, materials and shaders report against their file's path.
  for (const char* problem : {".fml: ", ".xml: ", ".shader: ", "Empty material name issue"}) {
    EXPECT_EQ(text.find(problem), std::string::npos) << problem << " in\n" << text;
  }
  ASSERT_EQ(MeshRendererSystem::MeshyThings.size(), 14u);

  std::vector<UniformBuffer*> none;
  for (Thing t : MeshRendererSystem::MeshyThings) {
    MeshRenderer* r = ComponentHandler<MeshRenderer>::Get(t);
    EXPECT_GT(r->Mesh->Faces.size(), 0u) << r->Mesh.Name();
    // One material per part, so a part added to a mesh is not silently
    // drawn with the last material.
    if (r->Mesh->SubmeshCount > 0) {
      EXPECT_EQ(r->Materials.size(), r->Mesh->SubmeshCount) << r->Mesh.Name();
    }
    for (const Resource<Material>& material : r->Materials) {
      Shader& shader = *material->ShaderResource;
      EXPECT_EQ(shader.Name, "Standard") << material.Name();
      for (const char* pass : {"Deferred", "Forward", "Emission", "Depth"}) {
        ASSERT_EQ(shader.Passes.count(pass), 1u) << pass;
        CaptureStdout quiet;
        const ShaderVariant* variant = shader.Passes.at(pass)->Use(&none);
        EXPECT_EQ(variant->Errors, "") << material.Name() << " " << pass;
      }
    }
  }
}

}  // namespace
