// Curtain invariants at a fixed step: how the curtain is built, what a solver
// sweep moves, that a hanging, detached or broken curtain stays above the
// street and comes to rest, the fixed-step clock and the store's capacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "cloth/Cloth.h"
#include "cloth/FreshCloth.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using namespace ClothConstants;

namespace {

constexpr std::uint32_t CurtainParticles = Strands * StrandParticles;

bool Finite(const glm::vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

std::uint32_t Top(int strand) { return KestorTest::CurtainTop(strand); }

// The demo's light field (14 x 14 x 6 m about (0, 0, 3)) at the occupancy
// volume's 128 x 128 x 64 texels, with the street's layer occupied: texel
// z = 16 spans 0 .. 0.1875 m, where the voxeliser files a surface at z = 0.
const glm::mat4 StreetField = glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, 3.0f)) *
                              glm::scale(glm::mat4(1.0f), glm::vec3(14.0f, 14.0f, 6.0f));
const glm::ivec3 StreetTexels(128, 128, 64);

void MakeCurtainOverStreet() {
  AddParticle(glm::vec3(0.0f, 0.0f, 50.0f), CameraRadius, 0.0f);  // out of the way
  AddCloth();
  std::vector<float> texels(static_cast<std::size_t>(StreetTexels.x) * StreetTexels.y * StreetTexels.z, 0.0f);
  for (std::size_t xy = 0; xy < static_cast<std::size_t>(StreetTexels.x) * StreetTexels.y; ++xy) {
    texels[xy + static_cast<std::size_t>(StreetTexels.x) * StreetTexels.y * 16] = 1.0f;
  }
  CreateCollisionStructureFromTexels(texels.data(), StreetTexels, StreetField);
}

void Steps(int n) {
  const glm::vec3 camera = Particles().Position[0];
  for (int s = 0; s < n; ++s) StepCloth(camera, camera);
}

float KineticEnergy() {
  const ParticleArrays& P = Particles();
  float e = 0.0f;
  for (std::uint32_t i = 0; i < P.SimulatedCount; ++i) {
    if (P.InverseMass[i] > 0.0f) e += 0.5f / P.InverseMass[i] * glm::dot(P.Velocity[i], P.Velocity[i]);
  }
  return e;
}

struct Bounds {
  glm::vec3 Low{1e9f}, High{-1e9f};
};
Bounds CurtainBounds() {
  Bounds b;
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    const glm::vec3 p = Particles().Position[Cloth().curtainFirst + v];
    b.Low = glm::min(b.Low, p);
    b.High = glm::max(b.High, p);
  }
  return b;
}

class FreshCloth : public ::testing::Test {
 protected:
  void SetUp() override { KestorTest::ForgetCloth(); }
  void TearDown() override { KestorTest::ForgetCloth(); }
};

class ClothBuild : public FreshCloth {};
class ClothCapacity : public FreshCloth {};
class ClothClock : public FreshCloth {};
class ClothSolver : public FreshCloth {};
class ClothStreet : public FreshCloth {};

}  // namespace

// ---------------------------------------------------------------------------
// Building

TEST_F(ClothBuild, StorageIsMadeOnlyWhenTheFirstParticleIsAdded) {
  EXPECT_TRUE(Particles().Position.empty());
  EXPECT_EQ(AddParticle(glm::vec3(1.0f), 0.1f, 1.0f), 0u);
  EXPECT_EQ(Particles().Position.size(), ParticleArrays::Capacity);
}

TEST_F(ClothBuild, CurtainHangsInPleatsWithItsLinksAtRest) {
  AddParticle(glm::vec3(0.0f), CameraRadius, 0.0f);
  AddCloth();
  const ParticleArrays& P = Particles();
  ASSERT_EQ(P.Count, 1 + CurtainParticles);
  ASSERT_EQ(Cloth().constraints.size(), 3200u + 3136u);
  for (const DistanceConstraint& c : Cloth().constraints) {
    EXPECT_NEAR(c.RestLength, Spacing, 3e-4f);
    EXPECT_GT(c.RestLength, 2.0f * CurtainRadius);
    const std::uint32_t step = c.B - c.A;
    EXPECT_TRUE(step == 1 || step == StrandParticles) << c.A << "-" << c.B;
    // Strand tops hang from their own strand only.
    EXPECT_FALSE((c.A - 1) % StrandParticles == 0 && (c.B - 1) % StrandParticles == 0) << c.A << "-" << c.B;
  }
  for (std::uint32_t i = 1; i < P.Count; ++i) {
    EXPECT_EQ(P.InverseMass[i], (i - 1) % StrandParticles == 0 ? 0.0f : CurtainInverseMass) << i;
  }
  // Gathered along the rail: narrower than the fabric, and in and out of it.
  float yLow = 1e9f, yHigh = -1e9f;
  for (int k = 0; k < Strands; ++k) {
    EXPECT_EQ(P.Position[Top(k)].z, RailHeight);
    yLow = std::min(yLow, P.Position[Top(k)].y);
    yHigh = std::max(yHigh, P.Position[Top(k)].y);
  }
  EXPECT_GT(yHigh - yLow, PleatDepth);
  const float width = P.Position[Top(0)].x - P.Position[Top(Strands - 1)].x;
  EXPECT_LT(width, 0.95f * Spacing * (Strands - 1));
  EXPECT_NEAR((P.Position[Top(0)].x + P.Position[Top(Strands - 1)].x) * 0.5f, RailCentreX, 0.05f);
}

// ---------------------------------------------------------------------------
// Solver

TEST_F(ClothSolver, ASweepMovesEachEndByItsShare) {
  struct Case {
    const char* what;
    float distance, wa, wb, stiffness, rest;
    bool pushOnly;
    float a, b;  // x of the ends after one sweep
  };
  const Case cases[] = {
      {"equal masses share the correction", 0.1f, 0.5f, 0.5f, 1.0f, 0.05f, false, 0.025f, 0.075f},
      {"a pinned end stays", 0.1f, 0.0f, 0.5f, 1.0f, 0.05f, false, 0.0f, 0.05f},
      {"half stiffness goes half way first", 0.1f, 0.5f, 0.5f, 0.5f, 0.05f, false, 0.0125f, 0.0875f},
      {"stiffness above 1 acts as 1", 0.1f, 0.5f, 0.5f, 1.5f, 0.05f, false, 0.025f, 0.075f},
      {"two pinned ends are skipped", 0.1f, 0.0f, 0.0f, 1.0f, 0.05f, false, 0.0f, 0.1f},
      {"a collision pushes apart", 0.03f, 0.5f, 0.5f, 1.0f, 0.05f, true, -0.01f, 0.04f},
      {"a collision never pulls", 0.08f, 0.5f, 0.5f, 1.0f, 0.05f, true, 0.0f, 0.08f},
      {"coincident ends are left alone", 0.0f, 0.5f, 0.5f, 1.0f, 0.05f, false, 0.0f, 0.0f},
  };
  for (const Case& c : cases) {
    ResetParticles();
    const std::uint32_t a = AddParticle(glm::vec3(0.0f), CurtainRadius, c.wa);
    const std::uint32_t b = AddParticle(glm::vec3(c.distance, 0.0f, 0.0f), CurtainRadius, c.wb);
    for (std::uint32_t i : {a, b}) Particles().Velocity[i] = Particles().Position[i];
    std::vector<DistanceConstraint> list{{a, b, c.stiffness, c.rest}};
    SolveConstraints(&list, 0, c.pushOnly);
    EXPECT_NEAR(Particles().Velocity[a].x, c.a, 1e-6f) << c.what;
    EXPECT_NEAR(Particles().Velocity[b].x, c.b, 1e-6f) << c.what;
    EXPECT_TRUE(Finite(Particles().Velocity[a]) && Finite(Particles().Velocity[b])) << c.what;
  }
}

TEST_F(ClothSolver, FreshCurtainCarriesDampedVelocitiesAndAZeroStepDoesNothing) {
  const std::uint32_t i = AddParticle(glm::vec3(0.0f), CurtainRadius, 0.5f);
  CreateCollisionStructureFromTexels(nullptr, glm::ivec3(0), glm::mat4(1.0f));
  const float h = 0.01f;
  // v = w g h = -0.04905, moved v h; the carried velocity is that over 6.
  Simulate(h);
  EXPECT_NEAR(Particles().Position[i].z, -0.0004905f, 1e-7f);
  EXPECT_NEAR(Particles().Velocity[i].z, -0.0004905f / DampedDivisor, 1e-8f);

  Particles().Position[i] = glm::vec3(0.0f);
  Particles().Velocity[i] = glm::vec3(0.0f);
  Cloth().simsteps = DampedSteps;
  Simulate(h);
  EXPECT_NEAR(Particles().Velocity[i].z, -0.04905f, 1e-6f);

  const glm::vec3 before = Particles().Position[i];
  Simulate(0.0f);
  EXPECT_EQ(Particles().Position[i], before);
}

TEST_F(ClothSolver, OverlappingParticlesAndTheCameraParticlePushApart) {
  const std::uint32_t camera = AddParticle(glm::vec3(0.0f, 0.0f, 1.0f), CameraRadius, 0.0f);
  const std::uint32_t a = AddParticle(glm::vec3(0.0f), CurtainRadius, 0.5f);
  const std::uint32_t b = AddParticle(glm::vec3(0.03f, 0.0f, 0.0f), CurtainRadius, 0.5f);
  const std::uint32_t c = AddParticle(glm::vec3(0.0f, 0.0f, 0.6f), CurtainRadius, 0.5f);
  CreateCollisionStructureFromTexels(nullptr, glm::ivec3(0), glm::mat4(1.0f));
  Simulate(0.001f);
  const ParticleArrays& P = Particles();
  EXPECT_GE(glm::length(P.Position[b] - P.Position[a]), 2.0f * CurtainRadius - 1e-5f);
  EXPECT_GE(glm::length(P.Position[c] - P.Position[camera]), CameraRadius + CurtainRadius - 1e-5f);
  EXPECT_EQ(P.Position[camera], glm::vec3(0.0f, 0.0f, 1.0f));
}

// ---------------------------------------------------------------------------
// The curtain against the street

TEST_F(ClothStreet, PinsHoldAndTheHangingCurtainStaysAboveTheStreet) {
  MakeCurtainOverStreet();
  std::vector<glm::vec3> tops;
  for (int k = 0; k < Strands; ++k) tops.push_back(Particles().Position[Top(k)]);
  Steps(120);
  for (int k = 0; k < Strands; ++k) EXPECT_EQ(Particles().Position[Top(k)], tops[k]) << k;
  for (const DistanceConstraint& c : Cloth().constraints) {
    EXPECT_NEAR(glm::length(Particles().Position[c.A] - Particles().Position[c.B]), c.RestLength, 0.01f);
  }
  EXPECT_GT(CurtainBounds().Low.z, 0.0f);
}

TEST_F(ClothStreet, DetachedOrBrokenCurtainComesToRestOnTheStreet) {
  for (bool broken : {false, true}) {
    ResetParticles();
    ResetConstraints();
    MakeCurtainOverStreet();
    Steps(30);
    for (int k = 0; k < Strands; ++k) Particles().InverseMass[Top(k)] = CurtainInverseMass;
    if (broken) ResetConstraints();

    // Kinetic energy, highest in each half second: the fall, the landing and
    // a slump of the heap, then it dies away and stays down.
    std::vector<float> peaks;
    float lowest = 1e9f;
    for (int half = 0; half < 10; ++half) {
      float peak = 0.0f;
      for (int s = 0; s < 30; ++s) {
        Steps(1);
        peak = std::max(peak, KineticEnergy());
        lowest = std::min(lowest, CurtainBounds().Low.z);
      }
      peaks.push_back(peak);
    }
    const float highest = *std::max_element(peaks.begin(), peaks.end());
    for (std::size_t k = 6; k < peaks.size(); ++k) {
      EXPECT_LT(peaks[k], 0.01f * highest) << broken << " " << k;
      EXPECT_LE(peaks[k], peaks[k - 1] + 0.001f * highest) << broken << " " << k;
    }

    // On the street (taken at its texel's middle, 0.094 m, plus a particle's
    // radius), never below it, and not flown off.
    const Bounds b = CurtainBounds();
    EXPECT_GT(lowest, 0.0f) << broken;
    EXPECT_NEAR(b.Low.z, 0.094f + CurtainRadius, 0.01f) << broken;
    EXPECT_LT(b.High.z, 0.6f) << broken;
    EXPECT_GT(b.Low.x, -4.0f) << broken;
    EXPECT_LT(b.High.x, 4.0f) << broken;
    EXPECT_GT(b.Low.y, -8.0f) << broken;
    EXPECT_LT(b.High.y, -1.0f) << broken;
    for (std::uint32_t v = 0; v < CurtainParticles; ++v) ASSERT_TRUE(Finite(Particles().Position[1 + v]));
  }
}

// ---------------------------------------------------------------------------
// Fixed steps

TEST_F(ClothClock, FramesRunTheStepsWallTimeOwesUpToACap) {
  EXPECT_EQ(AdvanceClock(100.0f), 0);  // the first frame only starts the clock
  struct Case {
    float frame;
    int steps;
  };
  const Case cases[] = {{1.0f, 60}, {0.25f, 15}, {0.5f, 30}, {60.0f, MaxStepsPerFrame}, {2.0f, 120}};
  float now = 100.0f;
  for (const Case& c : cases) {
    now += c.frame;
    EXPECT_NEAR(AdvanceClock(now), c.steps, 1) << c.frame;
    // Left over is less than a step: a capped frame drops what it could not run.
    EXPECT_LT(Cloth().owed, FixedStep);
  }
  // 60 fps frames average one step each.
  int steps = 0;
  for (int f = 0; f < 600; ++f) steps += AdvanceClock(now += 1.0f / 60.0f);
  EXPECT_NEAR(steps, 600, 2);
}

TEST_F(ClothCapacity, FullStoreRefusesWithALine) {
  AddParticle(glm::vec3(0.0f), 0.1f, 0.0f);
  Particles().Count = ParticleArrays::Capacity - 1;
  KestorTest::CaptureStdout out;
  EXPECT_EQ(AddParticle(glm::vec3(1.0f), 0.1f, 0.0f), ParticleArrays::Capacity - 1);
  EXPECT_EQ(AddParticle(glm::vec3(2.0f), 0.1f, 0.0f), ParticleArrays::Capacity);
  const std::size_t constraints = Cloth().constraints.size();
  AddCloth();
  ResetParticles();
  AddDistanceConstraint(0, 1, 1.0f, false);
  EXPECT_EQ(Cloth().constraints.size(), constraints);
  const std::string text = out.Text();
  EXPECT_NE(text.find("particle not added"), std::string::npos) << text;
  EXPECT_NE(text.find("curtain not added"), std::string::npos) << text;
  EXPECT_NE(text.find("does not exist"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// The frame: hotkeys and the display mesh

