#include "scene/Lighting.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <tuple>
#include <utility>

#include <glm/common.hpp>
#include <glm/geometric.hpp>
#include <glm/vector_relational.hpp>

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
Component* Sky::AddMe(Thing t) { return AddComponent<Sky>(t); }

void LightField::Attach() { Register<LightField>("LightField"); }
void ISArea::Attach() { Register<ISArea>("ISArea"); }
void ISContainer::Attach() { Register<ISContainer>("ISContainer"); }
void Light::Attach() { Register<Light>("Light"); }
void Sky::Attach() { Register<Sky>("Sky"); }

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

void Sky::Load(AttributeMap attributes, Scene* scene) {
  if (scene == nullptr) return;
  // Every key is optional: what a level leaves out stays as it was (black
  // sky, no sun, by default). Light is never negative, and a disc wider
  // than the half sky it can fill is no sun.
  auto has = [&](const char* key) { return attributes.count(key) != 0; };
  auto refuse = [&](const char* key, const char* needs) {
    scene->Report("\"" + std::string(key) + "\" " + needs + ", not \"" + attributes[key] + "\", left at its previous value");
  };
  for (auto [key, field] : {std::pair<const char*, glm::vec3*>{"ZenithColor", &ZenithColor},
                            {"HorizonColor", &HorizonColor},
                            {"GroundColor", &GroundColor},
                            {"SunColor", &SunColor}}) {
    glm::vec3 colour;
    if (!has(key) || !scene->ReadVec3(attributes, key, colour)) continue;
    if (glm::all(glm::greaterThanEqual(colour, glm::vec3(0.0f)))) {
      *field = colour;
    } else {
      refuse(key, "needs colours of 0 or more");
    }
  }
  for (auto [key, field, most] : {std::tuple<const char*, float*, float>{"SkyStrength", &SkyStrength, Scene::LargestNumber},
                                  {"SunStrength", &SunStrength, Scene::LargestNumber},
                                  {"SunAngle", &SunAngle, 180.0f}}) {
    float value = 0.0f;
    if (!has(key) || !scene->ReadFloat(attributes, key, value)) continue;
    if (value >= 0.0f && value <= most) {
      *field = value;
    } else {
      refuse(key, most == 180.0f ? "needs a diameter from 0 to 180 degrees" : "needs a strength of 0 or more");
    }
  }
  if (has("SunDirection")) {
    glm::vec3 d;
    if (scene->ReadVec3(attributes, "SunDirection", d)) {
      if (glm::length(d) > 0.0f && std::isfinite(glm::length(d))) {
        SunDirection = d;
      } else {
        refuse("SunDirection", "needs a direction");
      }
    }
  }
}

glm::vec3 Sky::Radiance(glm::vec3 d) const {
  const float len = glm::length(d);
  const float up = len > 0.0f ? std::clamp(d.z / len, -1.0f, 1.0f) : 0.0f;
  const glm::vec3 c = up >= 0.0f ? glm::mix(HorizonColor, ZenithColor, std::sqrt(up))
                                 : glm::mix(HorizonColor, GroundColor, std::sqrt(-up));
  return c * SkyStrength;
}

float Sky::SunSolidAngle() const {
  const float radius = std::clamp(SunAngle, 0.0f, 180.0f) * 0.5f * 3.14159265f / 180.0f;
  return 2.0f * 3.14159265f * (1.0f - std::cos(radius));
}

}  // namespace KestorEngine
