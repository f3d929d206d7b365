// What a user does between two slow frames must all arrive, and count for
// when it happened: the real input pump, the widgets, the fly camera and
// the curtain's hotkeys, driven at one frame every 300 or 500 ms (and for
// the movement keys at 1, 4 and 60 frames a second). Events enter SDL's own
// queue stamped with the times a user would make them and each frame drains
// what arrived since the last, as the demo does on a software renderer; the
// frame's time is the schedule's, so nothing here reads a clock.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <glm/gtc/quaternion.hpp>
#include <glm/mat3x3.hpp>

#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "render/DrawSystem.h"
#include "renderer/Curtain.h"
#include "scene/FlyCam.h"
#include "scene/InputSystem.h"
#include "engine/CommandLine.h"
#include "scene/Transform.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

constexpr float WindowHeight = 480.0f;

// The pump's clock: the end of the frame being run, in milliseconds.
uint32_t scheduleNow = 0;

// One host for the whole process: attaching registers handler callbacks,
// and deleting an engine shuts SDL down under the shared test context.
KestorEngineFlyHahaJk& Host() {
  static KestorEngineFlyHahaJk* host = [] {
    auto* engine = new KestorEngineFlyHahaJk();
    InputSystem::Attach(engine);
    IMGUI::Attach(engine);
    FlyCamSystem::Attach(engine);
    KestorTest::CaptureStdout quiet;
    engine->StartList[15]();  // the binding table
    return engine;
  }();
  return *host;
}

class SlowFrames : public KestorTest::GLTest, public ::testing::WithParamInterface<double> {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    if (HasFatalFailure()) return;
    Host();
    // An engine deleted by an earlier test of this process quit SDL.
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0) << SDL_GetError();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    Shutter::Width(640.0f);
    Shutter::Height(WindowHeight);
    GUI::SetUpStyles();
    // As at start, should an earlier test of this process have changed it.
    FlyCamSystem::pause = offP = true;
    IMGUI::globalstring = nullptr;
    InputSystem::Clock = [] { return scheduleNow; };
    InputSystem::Held = HeldKeys();
    ResetParticles();
    ResetConstraints();
    camera = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(camera);
    ComponentHandler<FlyCam>::Gimmoo(camera);
  }

  // The schedule, in seconds from the start.
  void Key(double at, SDL_Scancode code, Uint32 type, bool repeat = false) {
    SDL_Event e{};
    e.type = e.key.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.scancode = code;
    script.push_back({at, e});
  }
  void Press(double at, SDL_Scancode code, double length) {
    Key(at, code, SDL_KEYDOWN);
    Key(at + length, code, SDL_KEYUP);
  }
  void Tap(double at, SDL_Scancode code) { Press(at, code, 0.1); }
  // Pointer positions are GUI pixels (y up), as the widgets are placed.
  void Move(double at, glm::vec2 gui, int dx = 0, int dy = 0) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.x = static_cast<int>(gui.x);
    e.motion.y = static_cast<int>(WindowHeight - gui.y);
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    script.push_back({at, e});
  }
  void Click(double at, glm::vec2 gui) {
    for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
      SDL_Event e{};
      e.type = e.button.type = type;
      e.button.button = SDL_BUTTON_LEFT;
      e.button.clicks = 1;
      e.button.x = static_cast<int>(gui.x);
      e.button.y = static_cast<int>(WindowHeight - gui.y);
      script.push_back({type == SDL_MOUSEBUTTONDOWN ? at : at + 0.05, e});
    }
  }

  // Runs frames of the parameter's length until `until`. Each frame the
  // events made since the last one wait in SDL's queue, SDL's held-key
  // state is as they left it, and the stages run in the frame's order:
  // pump, widget input, fly camera, then `renderer` (the panel and the
  // curtain's frame).
  void RunUntil(double until, const std::function<void()>& renderer = {}) {
    std::stable_sort(script.begin(), script.end(), [](const Timed& a, const Timed& b) { return a.at < b.at; });
    const double length = GetParam();
    for (;;) {
      const double start = frames * length, end = (frames + 1) * length;
      if (end > until + 1e-9) break;
      for (Timed& t : script) {
        if (t.at < start || t.at >= end) continue;
        // Added as it is: SDL_PushEvent would stamp it with SDL's own clock.
        t.event.common.timestamp = Ms(t.at);
        ASSERT_EQ(SDL_PeepEvents(&t.event, 1, SDL_ADDEVENT, 0, 0), 1) << SDL_GetError();
        if (t.event.type == SDL_KEYDOWN || t.event.type == SDL_KEYUP) {
          keys[t.event.key.keysym.scancode] = t.event.type == SDL_KEYDOWN;
        }
      }
      ++frames;
      const bool paused = FlyCamSystem::pause;
      scheduleNow = Ms(end);
      Host().UpdateList[10]();
      Host().UpdateList[15]();
      FlyCamSystem::Fly(keys, static_cast<float>(end), &InputSystem::Held);
      if (FlyCamSystem::pause != paused) ++toggles;
      DrawSystem::ClearCache();
      if (renderer) renderer();
    }
  }

  static uint32_t Ms(double seconds) { return static_cast<uint32_t>(std::lround(seconds * 1000.0)); }

  void CurtainFrame() {
    ClothFrame(keys, static_cast<float>(GetParam()), glm::vec3(0.0f, 0.0f, 1.5f), nullptr, glm::mat4(1.0f));
  }

  // Pixels of horizontal motion the camera has turned by so far.
  float TurnedPixels() {
    glm::vec3 right = glm::mat3_cast(ComponentHandler<Transform>::Get(camera)->Rotation)[0];
    return -std::atan2(right.y, right.x) / ComponentHandler<FlyCam>::Get(camera)->Sensitivity;
  }

  struct Timed {
    double at;
    SDL_Event event;
  };
  std::vector<Timed> script;
  Uint8 keys[SDL_NUM_SCANCODES] = {};
  int frames = 0;
  int toggles = 0;
  Thing camera;
};

}  // namespace

TEST_P(SlowFrames, EveryTapOfPTogglesAndATapOfCMakesTheCurtain) {
  // 0.1 s taps 1.37 s apart: some fall within one frame, some across two.
  for (int i = 0; i < 10; ++i) Tap(1.0 + 1.37 * i, SDL_SCANCODE_P);
  RunUntil(15.0);
  EXPECT_EQ(toggles, 10);
  EXPECT_TRUE(FlyCamSystem::pause);

  // Held at no frame's end, only seen as a press.
  Tap(15.15, SDL_SCANCODE_C);
  RunUntil(16.0, [this] { CurtainFrame(); });
  EXPECT_GT(Particles().Count, 0u);
}

TEST_P(SlowFrames, HoldingPOverManyFramesTogglesOnce) {
  Key(1.05, SDL_SCANCODE_P, SDL_KEYDOWN);
  for (double at = 1.55; at < 4.0; at += 0.05) Key(at, SDL_SCANCODE_P, SDL_KEYDOWN, true);  // auto-repeat
  Key(4.02, SDL_SCANCODE_P, SDL_KEYUP);
  RunUntil(6.0);
  EXPECT_EQ(toggles, 1);
  EXPECT_FALSE(FlyCamSystem::pause);
}

TEST_P(SlowFrames, TheCameraTurnsByAllThePointerMotion) {
  Press(0.05, SDL_SCANCODE_P, 0.5);  // held over a frame's end
  RunUntil(1.0);
  ASSERT_FALSE(FlyCamSystem::pause);
  // 240 pixels in 10-pixel steps over 0.3 s, several frames' worth of events.
  for (int i = 0; i < 24; ++i) Move(1.0 + 0.0125 * i, glm::vec2(100 + 10 * i, 100), 10, 0);
  RunUntil(3.0);
  EXPECT_GE(TurnedPixels(), 0.95f * 240.0f);
  EXPECT_NEAR(TurnedPixels(), 240.0f, 0.5f);
}

TEST_P(SlowFrames, PointerMotionOverThePanelInTheFrameThatStartsFlyingTurnsNothing) {
  // 100 pixels towards the scene, then P, all within the first 300 ms.
  for (int i = 0; i < 10; ++i) Move(0.05 + 0.02 * i, glm::vec2(100 + 10 * i, 100), 10, 0);
  Tap(0.27, SDL_SCANCODE_P);
  RunUntil(1.5);
  ASSERT_FALSE(FlyCamSystem::pause);
  EXPECT_EQ(ComponentHandler<Transform>::Get(camera)->Rotation, glm::quat(1, 0, 0, 0));
}

TEST_P(SlowFrames, AMoveThenAClickInOneFrameHitsTheWidgetUnderTheNewPosition) {
  const glm::vec2 size(280.0f, 24.0f), upper(10.0f, 400.0f), lower(10.0f, 376.0f);
  int upperClicks = 0, lowerClicks = 0;
  auto panel = [&] {
    upperClicks += IMGUI::SelectableButton(upper, size, false) == 3;
    lowerClicks += IMGUI::SelectableButton(lower, size, false) == 3;
  };
  Move(0.1, lower + glm::vec2(100.0f, 12.0f));
  RunUntil(1.5, panel);
  // Within the frame from 1.5 s: over to the upper row, then a click there.
  Move(1.52, upper + glm::vec2(100.0f, 12.0f));
  Click(1.55, upper + glm::vec2(100.0f, 12.0f));
  RunUntil(3.0, panel);
  EXPECT_EQ(upperClicks, 1);
  EXPECT_EQ(lowerClicks, 0);
}

TEST_P(SlowFrames, KeysTypedIntoAPanelFieldAreNotHotkeys) {
  const glm::vec2 pos(10.0f, 400.0f), size(280.0f, 24.0f);
  std::string name;
  auto panel = [&] {
    IMGUI::TextInput(pos, size, &name, false);
    CurtainFrame();
  };
  Click(0.1, pos + glm::vec2(20.0f, 12.0f));
  RunUntil(1.5, panel);
  ASSERT_EQ(IMGUI::globalstring, &name);
  // Held over frame ends too, so the held-key state sees them as well.
  Press(1.55, SDL_SCANCODE_P, 0.7);
  Press(2.55, SDL_SCANCODE_C, 0.7);
  RunUntil(4.0, panel);
  EXPECT_EQ(toggles, 0);
  EXPECT_EQ(Particles().Count, 0u);
}

INSTANTIATE_TEST_SUITE_P(FrameLengths, SlowFrames, ::testing::Values(0.3, 0.5),
                         [](const ::testing::TestParamInfo<double>& p) {
                           return std::to_string(static_cast<int>(std::lround(p.param * 1000))) + "ms";
                         });

// The movement keys at 1, 4 and 60 frames a second: each counts for as long
// as it was held, whatever frames the press and release fell in.
class MovementTaps : public SlowFrames {};

TEST_P(MovementTaps, EachTapMovesByHowLongItWasHeld) {
  // Level, looking along +Y: right is +X, up is +Z.
  Transform& t = *ComponentHandler<Transform>::Get(camera);
  t.Rotation = CameraPose().Rotation();
  Press(0.02, SDL_SCANCODE_P, 0.05);
  RunUntil(1.0);
  ASSERT_FALSE(FlyCamSystem::pause);
  struct Row {
    std::vector<SDL_Scancode> keys;
    glm::vec3 moved;  // 3 units a second for 0.1 s, 4 times that with Shift
  };
  const Row rows[] = {
      {{SDL_SCANCODE_W}, {0, 0.3f, 0}},
      {{SDL_SCANCODE_A}, {-0.3f, 0, 0}},
      {{SDL_SCANCODE_E}, {0, 0, 0.3f}},
      {{SDL_SCANCODE_Q}, {0, 0, -0.3f}},
      {{SDL_SCANCODE_LSHIFT, SDL_SCANCODE_S}, {0, -1.2f, 0}},
  };
  double at = 1.23;
  for (const Row& row : rows) {
    const glm::vec3 before = t.Position;
    // Shift goes down first and up last, so it spans the whole tap.
    for (size_t k = 0; k < row.keys.size(); ++k) {
      const double lead = 0.01 * static_cast<double>(row.keys.size() - 1 - k);
      Press(at - lead, row.keys[k], 0.1 + 2 * lead);
    }
    at += 2.37;
    RunUntil(at - 1.0);
    const glm::vec3 moved = t.Position - before;
    EXPECT_NEAR(glm::length(moved - row.moved), 0.0f, 0.1f * glm::length(row.moved))
        << "key " << row.keys.back() << " moved " << moved.x << "," << moved.y << "," << moved.z;
  }
}

INSTANTIATE_TEST_SUITE_P(FramesASecond, MovementTaps, ::testing::Values(1.0, 0.25, 1.0 / 60.0),
                         [](const ::testing::TestParamInfo<double>& p) {
                           return std::to_string(static_cast<int>(std::lround(1.0 / p.param))) + "fps";
                         });
