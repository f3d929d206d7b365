// The composition root: which component types a level may name, which
// systems run and in what order. Nothing else in the engine knows this.
#include <iostream>

#include <glm/gtc/quaternion.hpp>

#include "engine/CommandLine.h"
#include "engine/Engine.h"
#include "engine/Resource.h"
#include "engine/Scene.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "render/DrawSystem.h"
#include "renderer/FrameCapture.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "renderer/SidePanel.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/InputSystem.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"
#include "scene/Viewpoint.h"

using namespace KestorEngine;

namespace {

KestorEngineFlyHahaJk* Engine = nullptr;

template <typename System>
void AttachSystem() {
  Engine->PrepareStageLists();
  System::Attach(Engine);
}

// The level's wish for where the camera starts, if it has one.
const Viewpoint* LevelViewpoint(const Scene& level) {
  for (const auto& named : level.Things) {
    if (const Viewpoint* view = ComponentHandler<Viewpoint>::Get(named.second)) return view;
  }
  return nullptr;
}

// The fly camera's Thing: where the command line puts it, else where the
// level's Viewpoint says, else at the street's corner looking down the lane.
void BuildCamera(const LaunchOptions& options, const Viewpoint* view) {
  Thing thing = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(thing);
  ComponentHandler<Camera>::Gimmoo(thing);
  ComponentHandler<FlyCam>::Gimmoo(thing);

  Camera* camera = ComponentHandler<Camera>::Get(thing);
  camera->FocalLength(24);
  if (options.FieldOfView) {
    camera->FieldOfView = glm::radians(*options.FieldOfView);
  } else if (view != nullptr && view->FieldOfView > 0.0f) {
    camera->FieldOfView = glm::radians(view->FieldOfView);
  }
  camera->UpdatePerspectiveMatrix();

  Transform* transform = ComponentHandler<Transform>::Get(thing);
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
    return;
  }
  transform->Position = glm::vec3(2.66f, -5.22f, 1.23f);
  const glm::quat aboutZ(0.93937272f, 0.0f, 0.0f, 0.34289780f);  // 40.107 degrees, w first
  const glm::quat aboutX(0.77418178f, 0.63296336f, 0.0f, 0.0f);  // 78.538 degrees
  transform->Rotation = aboutZ * transform->Rotation * aboutX;
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine commandLine = ParseCommandLine(argc, argv, LightingPresetCount());
  if (commandLine.ExitStatus >= 0) {
    (commandLine.ExitStatus == 0 ? std::cout : std::cerr) << commandLine.Message << std::endl;
    return commandLine.ExitStatus;
  }
  const LaunchOptions& options = commandLine.Options;

  Engine = new KestorEngineFlyHahaJk();
  Engine->ConfigPath = options.ConfigPath;
  Engine->ConfigOverrides = ConfigOverrides(options);

  Transform::Attach();
  MeshRenderer::Attach();
  LightField::Attach();
  ISArea::Attach();
  ISContainer::Attach();
  Sky::Attach();
  Viewpoint::Attach();

  // Systems write fixed slots of the stage lists; the fly camera inserts its
  // slot, moving every later one up, so it attaches last.
  AttachSystem<InputSystem>();
  AttachSystem<RenderSystem>();
  AttachSystem<GUI>();
  AttachSystem<IMGUI>();
  AttachSystem<DrawSystem>();
  AttachSystem<TransformSystem>();
  AttachSystem<MeshRendererSystem>();
  AttachSystem<FlyCamSystem>();

  RenderSystem::ShowOverlay = !options.HidePanel;
  FrameCapture::FramesToRun = options.Frames;
  FrameCapture::ImagePath = options.CapturePath;
  FrameCapture::LinearPath = options.CaptureHDRPath;

  Engine->Initialize();
  // Held for the whole run; released only after the engine is gone.
  Resource<Scene> level = Resources<Scene>::Get(SelectLevel(options.Level));
  if (options.Preset) {
    LightingSetup->value = *options.Preset;
    ApplyLightingPreset(*options.Preset);
  }
  BuildCamera(options, level ? LevelViewpoint(*level) : nullptr);

  Engine->RunGame();

  delete Engine;
  Engine = nullptr;
  level = Resource<Scene>();
  // A capture that was asked for and not written is a failed run.
  return FrameCapture::Failed() ? 1 : 0;
}
