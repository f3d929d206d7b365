// The curtain as the renderer shows it: the scene's collision voxels read
// back from the renderer's own voxelisation, the curtain voxelised into the
// light field, the hotkeys, and the surface mesh with its normals and
// motion vectors.
#include <gtest/gtest.h>

#include <SDL_scancode.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "cloth/FreshCloth.h"
#include "engine/Component.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/Material.h"
#include "render/Mesh.h"
#include "render/RenderTextureGuy.h"
#include "render/Shader.h"
#include "render/ShaderUniform.h"
#include "render/Texbit.h"
#include "renderer/Curtain.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/Transform.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using namespace ClothConstants;
using namespace CurtainConstants;

namespace {

constexpr std::uint32_t CurtainParticles = Strands * StrandParticles;

std::uint32_t Top(int strand) { return KestorTest::CurtainTop(strand); }

class ClothGLTest : public KestorTest::GLTest {
 protected:
  void SetUp() override {
    KestorTest::GLTest::SetUp();
    KestorTest::ForgetCloth();
    ResetCurtainDisplay();
  }
  void TearDown() override {
    KestorTest::ForgetCloth();
    ResetCurtainDisplay();
    KestorTest::GLTest::TearDown();
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Scene

namespace {

// A floor slab whose top is z = 0, voxelised by the renderer's own light
// field stage into a field that is moved and scaled (so texel boundaries fall
// on neither the floor nor the origin).
class ClothScene : public ClothGLTest {
 protected:
  void SetUp() override {
    ClothGLTest::SetUp();
    Draw::Initialize();
    Shutter::Width(32.0f);
    Shutter::Height(32.0f);
    ScreenResolution->value = glm::vec2(32.0f, 32.0f);
    FlyCamSystem::pause = false;
    field = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(field);
    ComponentHandler<LightField>::Gimmoo(field);
    ComponentHandler<LightField>::Get(field)->Resolution = glm::vec3(16.0f, 16.0f, 8.0f);
    Transform* t = ComponentHandler<Transform>::Get(field);
    t->Scale = glm::vec3(6.0f, 6.0f, 3.0f);
    t->World = t->WorldPast = glm::translate(glm::mat4(1.0f), glm::vec3(1.0f, -2.0f, 1.4f)) * glm::scale(glm::mat4(1.0f), t->Scale);
    t->WorldInverse = t->WorldInversePast = glm::inverse(t->World);
    RenderSystem::LitThings = {field};
    RenderSystem::CameraThings.clear();
  }
  void TearDown() override {
    DrawSystem::ClearCache();
    RenderSystem::LitThings.clear();
    ClothGLTest::TearDown();
  }
  Thing field;
};

}  // namespace

TEST_F(ClothScene, SceneParticlesSitOnTheVoxelisedFloor) {
  Resource<Mesh> cube = Resources<Mesh>::Get("Cube");
  Resource<Material> material = Resources<Material>::Get("Paving");
  ASSERT_TRUE(cube && material);
  // x -2 .. 4, y -5 .. 1, z -0.2 .. 0.
  const glm::mat4 floor = glm::translate(glm::mat4(1.0f), glm::vec3(1.0f, -2.0f, -0.1f)) *
                          glm::scale(glm::mat4(1.0f), glm::vec3(6.0f, 6.0f, 0.2f));
  for (int frame = 0; frame < 3; ++frame) {
    DrawSystem::ClearCache();
    DrawSystem::QueueDraw(cube, -1, floor, floor, material, {}, true, true);
    RenderSystem::RenderFrame(nullptr);
  }
  LightField* l = ComponentHandler<LightField>::Get(field);
  ASSERT_NE(l->SkipVolume, nullptr);
  CreateCollisionStructureFromVoxels(l->SkipVolume, ComponentHandler<Transform>::Get(field)->World);

  const ParticleArrays& P = Particles();
  ASSERT_GT(P.Count, 100u);
  const float voxel = 6.0f / 16.0f;  // 12 m over 32 texels, each way
  glm::vec3 low(1e9f), high(-1e9f);
  for (std::uint32_t i = P.SimulatedCount; i < P.Count; ++i) {
    EXPECT_LT(std::fabs(P.Position[i].z), voxel) << i;
    EXPECT_EQ(P.InverseMass[i], 0.0f);
    low = glm::min(low, P.Position[i]);
    high = glm::max(high, P.Position[i]);
  }
  // The floor's extent, at the floor's place, give or take a voxel.
  EXPECT_NEAR(low.x, -2.0f, voxel);
  EXPECT_NEAR(high.x, 4.0f, voxel);
  EXPECT_NEAR(low.y, -5.0f, voxel);
  EXPECT_NEAR(high.y, 1.0f, voxel);
}

TEST_F(ClothScene, TheCurtainIsVoxelisedIntoTheLightField) {
  Uint8 keys[SDL_NUM_SCANCODES] = {};
  keys[SDL_SCANCODE_C] = 1;
  ClothFrame(keys, 1.0f, glm::vec3(0.0f, 0.0f, 20.0f), nullptr, glm::mat4(1.0f));
  ASSERT_EQ(Particles().Count, 1 + CurtainParticles);
  DrawSystem::ClearCache();
  RenderSystem::RenderFrame(nullptr);

  // Occupancy at twice the field's resolution, where the middle of the
  // curtain hangs.
  Texbit* skip = ComponentHandler<LightField>::Get(field)->SkipVolume;
  ASSERT_NE(skip, nullptr);
  std::vector<float> texels(static_cast<std::size_t>(skip->Width) * skip->Height * skip->Depth);
  glActiveTexture(Texbit::GetBindEnum(skip->CurrentBind));
  glBindTexture(GL_TEXTURE_3D, skip->ID);
  glGetTexImage(GL_TEXTURE_3D, 0, GL_RED, GL_FLOAT, texels.data());
  const glm::vec3 middle = Particles().Position[Top(Strands / 2) + StrandParticles / 2];
  const glm::vec3 local(glm::inverse(ComponentHandler<Transform>::Get(field)->World) * glm::vec4(middle, 1.0f));
  const glm::ivec3 t((local * 0.5f + 0.5f) * glm::vec3(skip->Width, skip->Height, skip->Depth));
  EXPECT_GT(texels[t.x + static_cast<std::size_t>(skip->Width) * (t.y + static_cast<std::size_t>(skip->Height) * t.z)],
            0.0f);
}

namespace {

class ClothFrames : public ClothGLTest {
 protected:
  void Press(std::initializer_list<int> scancodes) {
    std::fill(std::begin(keys), std::end(keys), 0);
    for (int s : scancodes) keys[s] = 1;
  }
  // Frames of one fixed step each.
  void Run(int frames = 1) {
    for (int f = 0; f < frames; ++f) {
      now += FixedStep * 1.0001f;
      ClothFrame(keys, now, camera, nullptr, glm::mat4(1.0f));
    }
  }

  Uint8 keys[SDL_NUM_SCANCODES] = {};
  glm::vec3 camera{0.0f, 0.0f, 1.5f};
  float now = 10.0f;
};

}  // namespace

TEST_F(ClothFrames, HotkeysCreateDetachBreakAndDelete) {
  Run();  // nothing held, nothing there
  Press({SDL_SCANCODE_Y, SDL_SCANCODE_B, SDL_SCANCODE_I});
  Run();  // nothing to detach, break or delete yet
  EXPECT_EQ(Particles().Count, 0u);

  Press({SDL_SCANCODE_C});
  Run();
  ParticleArrays& P = Particles();
  ASSERT_EQ(P.Count, 1 + CurtainParticles);
  EXPECT_EQ(Cloth().constraints.size(), 6336u);
  EXPECT_EQ(P.Position[0], camera);
  Run(3);  // held again with a curtain present: no second curtain
  EXPECT_EQ(P.Count, 1 + CurtainParticles);

  Press({SDL_SCANCODE_Y});
  Run();
  for (int k = 0; k < Strands; ++k) EXPECT_EQ(P.InverseMass[Top(k)], CurtainInverseMass);
  EXPECT_EQ(P.InverseMass[0], 0.0f);

  Press({SDL_SCANCODE_B});
  Run();
  EXPECT_TRUE(Cloth().constraints.empty());
  const float before = P.Position[Top(10) + 40].z;
  Press({});
  Run(30);
  EXPECT_LT(P.Position[Top(10) + 40].z, before);

  // Delete and create together make a fresh curtain, damped from the start.
  Press({SDL_SCANCODE_I, SDL_SCANCODE_C});
  Run();
  EXPECT_EQ(P.Count, 1 + CurtainParticles);
  EXPECT_LE(Cloth().simsteps, 1);
  Press({SDL_SCANCODE_I});
  Run();
  EXPECT_EQ(P.Count, 0u);
  EXPECT_TRUE(Cloth().constraints.empty());
}

TEST_F(ClothFrames, DisplayMeshIsATwoSidedSurfaceThatTearsWithTheCurtain) {
  Press({SDL_SCANCODE_C});
  Run();
  Press({});
  Run(30);
  Resource<Mesh>& display = ParticlesDisplay();
  ASSERT_TRUE(display);
  EXPECT_EQ(display.Name(), "particlesDisplay");
  ASSERT_EQ(display->Vertices.size(), 3u * CurtainParticles);
  ASSERT_EQ(display->Normals.size(), 3u * CurtainParticles);
  EXPECT_EQ(display->Faces.size(), 6u * (Strands - 1) * (StrandParticles - 1));
  EXPECT_NE(display->Topology, 0);
  // Unit normals, all on the side of the street the demo's camera starts on.
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    const glm::vec3 n(display->Normals[3 * v], display->Normals[3 * v + 1], display->Normals[3 * v + 2]);
    EXPECT_NEAR(glm::length(n), 1.0f, 1e-4f) << v;
    EXPECT_LT(n.y, 0.0f) << v;
  }

  // Broken and scattered, stretched triangles are dropped.
  Press({SDL_SCANCODE_Y, SDL_SCANCODE_B});
  Run();
  Press({});
  Cloth().simsteps = 0;
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    Particles().Velocity[1 + v] += glm::vec3(std::sin(v * 1.7f), std::cos(v * 2.3f), 0.0f) * 3.0f;
  }
  Cloth().simsteps = DampedSteps;
  Run(20);
  EXPECT_LT(display->Faces.size(), 6u * (Strands - 1) * (StrandParticles - 1) / 2);
  const auto& vertices = display->Vertices;
  auto at = [&](std::uint32_t v) { return glm::vec3(vertices[3 * v], vertices[3 * v + 1], vertices[3 * v + 2]); };
  for (std::size_t f = 0; f < display->Faces.size(); f += 3) {
    for (int e = 0; e < 3; ++e) {
      const float edge = glm::length(at(display->Faces[f + e]) - at(display->Faces[f + (e + 1) % 3]));
      EXPECT_LE(edge, TearStretch * Spacing * 1.4143f);
    }
  }
}

TEST_F(ClothFrames, MotionVectorsFollowTheCurtainFromWhereTheLastFrameShowedIt) {
  Press({SDL_SCANCODE_C});
  Run();
  Press({});
  Run(2);
  // Moved bodily between two frames, with steps that leave it there.
  ParticleArrays& P = Particles();
  const glm::vec3 shift(0.2f, 0.0f, 0.0f);
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    P.Position[1 + v] += shift;
    Cloth().stepStart[v] += shift;
  }
  UpdateParticlesDisplay(1.0f);

  // The curtain seen head on through an orthographic 8 x 8 m window.
  RenderTexture* normals = RenderTextureGuy::GrabTex(16, 16, TextureFormats::RGB10A2);
  RenderTexture* motion = RenderTextureGuy::GrabTex(16, 16, TextureFormats::RG16F);
  RenderTextureGuy::UseTexs({normals, motion});
  SaneGL::ClearColor(glm::vec4(0.0f));
  SaneGL::Clear(GL_COLOR_BUFFER_BIT);
  SaneGL::CullFace(SaneGL::FaceSide::None);
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  const glm::mat4 view = glm::ortho(-4.0f, 4.0f, -2.0f, 6.0f, -20.0f, 20.0f) *
                         glm::lookAt(glm::vec3(0.0f, -10.0f, 0.0f), glm::vec3(0.0f), glm::vec3(0.0f, 0.0f, 1.0f));
  UniformBuffer uniforms;
  uniforms.SetMatrix4("_WorldToView", view);
  uniforms.SetMatrix4("_WorldToView_Past", view);
  uniforms.SetVector("_CameraPos", glm::vec3(0.0f, -10.0f, 0.0f));
  uniforms.CalculateHash();
  std::vector<UniformBuffer*> list = {&uniforms};
  Resource<Shader> shader = Resources<Shader>::Get("ParticlesRender");
  ASSERT_TRUE(shader);
  shader->Use("Deferred", &list);
  Draw::DrawMesh(ParticlesDisplay(), glm::mat4(1.0f), -1);
  RenderTextureGuy::UseTexDone();
  std::vector<float> texels(16 * 16 * 2);
  glActiveTexture(Texbit::GetBindEnum(motion->CurrentBind));
  glBindTexture(GL_TEXTURE_2D, motion->ID);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RG, GL_FLOAT, texels.data());
  const float* pixel = &texels[2 * (8 + 16 * 8)];
  RenderTextureGuy::Done(normals);
  RenderTextureGuy::Done(motion);
  // Half the NDC move: 0.2 m of an 8 m wide window is 0.05 NDC, so 0.025.
  EXPECT_NEAR(pixel[0], 0.025f, 0.002f);
  EXPECT_NEAR(pixel[1], 0.0f, 0.002f);
}
