#include "renderer/DemoLevel.h"

#include <glm/geometric.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "engine/CommandLine.h"
#include "engine/Component.h"
#include "engine/Resource.h"
#include "engine/Scene.h"
#include "render/Texbit.h"
#include "cloth/Cloth.h"
#include "renderer/DemoComposition.h"
#include "renderer/FrameResources.h"
#include "renderer/RenderSystem.h"
#include "renderer/SidePanel.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"

namespace KestorEngine {

namespace {

struct Held {
  Resource<Scene> Level;
  Thing Camera = Thing::GimmeDud();
  SkyChoice Sky = SkyChoice::Level;
};

Held& State() {
  static Held* held = new Held();
  return *held;
}

// The renderer makes a light field's volumes the first time it meets it and
// frees none of them: a level that goes takes them along.
void ReleaseVolumes(LightField& l) { ReleaseFieldVolumes(FrameTable(), l); }

// Component storage keeps its fields when a component goes; the mesh
// renderer's would keep the old level's meshes and materials alive.
void ForgetThings(Scene& level) {
  for (const auto& named : level.Things) {
    const Thing t = named.second;
    if (LightField* l = ComponentHandler<LightField>::Get(t)) ReleaseVolumes(*l);
    Thing::HereItsBunk(t);
    if (t.IsValid()) ComponentHandler<MeshRenderer>::Components[t.ID] = MeshRenderer();
  }
  level.Things.clear();
}

std::vector<Sky*> SkiesOf(Scene& level) {
  std::vector<Sky*> skies;
  for (const auto& named : level.Things) {
    if (Sky* sky = ComponentHandler<Sky>::Get(named.second)) skies.push_back(sky);
  }
  return skies;
}

Sky& AddSky(Scene& level) {
  Thing t = Thing::Gimme();
  ComponentHandler<Sky>::Gimmoo(t);
  std::string name = "Sky";
  while (level.Things.count(name) != 0) name += "+";
  level.Things[name] = t;
  Sky* sky = ComponentHandler<Sky>::Get(t);
  static Sky none;
  return sky != nullptr ? *sky : none;  // a dud Thing (all ids taken) gets a sky nobody reads
}

}  // namespace

SkyChoice DemoLevel::ChoiceOf(const std::string& option) {
  if (option == "day") return SkyChoice::Day;
  if (option == "none") return SkyChoice::None;
  return SkyChoice::Level;
}

void DemoLevel::Daylight(Sky& sky) {
  sky.ZenithColor = glm::vec3(0.16f, 0.25f, 0.45f);
  sky.HorizonColor = glm::vec3(0.55f, 0.42f, 0.34f);
  sky.GroundColor = glm::vec3(0.08f, 0.07f, 0.06f);
  sky.SkyStrength = 1.0f;
  sky.SunDirection = glm::normalize(glm::vec3(30.0f, -40.0f, 18.0f));
  sky.SunColor = glm::vec3(1.0f, 0.78f, 0.55f);
  sky.SunAngle = 0.53f;
  // The old sun was a ball of radius 3 at 53 units giving 1.7 of irradiance;
  // the disc keeps the irradiance at the Sky's own, sharper size.
  sky.SunStrength = 1.7f / sky.SunSolidAngle();
}

void DemoLevel::Darkness(Sky& sky) {
  sky.SkyStrength = 0.0f;
  sky.SunStrength = 0.0f;
}

void DemoLevel::ChooseSky(Scene& level, SkyChoice choice) {
  std::vector<Sky*> skies = SkiesOf(level);
  // Presets light a level's own daylight (the street's); a sky the program
  // gave, and darkness a level asked for, stay as they are.
  bool lit = false;
  for (const Sky* sky : skies) lit = lit || sky->SkyStrength != 0.0f || sky->SunStrength != 0.0f;
  PresetsSetTheSky = choice == SkyChoice::Level && lit;
  if (choice == SkyChoice::Level) {
    if (!skies.empty()) return;
    Daylight(AddSky(level));
    std::cout << level.Path() << ": no Sky, so lit by the default daylight (--sky none keeps it dark outside)"
              << std::endl;
    return;
  }
  if (skies.empty()) skies.push_back(&AddSky(level));
  for (Sky* sky : skies) {
    if (choice == SkyChoice::Day) {
      Daylight(*sky);
    } else {
      Darkness(*sky);
    }
  }
}

Scene* DemoLevel::Open(const LaunchOptions& options) {
  Held& held = State();
  held.Sky = ChoiceOf(options.Sky);
  held.Level = Resources<Scene>::Get(SelectLevel(options.Level));
  Scene* level = held.Level ? &*held.Level : nullptr;
  if (level != nullptr) ChooseSky(*level, held.Sky);
  held.Camera = BuildStartCamera(options, level);
  return level;
}

Scene* DemoLevel::Replace(const std::string& path) {
  Held& held = State();
  if (held.Level) ForgetThings(*held.Level);
  // Released before the new one loads: the same file imported again must be
  // read anew, not found in the cache.
  held.Level = Resource<Scene>();
  held.Level = Resources<Scene>::Get(SelectLevel(path));
  Scene* level = held.Level ? &*held.Level : nullptr;
  if (level != nullptr) ChooseSky(*level, held.Sky);
  if (!held.Camera.IsDud()) PlaceCamera(held.Camera, LaunchOptions(), level);
  // What the camera's history and the curtain hold belongs to the old level.
  if (KestorEngine::Camera* c = ComponentHandler<KestorEngine::Camera>::Get(held.Camera)) {
    c->Targets.FramesSinceLightChange = 0;
  }
  ResetParticles();
  ResetConstraints();
  return level;
}

Scene* DemoLevel::Current() {
  Held& held = State();
  return held.Level ? &*held.Level : nullptr;
}

Thing DemoLevel::Camera() { return State().Camera; }

void DemoLevel::Close() { State().Level = Resource<Scene>(); }

}  // namespace KestorEngine
