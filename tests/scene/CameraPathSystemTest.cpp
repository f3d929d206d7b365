// Guards the scripted camera: it stands where its path says at the engine's
// clock (a fixed step: every pass the same time further), field of view
// included, after the fly camera has had its go.
#include <gtest/gtest.h>

#include <glm/trigonometric.hpp>

#include "engine/CameraPath.h"
#include "engine/Component.h"
#include "engine/Engine.h"
#include "scene/Camera.h"
#include "scene/CameraPathSystem.h"
#include "scene/FlyCam.h"
#include "scene/Transform.h"

using namespace KestorEngine;

TEST(CameraPathSystem, FollowsThePathOnTheClockAfterTheFlyCamera) {
  KestorEngineFlyHahaJk engine;
  engine.PrepareStageLists();
  CameraPathSystem::Attach(&engine);
  FlyCamSystem::Attach(&engine);
  ASSERT_TRUE(engine.UpdateList[21]) << "written at 20, then moved up by the fly camera's insertion";

  Thing camera = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(camera);
  ComponentHandler<Camera>::Gimmoo(camera);
  std::vector<CameraKey> path;
  std::string problem;
  ASSERT_TRUE(ParseCameraPath("0 0 0 1 0 0\n2 4 0 1 90 0 30\n", "path", path, problem)) << problem;
  CameraPathSystem::Follow(camera, path);
  engine.FixedStep = 0.5f;
  FlyCamSystem::pause = true;
  for (int i = 0; i < 3; ++i) engine.RunPass();  // the third pass is at 1 s
  Transform* t = ComponentHandler<Transform>::Get(camera);
  EXPECT_NEAR(glm::distance(t->Position, glm::vec3(2.0f, 0.0f, 1.0f)), 0.0f, 1e-5f);
  const glm::vec3 view = t->Rotation * glm::vec3(0.0f, 0.0f, -1.0f);
  EXPECT_NEAR(glm::distance(view, glm::normalize(glm::vec3(1.0f, 1.0f, 0.0f))), 0.0f, 1e-5f) << "yaw 45";
  EXPECT_NEAR(glm::degrees(ComponentHandler<Camera>::Get(camera)->FieldOfView), 30.0f, 1e-4f);
}
