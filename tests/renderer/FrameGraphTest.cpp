// Guards the frame-time graph's reading of its frames and the help overlay's
// F1 switch: the graph keeps the last few hundred frames, its top is a
// round figure that the start-up's slow frames cannot flatten, and F1 shows the
// overlay only while flying, a second press hiding it.
#include <SDL.h>
#include <gtest/gtest.h>

#include "gui/GUI.h"
#include "render/DrawSystem.h"
#include "renderer/FrameGraph.h"
#include "renderer/HelpOverlay.h"
#include "scene/FlyCam.h"
#include "scene/InputSystem.h"
#include "support/GLTestContext.h"

using namespace KestorEngine;

TEST(FrameGraph, KeepsTheLastFramesAndPicksARoundTop) {
  FrameGraph::Reset();
  for (int i = 0; i <= 400; ++i) FrameGraph::Record(0.1f * static_cast<float>(i));
  ASSERT_EQ(FrameGraph::Times().size(), FrameGraph::KeptFrames);
  EXPECT_NEAR(FrameGraph::Times().back(), 100.0f, 0.01f);

  struct Case {
    std::deque<float> times;
    float target, top;
  };
  std::deque<float> startUp(200, 60.0f);
  for (int i = 0; i < 12; ++i) startUp[i] = 4000.0f;  // compiling shaders, voxelising
  const Case cases[] = {
      {{}, 0.0f, 10.0f},
      {{30.0f, 45.0f, 41.0f}, 0.0f, 50.0f},
      {{30.0f, 45.0f}, 100.0f, 200.0f},  // the target's line stays inside
      {startUp, 0.0f, 100.0f},
  };
  for (const Case& c : cases) EXPECT_EQ(FrameGraph::ScaleFor(c.times, c.target), c.top) << c.target;
}

class HelpOverlayTest : public KestorTest::GLTest {};

TEST_F(HelpOverlayTest, F1ShowsTheKeysWhileFlyingAndAgainHidesThem) {
  GUI::SetUpStyles();
  auto pressF1 = [] {
    SDL_KeyboardEvent down{};
    down.type = SDL_KEYDOWN;
    down.keysym.scancode = SDL_SCANCODE_F1;
    InputSystem::InputEvents = {InputEvent(down)};
  };
  auto queued = [] {
    DrawSystem::ClearCache();
    HelpOverlay::Queue();
    InputSystem::InputEvents.clear();
    return DrawSystem::guidrawthings.size();
  };
  FlyCamSystem::pause = false;
  EXPECT_EQ(queued(), 0u) << "hidden at first";
  pressF1();
  EXPECT_GT(queued(), 0u) << "the table and the graph";
  FlyCamSystem::pause = true;
  EXPECT_EQ(queued(), 0u) << "the panel has its own help";
  FlyCamSystem::pause = false;
  pressF1();
  EXPECT_EQ(queued(), 0u);
  DrawSystem::ClearCache();
}
