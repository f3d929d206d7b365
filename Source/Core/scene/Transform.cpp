#include "scene/Transform.h"

#include <algorithm>
#include <cmath>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/mat3x3.hpp>
#include <iostream>

#include "engine/Debug.h"
#include "engine/Engine.h"
#include "engine/MathChecks.h"
#include "engine/Scene.h"

namespace KestorEngine {

namespace {

// World-to-local for a matrix whose bottom row is (0, 0, 0, 1). A singular
// 3 x 3 block (a zero scale) has no inverse; the caller keeps the last one.
bool AffineInverse(const glm::mat4& world, glm::mat4& out) {
  glm::mat3 block(world);
  float det = glm::determinant(block);
  if (det == 0.0f || !std::isfinite(det)) return false;
  glm::mat3 inverse = glm::inverse(block);
  glm::mat4 result(inverse);
  result[3] = glm::vec4(-(inverse * glm::vec3(world[3])), 1.0f);
  if (!AllFinite(result)) return false;
  out = result;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Transform

Component* Transform::AddMe(Thing t) { return AddComponent<Transform>(t); }

void Transform::Attach() {
  RegisterComponentType<Transform>("Transform");
  std::cout << "Attach Transform" << std::endl;
}

bool Transform::SetParent(Transform* parent) {
  for (Transform* up = parent; up != nullptr; up = up->Parent) {
    if (up == this) return false;
  }
  Parent = parent;
  return true;
}

void Transform::Load(AttributeMap attributes, Scene* scene) {
  auto position = attributes.find("Position");
  Debug::Log("POS: " + (position != attributes.end() ? position->second : std::string()) + "\n");
  if (scene == nullptr) return;

  scene->ReadVec3(attributes, "Position", Position);
  glm::vec4 wxyz;
  if (scene->ReadVec4(attributes, "Rotation", wxyz)) Rotation = glm::quat(wxyz.x, wxyz.y, wxyz.z, wxyz.w);
  scene->ReadVec3(attributes, "Scale", Scale);

  // A parent whose element comes later in the file has no transform yet:
  // the link stays empty and the child stays in world coordinates.
  Thing parentThing;
  Transform* parent = nullptr;
  if (scene->ReadThing(attributes, "Parent", parentThing)) parent = ComponentHandler<Transform>::Get(parentThing);
  if (!SetParent(parent)) {
    // Reachable through a Thing naming itself, or a duplicate Thing name
    // sending a second transform element to an earlier Thing.
    scene->Report("\"Parent\" \"" + attributes["Parent"] +
                  "\" would make the transform its own ancestor, left without a parent");
    Parent = nullptr;
  }
}

// ---------------------------------------------------------------------------
// TransformSystem

void TransformSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->UpdateList[30] = [engine] { return MAKETHEMATERIALREALITY(engine); };
  Thing::HereItsFunc.push_back(&ComponentHandler<Transform>::HereItsBunk);
  ComponentHandler<Transform>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Transform>::FoodGoSad.push_back(&FoodGoSad);
}

void TransformSystem::GoodYumidk(Thing t) {
  if (ComponentHandler<Transform>::Get(t) != nullptr) BasicallyEverything.push_back(t);
}

void TransformSystem::FoodGoSad(Thing t) {
  if (ComponentHandler<Transform>::Get(t) != nullptr) return;
  auto listed = std::find(BasicallyEverything.begin(), BasicallyEverything.end(), t);
  if (listed != BasicallyEverything.end()) BasicallyEverything.erase(listed);
}

std::string TransformSystem::MAKETHEMATERIALREALITY(KestorEngineFlyHahaJk*) {
  ++pass;
  for (size_t i = 0; i < BasicallyEverything.size(); ++i) {
    if (Transform* t = ComponentHandler<Transform>::Get(BasicallyEverything[i])) Visit(t);
  }
  return "";
}

glm::mat4 TransformSystem::TraverseTransforms(Transform* t) {
  ++pass;
  return Visit(t);
}

// The stamp is set before the parent is visited, so even a parent cycle made
// by assigning Parent directly ends instead of recursing forever.
glm::mat4 TransformSystem::Visit(Transform* t) {
  if (t->LastPass == pass) return t->World;
  t->LastPass = pass;

  t->WorldPast = t->World;
  glm::mat4 local = glm::translate(glm::mat4(1.0f), t->Position) * glm::mat4_cast(t->Rotation) *
                    glm::scale(glm::mat4(1.0f), t->Scale);
  t->World = t->Parent != nullptr ? Visit(t->Parent) * local : local;

  t->WorldInversePast = t->WorldInverse;
  AffineInverse(t->World, t->WorldInverse);
  return t->World;
}

}  // namespace KestorEngine
