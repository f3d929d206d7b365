// Guards the stage lists' run rules, the millisecond clock and a real start-up
// of the window and GL context.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/CVar.h"
#include "engine/Debug.h"
#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

StageCallback Record(std::vector<int>& log, int mark) {
  return [&log, mark] {
    log.push_back(mark);
    return std::string("ignored");
  };
}

}  // namespace

TEST(StageLists, SizedOnceAtTheFirstAttachmentAndKeptAfterwards) {
  KestorEngineFlyHahaJk engine;
  EXPECT_TRUE(engine.StartList.empty());
  engine.PrepareStageLists();
  EXPECT_EQ(engine.StartList.size(), 30u);
  EXPECT_EQ(engine.UpdateList.size(), 60u);
  EXPECT_EQ(engine.ShutdownList.size(), 30u);
  std::vector<int> log;
  engine.UpdateList[3] = Record(log, 3);
  engine.PrepareStageLists();
  EXPECT_TRUE(engine.UpdateList[3]) << "a second preparation must not wipe attached systems";
}

TEST(StageLists, UpdateIndex25NeverRunsButStartIndex25Does) {
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  std::vector<int> log;
  engine.StartList[25] = Record(log, 125);
  RunStageList(engine.StartList);
  EXPECT_EQ(log, std::vector<int>{125});

  log.clear();
  engine.UpdateList[24] = Record(log, 24);
  engine.UpdateList[25] = Record(log, 25);
  engine.UpdateList[26] = [&] {
    log.push_back(26);
    engine.Quit();
    return std::string();
  };
  engine.RunGame();
  EXPECT_EQ(log, (std::vector<int>{24, 26}));
}

TEST(StageLists, QuitMidPassLetsTheRestOfThePassRun) {
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  std::vector<int> log;
  int passes = 0;
  engine.UpdateList[5] = [&] {
    ++passes;
    return std::string();
  };
  engine.UpdateList[10] = [&] {
    log.push_back(10);
    if (passes == 2) engine.Quit();
    return std::string();
  };
  engine.UpdateList[56] = Record(log, 56);
  engine.RunGame();
  EXPECT_EQ(passes, 2);
  EXPECT_EQ(log, (std::vector<int>{10, 56, 10, 56}));
}

TEST(StageLists, RunGameOnAStoppedEngineRunsNothing) {
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  std::vector<int> log;
  engine.UpdateList[0] = Record(log, 0);
  engine.Quit();
  engine.RunGame();
  EXPECT_TRUE(log.empty());
}

TEST(StageLists, InsertionAt16ShiftsLaterEntriesAndTheListIsReReadAfterEachCall) {
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  std::vector<int> log;
  engine.UpdateList[15] = Record(log, 15);
  engine.UpdateList[30] = Record(log, 30);
  engine.UpdateList.insert(engine.UpdateList.begin() + 16, Record(log, 16));
  ASSERT_EQ(engine.UpdateList.size(), 61u);
  EXPECT_TRUE(engine.UpdateList[31]);
  EXPECT_FALSE(engine.UpdateList[30]);

  // A callback that appends to its own list: the new entry runs in the same
  // pass because the size is read again after each call.
  engine.UpdateList[40] = [&] {
    log.push_back(40);
    engine.UpdateList.push_back([&] {
      log.push_back(99);
      engine.Quit();
      return std::string();
    });
    return std::string();
  };
  engine.RunGame();
  EXPECT_EQ(log, (std::vector<int>{15, 16, 30, 40, 99}));
}

TEST(StageLists, LaterAttachmentToTheSameIndexReplacesTheEarlier) {
  std::vector<int> log;  // outlives the engine, whose destructor runs the list again
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  engine.ShutdownList[10] = Record(log, 1);
  engine.ShutdownList[10] = Record(log, 2);
  RunStageList(engine.ShutdownList);
  EXPECT_EQ(log, std::vector<int>{2});
  engine.ShutdownList.clear();
}

TEST(StageLists, DestructorRunsTheShutdownList) {
  std::vector<int> log;
  {
    KestorEngineFlyHahaJk engine;
    engine.PrepareStageLists();
    engine.ShutdownList[5] = Record(log, 5);
    engine.ShutdownList[10] = Record(log, 10);
  }
  EXPECT_EQ(log, (std::vector<int>{5, 10}));
}

TEST(Clock, TimeSinceStartMovesInWholeMilliseconds) {
  KestorEngineFlyHahaJk engine;
  engine.StartTime = std::chrono::system_clock::now() - std::chrono::microseconds(1500400);
  const float seconds = engine.TimeSinceStart();
  EXPECT_GE(seconds, 1.5f);
  EXPECT_LT(seconds, 1.6f);
  const float millis = seconds * 1000.0f;
  EXPECT_NEAR(millis, std::round(millis), 1e-2);
}

TEST(Clock, AFixedStepCountsPassesInsteadOfTheWallClock) {
  KestorEngineFlyHahaJk engine;
  engine.StartTime = std::chrono::system_clock::now() - std::chrono::seconds(100);
  engine.FixedStep = 0.25f;
  EXPECT_EQ(engine.TimeSinceStart(), 0.0f) << "the first frame is at 0";
  for (int i = 0; i < 10; ++i) engine.RunPass();
  EXPECT_EQ(engine.TimeSinceStart(), 2.5f);
  EXPECT_GE(engine.WallTimeSinceStart(), 100.0f) << "frame rates still measure real time";
}

TEST(WindowSize, ScreenResolutionsNoWindowCanHaveFallBackToTheDefaultWithALine) {
  struct Case {
    glm::vec2 asked;
    int width, height;
    bool reported;
  } cases[] = {
      {{800.0f, 600.0f}, 800, 600, false},
      {{0.0f, 0.0f}, 0, 0, false},  // a maximised window
      {{800.7f, 600.2f}, 800, 600, false},
      {{NAN, 600.0f}, 1280, 720, true},
      {{800.0f, INFINITY}, 1280, 720, true},
      {{-800.0f, 600.0f}, 1280, 720, true},
      {{1e10f, 600.0f}, 1280, 720, true},
  };
  for (const Case& c : cases) {
    CVar<glm::vec2> resolution;
    resolution.name = "Screen Resolution";
    resolution.value = c.asked;
    int w = -7, h = -7;
    KestorTest::CaptureStdout out;
    CheckedWindowSize(resolution, w, h);
    EXPECT_EQ(w, c.width) << c.asked.x << "," << c.asked.y;
    EXPECT_EQ(h, c.height) << c.asked.x << "," << c.asked.y;
    EXPECT_EQ(out.Text().find("\"Screen Resolution\"") != std::string::npos, c.reported) << out.Text();
    if (c.reported) {
      EXPECT_EQ(resolution.value, glm::vec2(1280.0f, 720.0f)) << "the renderer reads it too";
    }
  }
}

// Starts the real window and GL context (needs a display: CI runs under Xvfb).
TEST(EngineStartup, OpensTheConfiguredWindowWithAGLContextAndNoErrors) {
  KestorTest::TempDir dir;
  dir.Write("KestorConfig.txt",
            "vec2 Screen Resolution = vec2(320,200);\nbool Fullscreen = false;\n");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());

  Debug::ResetGLErrorCount();
  std::string printed;
  {
    auto* engine = new KestorEngineFlyHahaJk();
    engine->PrepareStageLists();
    int started = 0;
    engine->StartList[25] = [&] {
      ++started;
      return std::string();
    };
    {
      KestorTest::CaptureStdout out;
      engine->Initialize();
      printed = out.Text();
    }
    EXPECT_EQ(started, 1);
    ASSERT_NE(engine->window, nullptr);
    ASSERT_NE(engine->window->window, nullptr);
    int w = 0, h = 0;
    SDL_GetWindowSize(engine->window->window, &w, &h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(std::string(SDL_GetWindowTitle(engine->window->window)), "I can fly like a real bird!");
    EXPECT_EQ(Shutter::Width(), 320.0f);
    EXPECT_EQ(Shutter::Height(), 200.0f);
    EXPECT_EQ(Debug::GLErrorCount(), 0u);
    delete engine;
  }
  std::filesystem::current_path(previous);

  // The GL version text follows the GLEW marker.
  const size_t marker = printed.find("EJISUGEGEHGH");
  ASSERT_NE(marker, std::string::npos);
  const std::string version = printed.substr(marker + 12);
  EXPECT_TRUE(version.rfind("4.", 0) == 0) << "GL version printed: " << version;
}
