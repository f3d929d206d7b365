#pragma once
// Ray queries against world-space boxes: which collider does a ray hit
// first? Boxes follow their meshes' local bounds through the owners'
// transforms; nothing here moves anything.
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <string>
#include <vector>

#include "engine/Component.h"
#include "scene/Ray.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;
class Mesh;

namespace Physics {

// Slab test of a ray against the box [boxMin, boxMax]. On a hit *t is the ray
// parameter of the entry point, or of the exit point for a ray that starts
// strictly inside; a ray starting on the surface hits at 0. On a miss *t is
// the parameter where the ray last left a slab (negative for a box behind the
// origin), or -1 when the ray or box cannot be tested: NaN anywhere, a zero
// direction, or a box with no extent at all or with Min above Max on an axis
// (a collider never refitted, or one whose refit found no usable corner).
bool IntersectCoarse(Ray ray, glm::vec3 boxMin, glm::vec3 boxMax, float* t);

}  // namespace Physics

// A pickable box around a mesh. The box is in world space and is only as
// fresh as the last refit.
class Collider : public Component {
 public:
  KestorEngine::Mesh* Mesh = nullptr;  // not owned; whoever adds the collider sets it
  glm::vec3 Min{0.0f};
  glm::vec3 Max{0.0f};
};

// Has no stage slot: a host registers GoodYumidk/FoodGoSad with the Collider
// and Transform handlers and runs the refit once per frame, after the
// transform pass and before anything casts rays.
class PhysicsSystem {
 public:
  // Hits at this distance or farther are not reported; also the far clamp of
  // refitted boxes.
  static constexpr float Far = 10000.0f;

  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);

  // Nearest collider along the ray, in list order for equal distances.
  // Things that lost their collider or transform, and colliders without a
  // mesh, cannot be hit. Either pointer may be null.
  static bool Raycast(Ray ray, Collider** hit, float* distance);
  // Grows the box so that it holds the point; NaN coordinates are ignored.
  static void BoundsPoint(glm::vec3* min, glm::vec3* max, glm::vec3 point);
  // Refits every listed collider from its mesh's local bounds and its
  // transform's World matrix. Returns the empty text.
  static std::string IsRealityTemporallyCoherentEverywhere(KestorEngineFlyHahaJk* engine);

  // Things that have both a Collider and a Transform (duplicates possible).
  static inline std::vector<Thing> CollidableThings;
};

// m x (p, 1), divided by its w.
glm::vec3 mul_pos(const glm::mat4& m, glm::vec3 p);

}  // namespace KestorEngine
