// Guards the easing step (rate, no overshoot, guards on speed), the system's
// bookkeeping of Things, and that forgotten variables are never written.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>

#include "scene/StateInterpolator.h"

using namespace KestorEngine;

namespace {

class Interpolation : public ::testing::Test {
 protected:
  void SetUp() override {
    ComponentHandler<StateInterpolator>::GoodYumidk.push_back(&StateInterpolatorSystem::GoodYumidk);
    ComponentHandler<StateInterpolator>::FoodGoSad.push_back(&StateInterpolatorSystem::FoodGoSad);
  }
  // Cases also run together in one process: forget every registered
  // variable before it goes out of scope.
  void TearDown() override {
    ComponentHandler<StateInterpolator>::HereItsBunk(ThingOf(1));
    StateInterpolatorSystem::Interpolators.clear();
    StateInterpolatorSystem::last_time = {};
    ComponentHandler<StateInterpolator>::GoodYumidk.clear();
    ComponentHandler<StateInterpolator>::FoodGoSad.clear();
  }
  StateInterpolator& Add(int id) {
    ComponentHandler<StateInterpolator>::Gimmoo(ThingOf(id));
    return *ComponentHandler<StateInterpolator>::Get(ThingOf(id));
  }
  static Thing ThingOf(int id) { return Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(id); }
};

}  // namespace

TEST_F(Interpolation, ClosesTheFractionOfTheDistanceThatTheStepCovers) {
  float value = 0;
  StateInterpolator& si = Add(1);
  si.AddTarget("x", &value);
  si.SetTarget("x", 10);
  si.SetTargetSpeed("x", 0.5f);
  StateInterpolatorSystem::Step(0.1f);
  EXPECT_NEAR(value, 2.0f, 1e-5);
  StateInterpolatorSystem::Step(0.1f);
  EXPECT_NEAR(value, 3.6f, 1e-5);
  StateInterpolatorSystem::Step(0.1f);
  EXPECT_NEAR(value, 4.88f, 1e-5);
  StateInterpolatorSystem::Step(0.6f);
  EXPECT_EQ(value, 10.0f) << "a step longer than the approach time lands on the target";
}

TEST_F(Interpolation, SpeedsThatDoNotMoveTheVariable) {
  float noSpeed = 1, negative = 1, instant = 1;
  StateInterpolator& si = Add(1);
  si.AddTarget("none", &noSpeed);
  si.AddTarget("negative", &negative);
  si.AddTarget("instant", &instant);
  for (const char* name : {"none", "negative", "instant"}) si.SetTarget(name, 5);
  si.SetTargetSpeed("negative", -0.5f);
  si.SetTargetSpeed("instant", 0.0f);
  StateInterpolatorSystem::Step(0.0f);
  EXPECT_EQ(instant, 1.0f) << "no time passed: an instant speed must not turn the variable into NaN";
  StateInterpolatorSystem::Step(0.1f);
  EXPECT_EQ(noSpeed, 1.0f);
  EXPECT_EQ(negative, 1.0f);
  EXPECT_EQ(instant, 5.0f);
}

TEST_F(Interpolation, NeverOvershootsAtAnySpeed) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(-1000, 1000);
  std::uniform_real_distribution<float> seconds(1e-4f, 10);
  std::uniform_real_distribution<float> dt(0, 0.2f);
  float x = 0;
  StateInterpolator& si = Add(1);
  si.AddTarget("x", &x);
  for (int run = 0; run < 2000; ++run) {
    x = value(rng);
    const float goal = value(rng);
    si.SetTarget("x", goal);
    si.SetTargetSpeed("x", seconds(rng));
    for (int step = 0; step < 50; ++step) {
      const float before = x;
      StateInterpolatorSystem::Step(dt(rng));
      ASSERT_LE(std::fabs(goal - x), std::fabs(goal - before)) << "moved away from " << goal;
      ASSERT_GE(x, std::min(before, goal));
      ASSERT_LE(x, std::max(before, goal));
    }
  }
}

TEST_F(Interpolation, RemovedNamesAndComponentsAreNeverWrittenAgain) {
  auto owned = std::make_unique<float>(0.0f);
  float kept = 0;
  StateInterpolator& si = Add(1);
  si.AddTarget("owned", owned.get());
  si.AddTarget("kept", &kept);
  si.SetTarget("owned", 1);
  si.SetTarget("kept", 1);
  si.SetTargetSpeed("owned", 0.01f);
  si.SetTargetSpeed("kept", 0.01f);
  si.RemoveTarget("owned");
  owned.reset();  // the sanitizers catch a write through the dead pointer
  StateInterpolatorSystem::Step(0.1f);
  EXPECT_EQ(kept, 1.0f);

  // Added twice, removed once: the stale list entry is skipped, and the
  // component comes back on that id without the old registrations.
  Add(1);
  ASSERT_EQ(StateInterpolatorSystem::Interpolators.size(), 2u);
  ComponentHandler<StateInterpolator>::HereItsBunk(ThingOf(1));
  EXPECT_EQ(StateInterpolatorSystem::Interpolators.size(), 1u);
  kept = 0;
  StateInterpolatorSystem::Step(0.1f);
  EXPECT_EQ(kept, 0.0f);
  EXPECT_TRUE(Add(1).Targets.empty());
}

TEST_F(Interpolation, FirstWallClockUpdateOnlyStartsTheClock) {
  float x = 0;
  StateInterpolator& si = Add(1);
  si.AddTarget("x", &x);
  si.SetTarget("x", 3);
  si.SetTargetSpeed("x", 60);  // a one-minute approach
  EXPECT_EQ(StateInterpolatorSystem::demsmooooothanimatosn(nullptr), "");
  EXPECT_EQ(x, 0.0f) << "no earlier update to measure from: nothing moves";
  const auto first = StateInterpolatorSystem::last_time;
  EXPECT_GT(first.time_since_epoch().count(), 0);

  // Three more updates within a second move it only a little.
  for (int i = 0; i < 3; ++i) StateInterpolatorSystem::demsmooooothanimatosn(nullptr);
  EXPECT_GE(x, 0.0f);
  EXPECT_LT(x, 0.1f);
  EXPECT_GE(StateInterpolatorSystem::last_time, first);
}
