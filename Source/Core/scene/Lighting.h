#pragma once
#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <string>

#include "engine/Component.h"

namespace KestorEngine {

class Texbit;

// The box (placed and sized by the Thing's Transform) in which the renderer
// voxelises the scene and traces light.
class LightField : public Component {
 public:
  void Load(AttributeMap attributes, Scene* scene) override;
  std::string Save() override { return "LIGHTFIELD - No Save Implemented"; }
  static Component* AddMe(Thing t);
  static void Attach();

  glm::vec3 Resolution{0.0f};  // voxels per axis
  float InvTexSizeBias = 1.2f;
  float RayStepFactor = 2.0f;  // a level's light field always loads 1.0
  float RayStepMultiplier = 32.0f;
  float RayStepMax = 20.0f;

  // The renderer's state, filled the first time it meets this light field.
  // The volumes are not owned here.
  glm::mat4 WorldToLocal{1.0f};
  glm::mat4 WorldToLocalPast{1.0f};
  Texbit* Volume = nullptr;
  Texbit* VolumeBack = nullptr;
  Texbit* FogVolume = nullptr;
  Texbit* DistanceVolume = nullptr;
  Texbit* SkipVolume = nullptr;
  Texbit* SkipBits = nullptr;
  int32_t VoxelPhase = 0;
};

// An emitting area the lighting shaders sample directly. Its geometry comes
// from the Thing's Transform.
class ISArea : public Component {
 public:
  void Load(AttributeMap attributes, Scene* scene) override;
  std::string Save() override { return "ISAREA - No Save Implemented"; }
  static Component* AddMe(Thing t);
  static void Attach();

  int32_t AreaType = 0;  // 0: a point with a radius; 1: a parallelogram
  float Samples = 10.0f;  // stored; the renderer does not read it
};

// A marker a level may put on any Thing; nothing reads it.
class ISContainer : public Component {
 public:
  std::string Save() override { return "ISCONTAINER - No Save Implemented"; }
  static Component* AddMe(Thing t);
  static void Attach();
};

// Registered only on request: the program itself does not let levels name
// "Light", and nothing reads its settings, so it carries none.
class Light : public Component {
 public:
  std::string Save() override { return "LIGHT - No Save Implemented"; }
  static Component* AddMe(Thing t);
  static void Attach();
};

}  // namespace KestorEngine
