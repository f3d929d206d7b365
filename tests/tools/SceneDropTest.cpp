// A scene dropped on the demo's window, through SDL's drop event and the
// program's own frame: an OBJ is imported by KestorImport into the cache
// folder and opened with the camera at its viewpoint; a file that cannot be
// imported leaves the level as it was, said once on the console and on
// screen.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/CommandLine.h"
#include "engine/Engine.h"
#include "engine/Scene.h"
#include "renderer/DemoComposition.h"
#include "renderer/DemoLevel.h"
#include "renderer/RenderSettings.h"
#include "renderer/SceneDrop.h"
#include "scene/FlyCam.h"
#include "scene/Transform.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

// A floor and a box on it, in the OBJ's Y-up metres.
const char* const Room = R"(o Floor
v -2 0 -2
v 2 0 -2
v 2 0 2
v -2 0 2
f 1 3 2
f 1 4 3
o Box
v -0.5 0 -0.5
v 0.5 0 -0.5
v 0.5 1 -0.5
v -0.5 1 -0.5
v -0.5 0 0.5
v 0.5 0 0.5
v 0.5 1 0.5
v -0.5 1 0.5
f 5 7 6
f 5 8 7
f 9 10 11
f 9 11 12
f 5 6 10
f 5 10 9
f 8 12 11
f 8 11 7
f 6 7 11
f 6 11 10
f 5 9 12
f 5 12 8
)";

void Drop(const std::string& path) {
  SDL_Event e{};
  e.type = SDL_DROPFILE;
  e.drop.file = SDL_strdup(path.c_str());  // the pump frees it, as SDL's own
  ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
}

}  // namespace

TEST(SceneDrop, ADroppedObjOpensAtItsViewpointAndABrokenFileChangesNothing) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  KestorTest::TempDir dir;
  setenv("XDG_CACHE_HOME", (dir.Path() + "/cache").c_str(), 1);
  const std::string room = dir.Write("Room.obj", Room);
  const std::string broken = dir.Write("Broken.obj", "v 0 0 0\nv 1 0 0\nf 1 2 7\nthis is no OBJ\n");

  auto* engine = new KestorEngineFlyHahaJk();
  ComposeDemo(engine);
  ScreenResolution->value = glm::vec2(160, 90);
  Fullscreen->value = false;
  engine->Initialize();
  ASSERT_NE(engine->window, nullptr);
  LaunchOptions options;
  options.Level = "CornellBox";
  Scene* first = DemoLevel::Open(options);
  ASSERT_NE(first, nullptr);
  const std::string firstPath = first->Path();
  Transform* camera = ComponentHandler<Transform>::Get(FlyCamSystem::BasicallyEverything.at(0));

  // Frames go on while the import runs.
  auto dropAndWait = [&](const std::string& file) {
    Drop(file);
    RunStageList(engine->UpdateList, KestorEngineFlyHahaJk::SkippedUpdateIndex);
    EXPECT_TRUE(SceneDrop::Busy()) << file;
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (SceneDrop::Busy() && std::chrono::steady_clock::now() < until) {
      RunStageList(engine->UpdateList, KestorEngineFlyHahaJk::SkippedUpdateIndex);
    }
    ASSERT_FALSE(SceneDrop::Busy()) << "the import of " << file << " did not end";
    RunStageList(engine->UpdateList, KestorEngineFlyHahaJk::SkippedUpdateIndex);
  };

  {
    KestorTest::CaptureStdout console;
    dropAndWait(broken);
    EXPECT_EQ(DemoLevel::Current(), first);
    EXPECT_EQ(DemoLevel::Current()->Path(), firstPath);
    EXPECT_EQ(SceneDrop::Notice().rfind(broken + ": cannot be imported: ", 0), 0u) << SceneDrop::Notice();
    EXPECT_NE(console.Text().find(SceneDrop::Notice() + "\n"), std::string::npos) << "the console says it too";
  }

  dropAndWait(room);
  const std::string opened = dir.Path() + "/cache/KestorEngine/Imports/Levels/Room.xml";
  ASSERT_NE(DemoLevel::Current(), nullptr);
  EXPECT_EQ(DemoLevel::Current()->Path(), opened) << SceneDrop::Notice();
  EXPECT_EQ(DemoLevel::Current()->Things.count("Floor"), 1u);
  EXPECT_EQ(Scene::ActiveScenes.size(), 1u) << "the first level is gone";
  // KestorImport's view of the whole scene from the front: in front of the
  // box (engine -Y) and above the floor; Home comes back here.
  EXPECT_LT(camera->Position.y, -1.0f);
  EXPECT_GT(camera->Position.z, 0.0f);
  FlyCam* fly = ComponentHandler<FlyCam>::Get(FlyCamSystem::BasicallyEverything.at(0));
  EXPECT_EQ(fly->HomePosition, camera->Position);

  delete engine;
  DemoLevel::Close();
}
