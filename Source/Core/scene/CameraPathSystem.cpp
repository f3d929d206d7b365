#include "scene/CameraPathSystem.h"

#include <glm/trigonometric.hpp>

#include "engine/CameraPath.h"
#include "engine/Component.h"
#include "engine/Engine.h"
#include "scene/Camera.h"
#include "scene/Transform.h"

namespace KestorEngine {

void CameraPathSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->UpdateList[UpdateSlot] = [engine] { return Update(engine); };
}

void CameraPathSystem::Follow(Thing camera, std::vector<CameraKey> path) {
  Follower = camera;
  Path = std::move(path);
}

void CameraPathSystem::Place(float seconds) {
  if (Path.empty()) return;
  Transform* t = ComponentHandler<Transform>::Get(Follower);
  if (t == nullptr) return;
  const CameraKey key = CameraAt(Path, seconds);
  t->Position = key.Pose.Position;
  t->Rotation = key.Pose.Rotation();
  Camera* c = ComponentHandler<Camera>::Get(Follower);
  if (c != nullptr && key.FieldOfView) c->FieldOfView = glm::radians(*key.FieldOfView);
}

std::string CameraPathSystem::Update(KestorEngineFlyHahaJk* engine) {
  Place(engine->TimeSinceStart());
  return "";
}

}  // namespace KestorEngine
