#pragma once
#include <string>
#include <vector>

#include <glm/gtc/quaternion.hpp>
#include <glm/vec3.hpp>

#include "engine/Component.h"
#include "engine/Resource.h"
#include "render/DrawSystem.h"
#include "render/Material.h"
#include "render/Mesh.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

// Makes a Thing visible: which mesh, with which materials (one per submesh,
// in order; a mesh of one index list uses the first), and in which kinds of
// pass.
class MeshRenderer : public Component {
 public:
  // Every addition starts from the fallback material alone.
  void Initialize() override;
  void Load(AttributeMap attributes, Scene* scene) override;
  std::string Save() override { return "MESHRENDERER - No Save Implemented"; }

  static Component* AddMe(Thing t);
  static void Attach();

  Resource<KestorEngine::Mesh> Mesh;
  std::vector<Resource<Material>> Materials;
  // Handed to the draw queue with every submission.
  UniformMap Uniforms;
  bool Visible = true;     // drawn by the camera passes
  bool ShadowCast = true;  // drawn into the voxel volume
  bool BounceCast = true;  // kept for the lighting presets; nothing reads it
};

// Submits the draw requests of every Thing that has both a MeshRenderer and
// a Transform, once per frame: one per submesh, or one for a whole mesh of a
// single index list.
class MeshRendererSystem {
 public:
  // Update slot 40, after the transform pass (30) and before the renderer (45).
  static constexpr size_t UpdateSlot = 40;

  // Things of exactly this scale (within SpinTolerance) turn by SpinStep
  // about world +Z every frame; the level's weathervane carries it.
  static constexpr float SpinScale = 0.272764f;
  static constexpr float SpinTolerance = 0.1f;
  static inline const glm::quat SpinStep{0.99875027f, 0.0f, 0.0f, 0.04997917f};  // 0.1 rad, w first

  static void Attach(KestorEngineFlyHahaJk* engine);
  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);
  static std::string MAKEITpretty(KestorEngineFlyHahaJk* engine);

  // Whether a Thing of this scale turns each frame.
  static bool Spins(const glm::vec3& scale);

  // Each qualifying Thing once, in the order it qualified.
  static inline std::vector<Thing> MeshyThings;
};

}  // namespace KestorEngine
