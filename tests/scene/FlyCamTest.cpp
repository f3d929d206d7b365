// Guards the fly camera frame by frame with synthetic key state and mouse
// values: the P toggle, pausing, key movement, mouse look without roll, the
// wheel's glide and its decay, Things without a transform, and the stage
// insertion that moves every later system up one place.
#include <SDL.h>
#include <gtest/gtest.h>

#include <glm/gtc/quaternion.hpp>
#include <glm/gtx/string_cast.hpp>

#include "engine/Engine.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/InputSystem.h"
#include "scene/Transform.h"
#include "support/EngineStatics.h"

using namespace KestorEngine;

namespace {

::testing::AssertionResult Near(glm::vec3 a, glm::vec3 b, float tolerance = 1e-5f) {
  if (glm::all(glm::lessThanEqual(glm::abs(a - b), glm::vec3(tolerance)))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << glm::to_string(a) << " vs " << glm::to_string(b);
}

class FlyCamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KestorTest::ForgetFollowers<Transform, FlyCam>();
    FlyCamSystem::BasicallyEverything.clear();
    FlyCamSystem::pause = true;
    offP = true;
    lastTime = velocity = scroll = 0.0f;
    TransformSystem::BasicallyEverything.clear();
    FlyCamSystem::Attach(&engine);
    TransformSystem::Attach(&engine);
    camera = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(camera);
    ComponentHandler<FlyCam>::Gimmoo(camera);
  }

  Transform& T(Thing t) { return *ComponentHandler<Transform>::Get(t); }

  // One frame 1/60 s after the last, so each step counts 1.
  void Frame(std::initializer_list<SDL_Scancode> held = {}, glm::vec2 motion = {}, float wheel = 0) {
    uint8_t keys[SDL_NUM_SCANCODES] = {};
    for (SDL_Scancode key : held) keys[key] = 1;
    InputSystem::mouseMovement = motion;
    InputSystem::mouseScroll = glm::vec2(0, wheel);
    ++frame;
    FlyCamSystem::Fly(keys, frame / 60.0f);
  }
  void Unpause() {
    Frame({SDL_SCANCODE_P});
    Frame();
    ASSERT_FALSE(FlyCamSystem::pause);
  }

  KestorEngineFlyHahaJk engine;
  Thing camera;
  int frame = 0;
};

}  // namespace

TEST_F(FlyCamTest, HeldPTogglesOncePerPress) {
  EXPECT_TRUE(FlyCamSystem::pause) << "flying starts paused";
  for (int i = 0; i < 30; ++i) Frame({SDL_SCANCODE_P});
  EXPECT_FALSE(FlyCamSystem::pause);
  Frame();
  EXPECT_FALSE(FlyCamSystem::pause);
  Frame({SDL_SCANCODE_P});
  EXPECT_TRUE(FlyCamSystem::pause);
}

TEST_F(FlyCamTest, PausedFramesMoveNothingAndLoseTheirWheel) {
  for (int i = 0; i < 10; ++i) Frame({SDL_SCANCODE_W, SDL_SCANCODE_D}, {40, -25}, 3);
  EXPECT_EQ(T(camera).Position, glm::vec3(0));
  EXPECT_EQ(T(camera).Rotation, glm::quat(1, 0, 0, 0));
  EXPECT_EQ(velocity, 0.0f);
  EXPECT_EQ(scroll, 0.0f);
}

TEST_F(FlyCamTest, KeysMoveThreeUnitsASecondAndOppositesCancel) {
  Unpause();
  Frame({SDL_SCANCODE_W});
  EXPECT_TRUE(Near(T(camera).Position, {0, 0, -0.05f})) << "forward is the camera's -Z";
  Frame({SDL_SCANCODE_W, SDL_SCANCODE_S, SDL_SCANCODE_A, SDL_SCANCODE_D});
  EXPECT_TRUE(Near(T(camera).Position, {0, 0, -0.05f}));
  Frame({SDL_SCANCODE_D});
  EXPECT_TRUE(Near(T(camera).Position, {0.05f, 0, -0.05f}));

  // A long frame moves proportionally further: 0.5 s of W is 1.5 units.
  uint8_t keys[SDL_NUM_SCANCODES] = {};
  keys[SDL_SCANCODE_S] = 1;
  FlyCamSystem::Fly(keys, frame / 60.0f + 0.5f);
  EXPECT_TRUE(Near(T(camera).Position, {0.05f, 0, 1.45f}, 1e-4f));
}

TEST_F(FlyCamTest, MouseYawsAboutWorldUpAndPitchesWithoutRoll) {
  Unpause();
  // 100 px to the right turns the view 0.3 rad clockwise seen from above.
  Frame({}, {100, 0});
  glm::mat3 axes = glm::mat3_cast(T(camera).Rotation);
  EXPECT_TRUE(Near(axes[0], {std::cos(-0.3f), std::sin(-0.3f), 0}));

  for (int i = 0; i < 20; ++i) Frame({}, {37.0f * (i % 3 - 1), 23.0f * (i % 2 ? 1 : -1)});
  axes = glm::mat3_cast(T(camera).Rotation);
  EXPECT_NEAR(axes[0].z, 0.0f, 1e-5f) << "the right axis stays level: no roll builds up";
  EXPECT_NEAR(glm::length(T(camera).Rotation), 1.0f, 1e-5f);
}

TEST_F(FlyCamTest, OneWheelStepGlidesForwardAndDecays) {
  Unpause();
  Frame({}, {}, 1);
  EXPECT_FLOAT_EQ(scroll, 0.1f);
  EXPECT_FLOAT_EQ(velocity, 0.0f);
  EXPECT_EQ(T(camera).Position, glm::vec3(0));

  Frame();
  EXPECT_FLOAT_EQ(velocity, 0.05f);
  EXPECT_FLOAT_EQ(scroll, 0.09f);
  EXPECT_EQ(T(camera).Position, glm::vec3(0)) << "the glide uses last frame's speed";

  Frame();
  EXPECT_TRUE(Near(T(camera).Position, {0, 0, -0.025f * 0.05f}, 1e-7f));
  EXPECT_FLOAT_EQ(velocity, 0.09f);

  float z = T(camera).Position.z;
  for (int i = 0; i < 200; ++i) {
    Frame();
    ASSERT_LE(T(camera).Position.z, z) << "never glides backwards";
    z = T(camera).Position.z;
  }
  EXPECT_LT(velocity, 1e-4f);
  EXPECT_LT(z, -0.01f);
}

TEST_F(FlyCamTest, ThingsWithoutATransformAreSkippedAndMomentumAdvancesOncePerFrame) {
  Thing bare = Thing::Gimme();
  ComponentHandler<FlyCam>::Gimmoo(bare);
  Thing second = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(second);
  ComponentHandler<FlyCam>::Gimmoo(second);
  ASSERT_EQ(FlyCamSystem::BasicallyEverything, (std::vector<Thing>{camera, bare, second}));

  Unpause();
  Frame({}, {}, 1);
  Frame();
  EXPECT_FLOAT_EQ(velocity, 0.05f) << "two cameras must not decay or read the wheel twice";
  for (int i = 0; i < 5; ++i) Frame({SDL_SCANCODE_W});
  EXPECT_EQ(T(camera).Position, T(second).Position);

  ComponentHandler<FlyCam>::HereItsBunk(second);
  EXPECT_EQ(FlyCamSystem::BasicallyEverything, (std::vector<Thing>{camera, bare}));
  Frame({SDL_SCANCODE_W});
  EXPECT_NE(T(camera).Position, T(second).Position);
}

TEST_F(FlyCamTest, InsertedAt16SoLaterSystemsMoveUpOne) {
  KestorEngineFlyHahaJk composed;
  composed.PrepareStageLists();
  InputSystem::Attach(&composed);
  TransformSystem::Attach(&composed);
  FlyCamSystem::Attach(&composed);
  ASSERT_EQ(composed.UpdateList.size(), 61u);
  EXPECT_TRUE(composed.UpdateList[10]);
  EXPECT_TRUE(composed.UpdateList[16]);
  EXPECT_FALSE(composed.UpdateList[30]);
  EXPECT_TRUE(composed.UpdateList[31]);
  EXPECT_FALSE(composed.UpdateList[25]);

  // The bound stage reads the engine's clock and SDL's keyboard.
  composed.StartTime = std::chrono::system_clock::now();
  composed.UpdateList[16]();
  EXPECT_TRUE(FlyCamSystem::pause);
}
