// Guards the ray queries: the slab test against brute-force sampling of the
// ray (parallel rays, starts inside or on the surface, boxes behind the
// origin), inputs that must never give a false hit, the nearest hit among
// colliders and the far limit, and boxes that follow moved transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtx/string_cast.hpp>
#include <limits>
#include <memory>
#include <random>

#include "engine/Engine.h"
#include "render/Mesh.h"
#include "scene/Physics.h"
#include "scene/Transform.h"
#include "support/EngineStatics.h"

using namespace KestorEngine;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

bool Inside(glm::vec3 p, glm::vec3 lo, glm::vec3 hi, float margin) {
  return glm::all(glm::lessThanEqual(lo - margin, p)) && glm::all(glm::lessThanEqual(p, hi + margin));
}

// Walks the ray in small steps and reports the first step whose point lies
// inside the box grown by `margin` (negative shrinks it), or -1.
float FirstSampleInside(const Ray& ray, glm::vec3 lo, glm::vec3 hi, float margin, float step, int steps) {
  for (int i = 0; i <= steps; ++i) {
    float s = i * step;
    if (Inside(ray.Origin + s * ray.Direction, lo, hi, margin)) return s;
  }
  return -1.0f;
}

glm::vec3 At(const Ray& ray, float t) { return ray.Origin + t * ray.Direction; }

}  // namespace

TEST(IntersectCoarse, AgreesWithSamplingTheRay) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> coord(-6, 6);
  std::uniform_real_distribution<float> size(0.2f, 4);
  std::uniform_real_distribution<float> unit(-1, 1);
  std::uniform_real_distribution<float> length(0.1f, 5);
  std::bernoulli_distribution flat(0.25);    // a direction component of 0: parallel to that slab
  std::bernoulli_distribution inside(0.2);  // start somewhere inside the box
  int hits = 0, insideStarts = 0, parallel = 0, behind = 0;

  for (int n = 0; n < 1500; ++n) {
    glm::vec3 lo(coord(rng), coord(rng), coord(rng));
    glm::vec3 hi = lo + glm::vec3(size(rng), size(rng), size(rng));
    Ray ray;
    ray.Origin = glm::vec3(coord(rng), coord(rng), coord(rng)) * 2.0f;
    if (inside(rng)) {
      std::uniform_real_distribution<float> w(0.05f, 0.95f);
      ray.Origin = lo + (hi - lo) * glm::vec3(w(rng), w(rng), w(rng));
    }
    glm::vec3 d(unit(rng), unit(rng), unit(rng));
    for (int axis = 0; axis < 3; ++axis) {
      if (flat(rng)) d[axis] = 0;
    }
    if (glm::length(d) < 1e-3f) d = glm::vec3(0, 0, 1);
    // Directions are not normalised: distances are in units of the length.
    ray.Direction = glm::normalize(d) * length(rng);
    parallel += (d.x == 0 || d.y == 0 || d.z == 0);

    float t = 0;
    bool hit = Physics::IntersectCoarse(ray, lo, hi, &t);
    const float reach = 60.0f / glm::length(ray.Direction);
    const int steps = 12000;
    const float step = reach / steps;
    // Firmly inside: the ray must hit. Touching the closed box: the entry lies
    // within a step before. Near-parallel components stretch rounding in t.
    float firm = FirstSampleInside(ray, lo, hi, -1e-3f, step, steps);
    float touch = FirstSampleInside(ray, lo, hi, 0.0f, step, steps);
    float slowest = 1.0f;
    for (int axis = 0; axis < 3; ++axis) {
      if (ray.Direction[axis] != 0) slowest = std::min(slowest, std::fabs(ray.Direction[axis]));
    }
    const float roundingT = 1e-4f / slowest;
    bool startsInside = glm::all(glm::lessThan(lo, ray.Origin)) && glm::all(glm::lessThan(ray.Origin, hi));
    SCOPED_TRACE(::testing::Message() << "case " << n << " box " << glm::to_string(lo) << " " << glm::to_string(hi)
                                      << " ray " << glm::to_string(ray.Origin) << " " << glm::to_string(ray.Direction));

    if (firm >= 0) {
      ASSERT_TRUE(hit) << "the ray passes through the box";
    }
    if (!hit) {
      if (t < 0 && t != -1.0f) ++behind;
      continue;
    }
    ++hits;
    ASSERT_GE(t, 0.0f) << "never a hit behind the origin";
    const float tolerance = 1e-3f * std::max(1.0f, t * glm::length(ray.Direction));
    ASSERT_TRUE(Inside(At(ray, t), lo, hi, tolerance)) << "the reported point lies on the box; t = " << t;
    if (startsInside) {
      ++insideStarts;
      // From inside, the distance is the exit: just beyond it lies outside.
      ASSERT_FALSE(Inside(At(ray, t * 1.001f + 1e-4f), lo, hi, 0.0f)) << "t = " << t;
    } else if (touch >= 0) {
      ASSERT_LE(t, touch + roundingT) << "the entry comes no later than the first point on the box";
      ASSERT_GE(t, touch - 2 * step - roundingT) << "nor a step earlier";
    }
  }
  // The random cases must actually cover what this test is about.
  EXPECT_GT(hits, 200);
  EXPECT_GT(insideStarts, 100);
  EXPECT_GT(parallel, 500);
  EXPECT_GT(behind, 100);
}

TEST(IntersectCoarse, StartsInsideBehindAndOnTheSurface) {
  const glm::vec3 lo(-1), hi(1);
  float t = 0;
  // Inside: the exit plane, whatever lies behind.
  EXPECT_TRUE(Physics::IntersectCoarse({{0, 0, 0.5f}, {0, 0, 2}}, lo, hi, &t));
  EXPECT_FLOAT_EQ(t, 0.25f);
  // Behind: both slab intervals negative; t is the last exit, negative.
  EXPECT_FALSE(Physics::IntersectCoarse({{0, 0, 5}, {0, 0, 1}}, lo, hi, &t));
  EXPECT_FLOAT_EQ(t, -4.0f);
  // On a face, leaving or entering: touches where it starts.
  EXPECT_TRUE(Physics::IntersectCoarse({{0, 0, 1}, {0, 0, 1}}, lo, hi, &t));
  EXPECT_EQ(t, 0.0f);
  EXPECT_TRUE(Physics::IntersectCoarse({{0, 0, 1}, {0, 0, -1}}, lo, hi, &t));
  EXPECT_EQ(t, 0.0f);
  // From outside: the entry face.
  EXPECT_TRUE(Physics::IntersectCoarse({{0, 0, 5}, {0, 0, -2}}, lo, hi, &t));
  EXPECT_FLOAT_EQ(t, 2.0f);
}

TEST(IntersectCoarse, ParallelRaysHitOnlyBetweenThePlanes) {
  const glm::vec3 lo(-1), hi(1);
  float t = 0;
  EXPECT_TRUE(Physics::IntersectCoarse({{0.5f, 0.5f, 5}, {0, 0, -1}}, lo, hi, &t));
  EXPECT_FLOAT_EQ(t, 4.0f);
  EXPECT_FALSE(Physics::IntersectCoarse({{1.5f, 0.5f, 5}, {0, 0, -1}}, lo, hi, &t));
  EXPECT_FALSE(Physics::IntersectCoarse({{0.5f, -1.01f, 5}, {-0.0f, 0, -1}}, lo, hi, &t));
  // An origin on a slab plane makes the plain slab formula compute 0 * inf.
  EXPECT_TRUE(Physics::IntersectCoarse({{1, 0, 5}, {0, 0, -1}}, lo, hi, &t));
  EXPECT_FLOAT_EQ(t, 4.0f);
  EXPECT_FALSE(Physics::IntersectCoarse({{1, 0, 5}, {0, 0, 1}}, lo, hi, &t));
  EXPECT_FALSE(std::isnan(t));
  // Subnormal direction components have an infinite reciprocal.
  EXPECT_TRUE(Physics::IntersectCoarse({{1, 0, 5}, {-1e-42f, 0, -1}}, lo, hi, &t));
  EXPECT_FLOAT_EQ(t, 4.0f);
}

TEST(IntersectCoarse, DegenerateInputsNeverHit) {
  const glm::vec3 lo(-1), hi(1);
  const Ray through{{0, 0, 5}, {0, 0, -1}};
  float t = 0;
  EXPECT_FALSE(Physics::IntersectCoarse(through, glm::vec3(0), glm::vec3(0), &t)) << "a never-refitted collider";
  EXPECT_FALSE(Physics::IntersectCoarse(through, hi, lo, &t)) << "an inverted box";
  EXPECT_FALSE(Physics::IntersectCoarse({{0, 0, 0}, {0, 0, 0}}, lo, hi, &t)) << "no direction, even from inside";
  EXPECT_FALSE(Physics::IntersectCoarse({{NaN, 0, 5}, {0, 0, -1}}, lo, hi, &t));
  EXPECT_FALSE(Physics::IntersectCoarse({{0, 0, 5}, {0, NaN, -1}}, lo, hi, &t));
  EXPECT_FALSE(Physics::IntersectCoarse(through, glm::vec3(-1, NaN, -1), hi, &t));
  EXPECT_FALSE(Physics::IntersectCoarse(through, lo, glm::vec3(INFINITY), &t));
  EXPECT_EQ(t, -1.0f);
  // A flat box (a quad seen face on) is a target.
  EXPECT_TRUE(Physics::IntersectCoarse(through, glm::vec3(-1, -1, 0), glm::vec3(1, 1, 0), &t));
  EXPECT_FLOAT_EQ(t, 5.0f);
  EXPECT_TRUE(Physics::IntersectCoarse(through, lo, hi, nullptr));
}

namespace {

// Colliders on Things with transforms, refitted from unit-cube meshes.
class Colliders : public ::testing::Test {
 protected:
  void SetUp() override {
    KestorTest::ForgetFollowers<Collider, Transform>();
    PhysicsSystem::CollidableThings.clear();
    TransformSystem::BasicallyEverything.clear();
    KestorTest::Follow<Collider, Transform>(&PhysicsSystem::GoodYumidk, &PhysicsSystem::FoodGoSad);
    TransformSystem::Attach(&engine);
    cube.BoundsMin = glm::vec3(-0.5f);
    cube.BoundsMax = glm::vec3(0.5f);
  }

  Thing Add(glm::vec3 position, Mesh* mesh) {
    Thing t = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(t);
    ComponentHandler<Transform>::Get(t)->Position = position;
    ComponentHandler<Collider>::Gimmoo(t);
    ComponentHandler<Collider>::Get(t)->Mesh = mesh;
    return t;
  }
  void Frame() {
    TransformSystem::MAKETHEMATERIALREALITY(&engine);
    PhysicsSystem::IsRealityTemporallyCoherentEverywhere(&engine);
  }
  static Collider* ColliderOf(Thing t) { return ComponentHandler<Collider>::Get(t); }

  KestorEngineFlyHahaJk engine;
  Mesh cube;
};

}  // namespace

TEST_F(Colliders, NearestHitWinsAndEqualDistancesGoToTheFirstListed) {
  Thing far = Add({0, 0, -10}, &cube);
  Thing nearA = Add({0, 0, -4}, &cube);
  Thing nearB = Add({0, 0, -4}, &cube);
  Add({3, 0, -2}, &cube);  // off the ray
  Frame();

  Collider* hit = nullptr;
  float distance = 0;
  ASSERT_TRUE(PhysicsSystem::Raycast({{0, 0, 0}, {0, 0, -1}}, &hit, &distance));
  EXPECT_EQ(hit, ColliderOf(nearA));
  EXPECT_FLOAT_EQ(distance, 3.5f);

  // Removing the nearer pair's collider leaves the far one, and the list.
  ComponentHandler<Collider>::HereItsBunk(nearA);
  ComponentHandler<Collider>::HereItsBunk(nearB);
  EXPECT_EQ(PhysicsSystem::CollidableThings.size(), 2u);
  ASSERT_TRUE(PhysicsSystem::Raycast({{0, 0, 0}, {0, 0, -1}}, &hit, &distance));
  EXPECT_EQ(hit, ColliderOf(far));
  EXPECT_FLOAT_EQ(distance, 9.5f);

  EXPECT_FALSE(PhysicsSystem::Raycast({{0, 0, 0}, {0, 0, 1}}, &hit, &distance));
  EXPECT_EQ(hit, nullptr);
  EXPECT_EQ(distance, PhysicsSystem::Far);
}

TEST_F(Colliders, HitsAtTheFarLimitOrBeyondAreNotReported) {
  Thing beyond = Add({0, 0, -10000.5f}, &cube);  // front face at exactly 10000
  Frame();
  float t = 0;
  ASSERT_TRUE(Physics::IntersectCoarse({{0, 0, 0}, {0, 0, -1}}, ColliderOf(beyond)->Min, ColliderOf(beyond)->Max, &t));
  Collider* hit = nullptr;
  EXPECT_FALSE(PhysicsSystem::Raycast({{0, 0, 0}, {0, 0, -1}}, &hit, nullptr));
  EXPECT_EQ(hit, nullptr);

  // A longer direction shortens the distance in ray units.
  EXPECT_TRUE(PhysicsSystem::Raycast({{0, 0, 0}, {0, 0, -2}}, &hit, &t));
  EXPECT_FLOAT_EQ(t, 5000.0f);
}

TEST_F(Colliders, BoxesFollowTheirTransformsAfterTheRefit) {
  Thing box = Add({0, 0, -5}, &cube);
  Frame();
  const Ray ray{{0, 0, 0}, {0, 0, -1}};
  ASSERT_TRUE(PhysicsSystem::Raycast(ray, nullptr, nullptr));

  Transform* transform = ComponentHandler<Transform>::Get(box);
  transform->Position = {4, 0, -5};
  EXPECT_TRUE(PhysicsSystem::Raycast(ray, nullptr, nullptr)) << "the box is stale until the next frame";
  Frame();
  EXPECT_FALSE(PhysicsSystem::Raycast(ray, nullptr, nullptr));

  // Turned 45 degrees about Y and scaled: the world box encloses the turned cube.
  transform->Position = {0, 0, -5};
  transform->Scale = glm::vec3(2);
  transform->Rotation = glm::angleAxis(glm::quarter_pi<float>(), glm::vec3(0, 1, 0));
  Frame();
  const float half = std::sqrt(2.0f);
  EXPECT_NEAR(ColliderOf(box)->Min.x, -half, 1e-5f);
  EXPECT_NEAR(ColliderOf(box)->Max.z, -5 + half, 1e-5f);
  EXPECT_NEAR(ColliderOf(box)->Max.y, 1.0f, 1e-5f);
  float distance = 0;
  ASSERT_TRUE(PhysicsSystem::Raycast(ray, nullptr, &distance));
  EXPECT_NEAR(distance, 5 - half, 1e-5f);

  // Beyond the clamp the box keeps the limit on the side it does not reach.
  transform->Rotation = glm::quat(1, 0, 0, 0);
  transform->Scale = glm::vec3(1);
  transform->Position = {20000, 0, 0};
  Frame();
  EXPECT_EQ(ColliderOf(box)->Min.x, PhysicsSystem::Far);
  EXPECT_EQ(ColliderOf(box)->Max.x, 20000.5f);
}

TEST_F(Colliders, CollidersWithoutAMeshOrATransformCannotBeHit) {
  Thing meshless = Add({0, 0, -3}, nullptr);
  ColliderOf(meshless)->Min = glm::vec3(-1, -1, -4);  // a box left from earlier
  ColliderOf(meshless)->Max = glm::vec3(1, 1, -2);
  Thing flat = Add({0, 0, -6}, &cube);
  Mesh empty;  // never uploaded: its bounds are a point
  Add({0, 0, -1}, &empty);
  Frame();
  EXPECT_EQ(ColliderOf(meshless)->Min, glm::vec3(-1, -1, -4)) << "the refit skips it";

  Collider* hit = nullptr;
  ASSERT_TRUE(PhysicsSystem::Raycast({{0, 0, 0}, {0, 0, -1}}, &hit, nullptr));
  EXPECT_EQ(hit, ColliderOf(flat));

  // A listed Thing whose transform vanished without the callbacks running
  // (a component array element reset by hand) is skipped, not read.
  ComponentHandler<Transform>::Components[flat.ID].InUse = false;
  Frame();
  EXPECT_FALSE(PhysicsSystem::Raycast({{0, 0, 0}, {0, 0, -1}}, &hit, nullptr));
}
