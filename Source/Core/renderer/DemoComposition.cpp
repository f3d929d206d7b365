#include "renderer/DemoComposition.h"

#include <glm/gtc/quaternion.hpp>
#include <iostream>

#include "engine/CommandLine.h"
#include "engine/Engine.h"
#include "engine/Scene.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "render/DrawSystem.h"
#include "renderer/RenderSystem.h"
#include "renderer/SceneDrop.h"
#include "scene/Camera.h"
#include "scene/CameraPathSystem.h"
#include "scene/FlyCam.h"
#include "scene/InputSystem.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"
#include "scene/Viewpoint.h"

namespace KestorEngine {

namespace {

const Viewpoint* LevelViewpoint(const Scene& level) {
  for (const auto& named : level.Things) {
    if (const Viewpoint* view = ComponentHandler<Viewpoint>::Get(named.second)) return view;
  }
  return nullptr;
}

}  // namespace

void RegisterLevelComponents() {
  Transform::Attach();
  MeshRenderer::Attach();
  LightField::Attach();
  ISArea::Attach();
  ISContainer::Attach();
  Sky::Attach();
  Viewpoint::Attach();
}

void ComposeDemo(KestorEngineFlyHahaJk* engine) {
  RegisterLevelComponents();
  // Systems write fixed slots of the stage lists; the fly camera inserts its
  // slot, moving every later one up, so it attaches last.
  for (void (*attach)(KestorEngineFlyHahaJk*) :
       {&InputSystem::Attach, &RenderSystem::Attach, &GUI::Attach, &IMGUI::Attach, &DrawSystem::Attach,
        &TransformSystem::Attach, &MeshRendererSystem::Attach, &CameraPathSystem::Attach, &SceneDrop::Attach,
        &FlyCamSystem::Attach}) {
    engine->PrepareStageLists();
    attach(engine);
  }
}

Thing BuildStartCamera(const LaunchOptions& options, const Scene* level) {
  Thing thing = Thing::Gimme();
  // Levels leave ids for the program; only code that took them all ends here.
  if (thing.IsDud()) {
    std::cout << "No Thing id is left for the camera: nothing will be drawn" << std::endl;
    return thing;
  }
  ComponentHandler<Transform>::Gimmoo(thing);
  ComponentHandler<Camera>::Gimmoo(thing);
  ComponentHandler<FlyCam>::Gimmoo(thing);
  PlaceCamera(thing, options, level);
  return thing;
}

void PlaceCamera(Thing thing, const LaunchOptions& options, const Scene* level) {
  const Viewpoint* view = level != nullptr ? LevelViewpoint(*level) : nullptr;
  Camera* camera = ComponentHandler<Camera>::Get(thing);
  Transform* transform = ComponentHandler<Transform>::Get(thing);
  if (camera == nullptr || transform == nullptr) return;
  camera->FocalLength(24);
  if (options.FieldOfView) {
    camera->FieldOfView = glm::radians(*options.FieldOfView);
  } else if (view != nullptr && view->FieldOfView > 0.0f) {
    camera->FieldOfView = glm::radians(view->FieldOfView);
  }
  camera->UpdatePerspectiveMatrix();

  if (options.Camera || view != nullptr) {
    CameraPose pose;
    if (options.Camera) {
      pose = *options.Camera;
    } else {
      pose.Position = view->Position;
      pose.Yaw = view->Yaw;
      pose.Pitch = view->Pitch;
    }
    transform->Position = pose.Position;
    transform->Rotation = pose.Rotation();
  } else {
    transform->Position = glm::vec3(2.66f, -5.22f, 1.23f);
    const glm::quat aboutZ(0.93937272f, 0.0f, 0.0f, 0.34289780f);  // 40.107 degrees, w first
    const glm::quat aboutX(0.77418178f, 0.63296336f, 0.0f, 0.0f);  // 78.538 degrees
    transform->Rotation = aboutZ * aboutX;
  }
  // Home comes back here.
  if (FlyCam* fly = ComponentHandler<FlyCam>::Get(thing)) {
    fly->HomePosition = transform->Position;
    fly->HomeRotation = transform->Rotation;
  }
}

}  // namespace KestorEngine
