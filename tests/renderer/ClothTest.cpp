// Curtain invariants at a fixed step: how the curtain is built, what the
// solver moves, grid cells, collisions with scene particles, the hotkey
// sequence and the display mesh; plus the faults a careless solver or store
// would have (coincident particles, zero steps, a full store).
#include <gtest/gtest.h>

#include <SDL_scancode.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "render/Mesh.h"
#include "render/Texbit.h"
#include "renderer/Cloth.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

constexpr std::uint32_t CurtainParticles = 50 * 65;
constexpr float FrameTime = 0.016f;

bool Finite(const glm::vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// The camera particle, far from the curtain, then the curtain, simulated
// with no scene particles.
void MakeCurtain() {
  AddParticle(glm::vec3(0.0f, 0.0f, 50.0f), 0.5f, 0.0f);
  AddCloth();
  CreateCollisionStructureFromVoxels(nullptr, glm::mat4(1.0f));
}

void Substeps(int frames) {
  for (int f = 0; f < frames; ++f) {
    for (int k = 0; k < 3; ++k) Simulate(FrameTime / 3.0f);
    Cloth().simsteps += 1;
  }
}

std::uint32_t Top(int strand) { return 1 + 65 * strand; }

}  // namespace

TEST(ClothBuild, StorageIsMadeOnlyWhenTheFirstParticleIsAdded) {
  EXPECT_TRUE(Particles().Position.empty());
  EXPECT_EQ(AddParticle(glm::vec3(1.0f), 0.1f, 1.0f), 0u);
  EXPECT_EQ(Particles().Position.size(), ParticleArrays::Capacity);
  EXPECT_EQ(Particles().Radius.size(), ParticleArrays::Capacity);
}

TEST(ClothBuild, CurtainHasItsParticlesLinksAndPins) {
  AddParticle(glm::vec3(0.0f), 0.5f, 0.0f);
  AddCloth();
  const ParticleArrays& P = Particles();
  ASSERT_EQ(P.Count, 1 + CurtainParticles);
  const auto& constraints = Cloth().constraints;
  ASSERT_EQ(constraints.size(), 3200u + 3136u);

  int along = 0, across = 0;
  for (const DistanceConstraint& c : constraints) {
    EXPECT_NEAR(c.RestLength, 0.0508f, 0.0012f);
    EXPECT_EQ(c.Stiffness, 1.0f);
    const std::uint32_t step = c.B - c.A;
    if (step == 1) ++along;
    if (step == 65) ++across;
    // Strand tops hang from their own strand only.
    EXPECT_FALSE((c.A - 1) % 65 == 0 && (c.B - 1) % 65 == 0) << c.A << "-" << c.B;
  }
  EXPECT_EQ(along, 3200);
  EXPECT_EQ(across, 3136);

  for (std::uint32_t i = 1; i < P.Count; ++i) {
    EXPECT_EQ(P.InverseMass[i], (i - 1) % 65 == 0 ? 0.0f : 0.5f) << i;
    EXPECT_EQ(P.Radius[i], 0.025f);
  }
  EXPECT_NEAR(P.Position[1].x, 1.21f, 1e-5f);
  EXPECT_NEAR(P.Position[1].z, 2.96f, 1e-5f);
  EXPECT_NEAR(P.Position[Top(49)].x, -1.2798f, 1e-3f);
  EXPECT_EQ(P.Position[1].y, -4.5f);
}

TEST(ClothStep, PinnedTopsHoldTheCurtainUnderGravity) {
  MakeCurtain();
  const ParticleArrays& P = Particles();
  ASSERT_EQ(P.SimulatedCount, 1 + CurtainParticles);
  std::vector<glm::vec3> tops;
  for (int k = 0; k < 50; ++k) tops.push_back(P.Position[Top(k)]);

  Substeps(60);
  for (int k = 0; k < 50; ++k) EXPECT_EQ(P.Position[Top(k)], tops[k]);
  for (std::uint32_t i = 0; i < P.Count; ++i) ASSERT_TRUE(Finite(P.Position[i])) << i;
  // Hanging, not falling: links stay close to their rest length.
  for (const DistanceConstraint& c : Cloth().constraints) {
    EXPECT_NEAR(glm::length(P.Position[c.A] - P.Position[c.B]), c.RestLength, 0.01f);
  }
}

TEST(ClothStep, BrokenCurtainFallsAndDetachedCurtainFallsWhole) {
  MakeCurtain();
  ParticleArrays& P = Particles();
  Cloth().simsteps = 20;
  const glm::vec3 middle = P.Position[Top(25) + 30];
  ResetConstraints();
  Substeps(10);
  EXPECT_LT(P.Position[Top(25) + 30].z, middle.z - 0.05f);
  EXPECT_EQ(P.Position[Top(25)].z, 2.96f);  // still pinned

  // Detaching frees the tops but leaves the camera particle pinned.
  for (int k = 0; k < 50; ++k) P.InverseMass[Top(k)] = 0.5f;
  const glm::vec3 camera = P.Position[0];
  Substeps(10);
  EXPECT_LT(P.Position[Top(25)].z, 2.9f);
  EXPECT_EQ(P.Position[0], camera);
}

TEST(ClothStep, FreshCurtainCarriesDampedVelocities) {
  const std::uint32_t i = AddParticle(glm::vec3(0.0f), 0.025f, 0.5f);
  CreateCollisionStructureFromVoxels(nullptr, glm::mat4(1.0f));
  const float h = 0.01f;
  // v = w g h = -0.04905, moved v h; the carried velocity is that over 6.
  Simulate(h);
  EXPECT_NEAR(Particles().Position[i].z, -0.0004905f, 1e-7f);
  EXPECT_NEAR(Particles().Velocity[i].z, -0.0004905f / 6.0f, 1e-8f);

  Particles().Position[i] = glm::vec3(0.0f);
  Particles().Velocity[i] = glm::vec3(0.0f);
  Cloth().simsteps = 20;
  Simulate(h);
  EXPECT_NEAR(Particles().Velocity[i].z, -0.04905f, 1e-6f);
}

TEST(ClothStep, ZeroLengthStepLeavesEverythingFinite) {
  MakeCurtain();
  Cloth().simsteps = 20;
  const glm::vec3 before = Particles().Position[30];
  Simulate(0.0f);
  EXPECT_EQ(Particles().Position[30], before);
  EXPECT_TRUE(Finite(Particles().Velocity[30]));
}

// ---------------------------------------------------------------------------
// Solver

class ClothSolver : public ::testing::Test {
 protected:
  // Two particles along x with predicted positions at their positions.
  void Pair(float distance, float wa, float wb) {
    a = AddParticle(glm::vec3(0.0f), 0.025f, wa);
    b = AddParticle(glm::vec3(distance, 0.0f, 0.0f), 0.025f, wb);
    Particles().Velocity[a] = Particles().Position[a];
    Particles().Velocity[b] = Particles().Position[b];
  }
  float Gap() const { return glm::length(Particles().Velocity[b] - Particles().Velocity[a]); }

  std::uint32_t a = 0, b = 0;
};

TEST_F(ClothSolver, FullStiffnessRestoresTheRestLengthInOneSweep) {
  Pair(0.1f, 0.5f, 0.5f);
  std::vector<DistanceConstraint> list{{a, b, 1.0f, 0.05f}};
  SolveConstraints(&list, 0, false);
  EXPECT_NEAR(Gap(), 0.05f, 1e-6f);
  EXPECT_NEAR(Particles().Velocity[a].x, 0.025f, 1e-6f);  // equal masses share the move

  // A pinned end stays; the free one takes the whole correction.
  Pair(0.1f, 0.0f, 0.5f);
  list = {{a, b, 1.0f, 0.05f}};
  SolveConstraints(&list, 0, false);
  EXPECT_EQ(Particles().Velocity[a].x, 0.0f);
  EXPECT_NEAR(Particles().Velocity[b].x, 0.05f, 1e-6f);
}

TEST_F(ClothSolver, HalfStiffnessMovesHalfWayOnTheFirstIteration) {
  Pair(0.1f, 0.5f, 0.5f);
  std::vector<DistanceConstraint> list{{a, b, 0.5f, 0.05f}};
  SolveConstraints(&list, 0, false);
  EXPECT_NEAR(Gap(), 0.075f, 1e-6f);

  // A stiffness above 1 acts as 1 rather than raising a negative base.
  Pair(0.1f, 0.5f, 0.5f);
  list = {{a, b, 1.5f, 0.05f}};
  SolveConstraints(&list, 0, false);
  EXPECT_NEAR(Gap(), 0.05f, 1e-6f);
}

TEST_F(ClothSolver, TwoPinnedParticlesAreSkipped) {
  Pair(0.1f, 0.0f, 0.0f);
  std::vector<DistanceConstraint> list{{a, b, 1.0f, 0.05f}};
  SolveConstraints(&list, 0, false);
  EXPECT_NEAR(Gap(), 0.1f, 1e-7f);
}

TEST_F(ClothSolver, CollisionsPushApartButNeverPull) {
  Pair(0.03f, 0.5f, 0.5f);
  std::vector<DistanceConstraint> list{{a, b, 1.0f, 0.05f}};
  SolveConstraints(&list, 0, true);
  EXPECT_NEAR(Particles().Velocity[a].x, -0.01f, 1e-6f);
  EXPECT_NEAR(Particles().Velocity[b].x, 0.04f, 1e-6f);

  Pair(0.08f, 0.5f, 0.5f);
  list = {{a, b, 1.0f, 0.05f}};
  SolveConstraints(&list, 0, true);
  EXPECT_NEAR(Gap(), 0.08f, 1e-7f);
}

TEST_F(ClothSolver, CoincidentParticlesDoNotSpreadNaN) {
  Pair(0.0f, 0.5f, 0.5f);
  const std::uint32_t c = AddParticle(glm::vec3(0.1f, 0.0f, 0.0f), 0.025f, 0.5f);
  Particles().Velocity[c] = Particles().Position[c];
  std::vector<DistanceConstraint> list{{a, b, 1.0f, 0.05f}, {b, c, 1.0f, 0.05f}};
  SolveConstraints(&list, 0, false);
  EXPECT_EQ(Particles().Velocity[a], glm::vec3(0.0f));
  EXPECT_TRUE(Finite(Particles().Velocity[b]));
  // The second link still works.
  EXPECT_NEAR(glm::length(Particles().Velocity[c] - Particles().Velocity[b]), 0.05f, 1e-6f);

  // Likewise for a link added between coincident particles.
  AddDistanceConstraint(a, b, 1.0f, false);
  EXPECT_EQ(Cloth().constraints.back().RestLength, 0.0f);
}

// ---------------------------------------------------------------------------
// Grid and collisions

TEST(ClothGrid, KeysAndCellsOfASphereSpanningCells) {
  EXPECT_EQ(CellKey(1, 2, 3), 3002001);
  EXPECT_EQ(CellKey(-1, 0, 0), -1);
  EXPECT_EQ(CellKey(0, -1, 1), 1000000 - 1000);
  // Far cells wrap instead of overflowing.
  EXPECT_EQ(CellKey(0, 0, 3000), static_cast<std::int32_t>(3000000000u));

  // x from 0.165 to 0.215 crosses the boundary at 0.2; y and z stay in one.
  std::vector<std::int32_t> keys;
  CoveredCells(glm::vec3(0.19f, 0.05f, -0.05f), 0.025f, keys);
  EXPECT_EQ(keys, (std::vector<std::int32_t>{CellKey(0, 0, -1), CellKey(1, 0, -1)}));

  // The camera particle covers a 6-cell cube around the origin.
  keys.clear();
  CoveredCells(glm::vec3(0.01f), 0.5f, keys);
  EXPECT_EQ(keys.size(), 6u * 6u * 6u);

  // Nowhere to file a particle that has flown off or gone bad.
  keys.clear();
  CoveredCells(glm::vec3(1e30f, 0.0f, 0.0f), 0.025f, keys);
  CoveredCells(glm::vec3(NAN, 0.0f, 0.0f), 0.025f, keys);
  EXPECT_TRUE(keys.empty());
}

TEST(ClothGrid, StaticParticleHoldsUpAFallingOne) {
  const std::uint32_t falling = AddParticle(glm::vec3(0.0f, 0.0f, 0.3f), 0.025f, 0.5f);
  CreateCollisionStructureFromVoxels(nullptr, glm::mat4(1.0f));
  ASSERT_EQ(Particles().SimulatedCount, 1u);
  // A scene particle behind the simulated ones, filed the way the scene's are.
  const std::uint32_t floor = AddParticle(glm::vec3(0.0f), 0.0338f, 0.0f);
  Particles().Velocity[floor] = Particles().Position[floor];
  std::vector<std::int32_t> keys;
  CoveredCells(Particles().Position[floor], 0.0338f, keys);
  for (std::int32_t key : keys) Cloth().staticcolgrid[key].push_back(floor);

  Cloth().simsteps = 20;
  Substeps(120);
  const glm::vec3 rest = Particles().Position[falling];
  EXPECT_GT(rest.z, 0.0338f + 0.025f - 0.005f);
  EXPECT_LT(rest.z, 0.07f);
  EXPECT_NEAR(rest.x, 0.0f, 1e-5f);
  EXPECT_EQ(Particles().Position[floor], glm::vec3(0.0f));
}

TEST(ClothGrid, SelfCollisionSeparatesOverlappingCurtainParticles) {
  AddParticle(glm::vec3(0.0f, 0.0f, 0.0f), 0.025f, 0.5f);
  AddParticle(glm::vec3(0.03f, 0.0f, 0.0f), 0.025f, 0.5f);
  CreateCollisionStructureFromVoxels(nullptr, glm::mat4(1.0f));
  Simulate(0.001f);
  EXPECT_GE(glm::length(Particles().Position[1] - Particles().Position[0]), 0.05f - 1e-5f);
}

// ---------------------------------------------------------------------------
// A full store

TEST(ClothCapacity, FullStoreRefusesWithALine) {
  AddParticle(glm::vec3(0.0f), 0.1f, 0.0f);
  Particles().Count = ParticleArrays::Capacity - 1;
  KestorTest::CaptureStdout out;
  EXPECT_EQ(AddParticle(glm::vec3(1.0f), 0.1f, 0.0f), ParticleArrays::Capacity - 1);
  EXPECT_EQ(AddParticle(glm::vec3(2.0f), 0.1f, 0.0f), ParticleArrays::Capacity);
  EXPECT_EQ(Particles().Count, ParticleArrays::Capacity);
  const std::size_t constraints = Cloth().constraints.size();
  AddCloth();
  EXPECT_EQ(Cloth().constraints.size(), constraints);
  // Links to particles that do not exist are refused too.
  ResetParticles();
  AddDistanceConstraint(0, 1, 1.0f, false);
  EXPECT_EQ(Cloth().constraints.size(), constraints);
  const std::string text = out.Text();
  EXPECT_NE(text.find("particle not added"), std::string::npos) << text;
  EXPECT_NE(text.find("curtain not added"), std::string::npos) << text;
  EXPECT_NE(text.find("does not exist"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// The frame: hotkeys, scene particles and the display mesh

namespace {

class ClothFrames : public KestorTest::GLTest {
 protected:
  void Press(std::initializer_list<int> scancodes) {
    std::fill(std::begin(keys), std::end(keys), 0);
    for (int s : scancodes) keys[s] = 1;
  }
  void Run(int frames = 1, Texbit* volume = nullptr) {
    for (int f = 0; f < frames; ++f) ClothFrame(keys, FrameTime, camera, volume, fieldToWorld);
  }

  Uint8 keys[SDL_NUM_SCANCODES] = {};
  glm::vec3 camera{0.0f, 0.0f, 1.5f};
  // Scene particles land 10 units up, well clear of the curtain.
  glm::mat4 fieldToWorld = glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, 10.0f)) *
                           glm::scale(glm::mat4(1.0f), glm::vec3(4.0f));
};

}  // namespace

TEST_F(ClothFrames, HotkeysCreateDetachBreakAndDelete) {
  Run();  // nothing held, nothing there
  Press({SDL_SCANCODE_Y, SDL_SCANCODE_B, SDL_SCANCODE_I});
  Run();  // nothing to detach, break or delete yet
  EXPECT_EQ(Particles().Count, 0u);
  EXPECT_TRUE(Particles().Position.empty());

  Press({SDL_SCANCODE_C});
  Run();
  ParticleArrays& P = Particles();
  ASSERT_EQ(P.Count, 1 + CurtainParticles);
  EXPECT_EQ(P.SimulatedCount, P.Count);
  EXPECT_EQ(Cloth().constraints.size(), 6336u);
  EXPECT_EQ(Cloth().simsteps, 1);
  EXPECT_EQ(P.Position[0], camera);  // the camera particle arrives at the camera
  EXPECT_EQ(P.InverseMass[0], 0.0f);

  // Held again with a curtain present: no second curtain.
  Run(3);
  EXPECT_EQ(P.Count, 1 + CurtainParticles);
  EXPECT_EQ(Cloth().simsteps, 4);

  Press({SDL_SCANCODE_Y});
  Run();
  for (int k = 0; k < 50; ++k) EXPECT_EQ(P.InverseMass[Top(k)], 0.5f);
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
  EXPECT_EQ(P.Count, 1 + CurtainParticles);  // deleted, then made again
  EXPECT_EQ(Cloth().simsteps, 1);
  Press({SDL_SCANCODE_I});
  Run();
  EXPECT_EQ(P.Count, 0u);
  EXPECT_TRUE(Cloth().constraints.empty());
  EXPECT_EQ(P.SimulatedCount, 1 + CurtainParticles);
}

TEST_F(ClothFrames, SceneParticlesComeFromTheVolumeOnceAndOutliveTheCurtain) {
  // 4 x 4 x 2 texels, three of them occupied.
  std::vector<float> texels(4 * 4 * 2, 0.0f);
  auto at = [](int x, int y, int z) { return x + 4 * y + 16 * z; };
  texels[at(0, 0, 0)] = 1.0f;
  texels[at(3, 1, 1)] = 0.5f;
  texels[at(2, 3, 0)] = 0.01f;
  Texbit volume(4, 4, 2, TextureFormats::R32F);
  volume.Mipmaps = false;
  volume.Data = reinterpret_cast<unsigned char*>(texels.data());

  Press({SDL_SCANCODE_C});
  Run(1, &volume);
  ParticleArrays& P = Particles();
  const std::uint32_t simulated = 1 + CurtainParticles;
  ASSERT_EQ(P.Count, simulated + 3);
  // Outer loop x, then y, then z.
  const glm::vec3 expected[] = {
      glm::vec3(fieldToWorld * glm::vec4(-0.5f, -0.5f, -0.5f, 1.0f)),
      glm::vec3(fieldToWorld * glm::vec4(0.0f, 0.25f, -0.5f, 1.0f)),
      glm::vec3(fieldToWorld * glm::vec4(0.25f, -0.25f, 0.0f, 1.0f)),
  };
  for (int n = 0; n < 3; ++n) {
    EXPECT_NEAR(glm::length(P.Position[simulated + n] - expected[n]), 0.0f, 1e-5f) << n;
    EXPECT_EQ(P.Radius[simulated + n], 0.0338f);
    EXPECT_EQ(P.InverseMass[simulated + n], 0.0f);
  }
  const std::size_t cells = Cloth().staticcolgrid.size();
  EXPECT_GT(cells, 0u);

  // Delete, then create from an empty volume: the first scene particles stay.
  Press({SDL_SCANCODE_I});
  Run();
  std::fill(texels.begin(), texels.end(), 0.0f);
  volume.ToGPUForce();
  Press({SDL_SCANCODE_C});
  Run(1, &volume);
  EXPECT_EQ(P.Count, simulated);
  EXPECT_EQ(P.SimulatedCount, simulated);
  EXPECT_EQ(Cloth().staticcolgrid.size(), cells);
  EXPECT_NEAR(glm::length(P.Position[simulated] - expected[0]), 0.0f, 1e-5f);
  volume.Data = nullptr;
}

TEST_F(ClothFrames, DisplayMeshShowsEverySimulatedParticleAsAPoint) {
  Press({SDL_SCANCODE_C});
  Run(2);
  Resource<Mesh>& display = ParticlesDisplay();
  ASSERT_TRUE(display);
  EXPECT_EQ(display.Name(), "particlesDisplay");
  const ParticleArrays& P = Particles();
  const std::uint32_t n = P.SimulatedCount;
  ASSERT_EQ(display->Vertices.size(), 3u * n);
  ASSERT_EQ(display->Normals.size(), 3u * n);
  ASSERT_EQ(display->Faces.size(), n);
  EXPECT_EQ(display->Topology, 0);
  EXPECT_TRUE(display->HasNormals);
  for (std::uint32_t i : {0u, 1u, 100u, n - 1}) {
    const glm::vec3 before = P.Position[i] - P.Velocity[i] * FrameTime;
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(display->Vertices[3 * i + c], P.Position[i][c]);
      EXPECT_FLOAT_EQ(display->Normals[3 * i + c], before[c]);
    }
    EXPECT_EQ(display->Faces[i], i);
  }
  EXPECT_GT(display->BoundsMax.z, display->BoundsMin.z);  // uploaded
}
