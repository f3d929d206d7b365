#pragma once
#include <cstdint>
#include <glm/gtc/quaternion.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <string>
#include <vector>

#include "engine/Component.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

// Places a Thing: position, rotation and scale relative to an optional
// parent, plus the world matrices the last transform pass derived from them.
// The past matrices hold the previous pass's values, for motion vectors.
class Transform : public Component {
 public:
  void Load(AttributeMap attributes, Scene* scene) override;
  std::string Save() override { return "TRANSFORM - No Save Implemented"; }

  static Component* AddMe(Thing t);
  static void Attach();

  // Links this transform under `parent` (null makes it a root). A link that
  // would make this transform its own ancestor is refused: the traversal
  // follows parents recursively and would never end.
  bool SetParent(Transform* parent);

  glm::vec3 Position{0.0f};
  glm::vec3 Scale{1.0f};
  glm::quat Rotation{1.0f, 0.0f, 0.0f, 0.0f};  // w first in the constructor, stored x, y, z, w
  glm::mat4 World{1.0f};
  glm::mat4 WorldPast{1.0f};
  glm::mat4 WorldInverse{1.0f};
  glm::mat4 WorldInversePast{1.0f};
  Transform* Parent = nullptr;  // not owning; an element of the same static array

  // Transform pass that last recomputed this transform, so that a parent
  // shared by several children, or listed itself, is recomputed once per
  // pass and keeps the previous frame's matrices in its past fields.
  uint32_t LastPass = 0;
};

// Recomputes every transform's world matrices once per frame, parents first.
class TransformSystem {
 public:
  static void Attach(KestorEngineFlyHahaJk* engine);
  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);
  static std::string MAKETHEMATERIALREALITY(KestorEngineFlyHahaJk* engine);
  // Recomputes t and its parent chain now (each once) and returns t's World.
  static glm::mat4 TraverseTransforms(Transform* t);

  // Things whose transform is recomputed each frame, in the order their
  // transforms were added. A Thing whose transform was added twice is listed
  // twice; the pass skips entries whose transform is gone.
  static inline std::vector<Thing> BasicallyEverything;

 private:
  static glm::mat4 Visit(Transform* t);
  static inline uint32_t pass = 0;
};

}  // namespace KestorEngine
