#include "scene/Physics.h"

#include <algorithm>
#include <cmath>
#include <glm/vec4.hpp>
#include <limits>

#include "render/Mesh.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

bool AllFinite(glm::vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Reported for a ray that starts strictly inside but whose exit distances all
// underflowed to zero.
constexpr float NoExit = 1e12f;

}  // namespace

// ---------------------------------------------------------------------------
// Ray-box test

bool Physics::IntersectCoarse(Ray ray, glm::vec3 boxMin, glm::vec3 boxMax, float* t) {
  float scratch;
  if (t == nullptr) t = &scratch;
  *t = -1.0f;

  const glm::vec3 o = ray.Origin;
  const glm::vec3 d = ray.Direction;
  if (!AllFinite(o) || !AllFinite(d) || !AllFinite(boxMin) || !AllFinite(boxMax)) return false;
  if (d == glm::vec3(0.0f)) return false;
  // An inverted box would be hit as if its corners were swapped, and a point
  // box is what a collider holds before its first refit: neither is a target.
  if (glm::any(glm::lessThan(boxMax, boxMin)) || boxMin == boxMax) return false;

  constexpr float inf = std::numeric_limits<float>::infinity();
  float tmin = -inf, tmax = inf;
  float exit = inf;  // nearest strictly positive slab distance
  bool strictlyInside = true;
  for (int axis = 0; axis < 3; ++axis) {
    if (!(boxMin[axis] < o[axis] && o[axis] < boxMax[axis])) strictlyInside = false;
    if (d[axis] == 0.0f) {
      // Parallel to this slab: the ray is between its planes for all t or for
      // none. Dividing would give 0 * inf = NaN for an origin on a plane.
      if (o[axis] < boxMin[axis] || o[axis] > boxMax[axis]) return false;
      continue;
    }
    // Divided rather than multiplied by the reciprocal: a subnormal direction
    // component has an infinite reciprocal, and 0 * inf is NaN.
    const float t1 = (boxMin[axis] - o[axis]) / d[axis];
    const float t2 = (boxMax[axis] - o[axis]) / d[axis];
    for (float s : {t1, t2}) {
      if (s > 0.0f && s < exit) exit = s;
    }
    tmin = std::max(tmin, std::min(t1, t2));
    tmax = std::min(tmax, std::max(t1, t2));
  }

  if (strictlyInside) {
    *t = exit < inf ? exit : NoExit;
    return true;
  }
  // Only an origin on the surface gives a negative entry: the ray touches the
  // box where it starts, not behind it. An entry that overflowed to infinity
  // is no hit.
  const float entry = std::max(tmin, 0.0f);
  if (tmax >= 0.0f && tmax >= tmin && std::isfinite(entry)) {
    *t = entry;
    return true;
  }
  *t = tmax;
  return false;
}

// ---------------------------------------------------------------------------
// PhysicsSystem

void PhysicsSystem::GoodYumidk(Thing t) {
  if (ComponentHandler<Collider>::Get(t) != nullptr && ComponentHandler<Transform>::Get(t) != nullptr) {
    CollidableThings.push_back(t);
  }
}

void PhysicsSystem::FoodGoSad(Thing t) {
  if (ComponentHandler<Collider>::Get(t) != nullptr && ComponentHandler<Transform>::Get(t) != nullptr) return;
  auto it = std::find(CollidableThings.begin(), CollidableThings.end(), t);
  if (it != CollidableThings.end()) CollidableThings.erase(it);
}

bool PhysicsSystem::Raycast(Ray ray, Collider** hit, float* distance) {
  Collider* nearest = nullptr;
  float best = Far;
  for (size_t i = 0; i < CollidableThings.size(); ++i) {
    Thing thing = CollidableThings[i];
    Collider* collider = ComponentHandler<Collider>::Get(thing);
    if (collider == nullptr || collider->Mesh == nullptr || ComponentHandler<Transform>::Get(thing) == nullptr) {
      continue;
    }
    float t;
    if (Physics::IntersectCoarse(ray, collider->Min, collider->Max, &t) && t < best) {
      best = t;
      nearest = collider;
    }
  }
  if (hit != nullptr) *hit = nearest;
  if (distance != nullptr) *distance = best;
  return nearest != nullptr;
}

void PhysicsSystem::BoundsPoint(glm::vec3* min, glm::vec3* max, glm::vec3 point) {
  for (int axis = 0; axis < 3; ++axis) {
    if (point[axis] < (*min)[axis]) (*min)[axis] = point[axis];
    if (point[axis] > (*max)[axis]) (*max)[axis] = point[axis];
  }
}

std::string PhysicsSystem::IsRealityTemporallyCoherentEverywhere(KestorEngineFlyHahaJk*) {
  for (size_t i = 0; i < CollidableThings.size(); ++i) {
    Thing thing = CollidableThings[i];
    Collider* collider = ComponentHandler<Collider>::Get(thing);
    Transform* transform = ComponentHandler<Transform>::Get(thing);
    if (collider == nullptr || transform == nullptr || collider->Mesh == nullptr) continue;

    // Starting from the far clamp, inverted: corners beyond it on one side
    // leave that side at the clamp, and a refit that finds no finite corner
    // leaves an inverted box that no ray hits.
    collider->Min = glm::vec3(Far);
    collider->Max = glm::vec3(-Far);
    const glm::vec3 lo = collider->Mesh->BoundsMin;
    const glm::vec3 hi = collider->Mesh->BoundsMax;
    for (int corner = 0; corner < 8; ++corner) {
      glm::vec3 local((corner & 1) ? hi.x : lo.x, (corner & 2) ? hi.y : lo.y, (corner & 4) ? hi.z : lo.z);
      BoundsPoint(&collider->Min, &collider->Max, mul_pos(transform->World, local));
    }
  }
  return "";
}

glm::vec3 mul_pos(const glm::mat4& m, glm::vec3 p) {
  glm::vec4 q = m * glm::vec4(p, 1.0f);
  return glm::vec3(q) / q.w;
}

}  // namespace KestorEngine
