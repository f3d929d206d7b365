#include "scene/Lighting.h"

#include <cmath>
#include <iostream>

#include "engine/Scene.h"

namespace KestorEngine {

namespace {

template <typename T>
void Register(const char* name) {
  RegisterComponentType<T>(name);
  std::cout << "Attach " << name << std::endl;
}

}  // namespace

Component* LightField::AddMe(Thing t) { return AddComponent<LightField>(t); }
Component* ISArea::AddMe(Thing t) { return AddComponent<ISArea>(t); }
Component* ISContainer::AddMe(Thing t) { return AddComponent<ISContainer>(t); }
Component* Light::AddMe(Thing t) { return AddComponent<Light>(t); }

void LightField::Attach() { Register<LightField>("LightField"); }
void ISArea::Attach() { Register<ISArea>("ISArea"); }
void ISContainer::Attach() { Register<ISContainer>("ISContainer"); }
void Light::Attach() { Register<Light>("Light"); }

void LightField::Load(AttributeMap attributes, Scene* scene) {
  RayStepFactor = 1.0f;
  if (scene == nullptr) return;
  glm::vec3 resolution;
  if (!scene->ReadVec3(attributes, "Resolution", resolution)) return;
  // The renderer sizes its volumes by the integer parts: below one voxel on
  // an axis there is no volume to create.
  for (int axis = 0; axis < 3; ++axis) {
    if (!std::isfinite(resolution[axis]) || resolution[axis] < 1.0f) {
      scene->Report("\"Resolution\" needs at least one voxel per axis: \"" + attributes["Resolution"] +
                    "\", left at its previous value");
      return;
    }
  }
  Resolution = resolution;
}

void ISArea::Load(AttributeMap attributes, Scene* scene) {
  if (scene == nullptr) return;
  float type = 0.0f;
  // Only a type that truncates to 2 (a parallelogram) changes anything;
  // compared as a range so that huge values never reach an integer cast.
  if (scene->ReadFloat(attributes, "Type", type) && type >= 2.0f && type < 3.0f) AreaType = 1;
  scene->ReadFloat(attributes, "Samples", Samples);
}

}  // namespace KestorEngine
