// Guards the fly camera frame by frame with synthetic key state, key-press
// records and mouse values: the P toggle (held, tapped, typed into a field),
// Home, pausing, key movement, mouse look without roll, the wheel's glide and its
// decay at any frame rate, Things without a transform, and the stage
// insertion that moves every later system up one place.
#include <SDL.h>
#include <gtest/gtest.h>

#include <glm/gtc/quaternion.hpp>
#include <glm/gtx/string_cast.hpp>

#include "engine/Engine.h"
#include "gui/IMGUI.h"
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

  // One frame 1/60 s after the last, so each step counts 1. Presses made
  // with Pressed since the last frame are this frame's records.
  void Frame(std::initializer_list<SDL_Scancode> held = {}, glm::vec2 motion = {}, float wheel = 0) {
    uint8_t keys[SDL_NUM_SCANCODES] = {};
    for (SDL_Scancode key : held) keys[key] = 1;
    InputSystem::mouseMovement = motion;
    InputSystem::mouseScroll = glm::vec2(0, wheel);
    ++frame;
    FlyCamSystem::Fly(keys, frame / 60.0f);
    InputSystem::InputEvents.clear();
  }
  // A key-down record, as the pump leaves it for a press (or an auto-repeat).
  static void Pressed(SDL_Scancode key, bool repeat = false) {
    SDL_KeyboardEvent down{};
    down.type = SDL_KEYDOWN;
    down.repeat = repeat ? 1 : 0;
    down.keysym.scancode = key;
    InputSystem::InputEvents.emplace_back(down);
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

TEST_F(FlyCamTest, EachPressRecordActsOnceEvenWhenReleasedWithinTheFrame) {
  // Pressed and held on, auto-repeating: one toggle.
  Pressed(SDL_SCANCODE_P);
  Frame({SDL_SCANCODE_P});
  EXPECT_FALSE(FlyCamSystem::pause);
  Pressed(SDL_SCANCODE_P, true);
  Frame({SDL_SCANCODE_P});
  Frame({SDL_SCANCODE_P});
  EXPECT_FALSE(FlyCamSystem::pause) << "an auto-repeat is no press";
  Frame();

  // Taps between two pumps: the key is no longer held when the camera runs.
  Pressed(SDL_SCANCODE_P);
  Frame();
  EXPECT_TRUE(FlyCamSystem::pause);
  Pressed(SDL_SCANCODE_P);
  Pressed(SDL_SCANCODE_P);
  Frame();
  EXPECT_TRUE(FlyCamSystem::pause) << "two taps in one frame toggle twice";
  Pressed(SDL_SCANCODE_P);
  Frame();
  ASSERT_FALSE(FlyCamSystem::pause);

  // Typed into a panel field, P is text: neither its record nor holding it
  // toggles, and a P still held when the typing ends waits for its release.
  std::string field;
  IMGUI::globalstring = &field;
  Pressed(SDL_SCANCODE_P);
  Frame({SDL_SCANCODE_P});
  IMGUI::globalstring = nullptr;
  Frame({SDL_SCANCODE_P});
  EXPECT_FALSE(FlyCamSystem::pause);
}

TEST_F(FlyCamTest, HomeReturnsToTheStartFlyingOrPausedAndStopsTheGlide) {
  FlyCam& c = *ComponentHandler<FlyCam>::Get(camera);
  c.HomePosition = glm::vec3(1, 2, 3);
  c.HomeRotation = glm::angleAxis(0.5f, glm::vec3(0, 0, 1));
  Unpause();
  for (int i = 0; i < 5; ++i) Frame({SDL_SCANCODE_W, SDL_SCANCODE_LSHIFT}, {30, 10}, 1);
  ASSERT_GT(velocity, 0.0f);
  for (bool paused : {false, true}) {
    FlyCamSystem::pause = paused;
    T(camera).Position = glm::vec3(9);
    Pressed(SDL_SCANCODE_HOME);
    Frame();
    EXPECT_TRUE(Near(T(camera).Position, c.HomePosition));
    EXPECT_EQ(T(camera).Rotation, c.HomeRotation);
    EXPECT_EQ(velocity, 0.0f);
  }
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

TEST_F(FlyCamTest, OneWheelStepGlidesAsFarAndAsLongAtThreeAsAtSixtyFramesASecond) {
  Unpause();
  struct Glide {
    float distance;  // forward, once it has died out
    float ninety;    // seconds after the wheel's frame to cover 90 % of it
  };
  float now = frame / 60.0f;
  uint8_t keys[SDL_NUM_SCANCODES] = {};
  auto glide = [&](float fps) {
    T(camera).Position = glm::vec3(0);
    velocity = scroll = 0;
    InputSystem::mouseScroll = glm::vec2(0, 1);
    FlyCamSystem::Fly(keys, now += 1 / fps);
    InputSystem::mouseScroll = glm::vec2(0);
    std::vector<float> covered{0};  // after each frame
    for (int f = 0; f < 30 * fps; ++f) {
      FlyCamSystem::Fly(keys, now += 1 / fps);
      covered.push_back(-T(camera).Position.z);
    }
    Glide g{covered.back(), 0};
    for (size_t f = 1; f < covered.size(); ++f) {
      if (covered[f] < 0.9f * g.distance) continue;
      // Between two frames the camera moves at the later one's speed.
      float part = (0.9f * g.distance - covered[f - 1]) / (covered[f] - covered[f - 1]);
      g.ninety = (f - 1 + part) / fps;
      break;
    }
    return g;
  };
  const Glide fast = glide(60), slow = glide(3);
  // 0.025 per tick of speed, fed 0.5 x 0.1 per tick, both decaying by 0.9 a
  // tick: 0.025 x 0.05 / (1 - 0.9)^2.
  EXPECT_NEAR(fast.distance, 0.125f, 1e-4f);
  EXPECT_NEAR(slow.distance, fast.distance, 0.1f * fast.distance);
  EXPECT_NEAR(slow.ninety, fast.ninety, 0.1f * fast.ninety);
  EXPECT_NEAR(fast.ninety, 0.62f, 0.02f);
}

TEST_F(FlyCamTest, ThingsWithoutATransformAreSkippedAndMomentumAdvancesOncePerFrame) {
  Thing bare = Thing::Gimme();
  ComponentHandler<FlyCam>::Gimmoo(bare);
  Thing second = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(second);
  ComponentHandler<FlyCam>::Gimmoo(second);
  ComponentHandler<FlyCam>::Gimmoo(second);  // added again: still listed once
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
