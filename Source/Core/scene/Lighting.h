#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <string>
#include <utility>
#include <vector>

#include "engine/Component.h"

namespace KestorEngine {

class Texbit;
struct CascadeRecord;

// A world box, axis-aligned; empty while Lo > Hi.
struct WorldBox {
  glm::vec3 Lo{1e30f};
  glm::vec3 Hi{-1e30f};
};

// Where the scene changed lately: a box something moved out of or into, or
// that it left by going away, and for how many more frames its voxels and
// pixels take no history there.
struct ChangedBox {
  WorldBox Box;
  int FramesLeft = 0;
  // Frames in a row that something changed there: a thing that keeps
  // moving (the weathervane turning, a curtain falling) counts up.
  int Streak = 1;
};

// What the renderer carries from one frame to the next for a light field,
// besides its volumes: the light it last saw and how far it has settled,
// and what its voxels hold.
struct LightFieldState {
  // What the lit picture depends on beyond the geometry and the emitters
  // (sky, sun, the lighting switches), as last seen.
  std::uint64_t LightingSignature = 0;
  std::uint64_t ShownLightSignature = 0;
  // How much light the scene held when last seen (a rough power), and for
  // how many more frames the injection relights every voxel without history
  // after it changed a lot: a lamp switched off leaves at once.
  float LightPower = -1.0f;
  int Settling = 0;
  bool WasSettling = false;
  // The share of the voxels' light that the first relit frame after such a
  // change gathers again: the new power over the old where it fell, so that
  // light gone out does not bounce on.
  float CarriedLight = 1.0f;
  // The signatures of the entries in the static copy and of what the
  // volumes hold now (sorted), whether the curtain is in them, and the
  // switches they were built under.
  std::vector<std::uint64_t> StaticEntries;
  std::vector<std::uint64_t> HeldEntries;
  bool HeldParticles = false;
  bool VoxelsValid = false;
  std::uint64_t VoxelSwitches = 0;
  // Entries drawn into the volumes in the last frame that updated them (the
  // curtain not counted).
  int VoxelisedEntries = 0;
  // A cascaded field's record of where its levels lie and what they hold
  // (renderer/FrameContext.h); made by the renderer when it first meets it.
  std::shared_ptr<CascadeRecord> Levels;
  // The sun the levels were last swept for.
  glm::vec3 SweptSun{0.0f};
  // A fixed grid's last sweep: the sun, the field's place and the volume
  // it went into, and how many frames of moving casters it missed since.
  glm::vec3 SweptFieldSun{0.0f};
  glm::mat4 SweptPlace{0.0f};
  const void* SweptVolume = nullptr;
  int SweptBehind = 0;
  // The voxelised entries of the last frame, by signature (sorted) with the
  // world box each covered, and the boxes where the scene changed lately.
  std::vector<std::pair<std::uint64_t, WorldBox>> LastBoxes;
  std::vector<ChangedBox> Changed;
};

// The box (placed and sized by the Thing's Transform) in which the renderer
// voxelises the scene and traces light; or, cascaded (a VoxelSize given),
// levels of Resolution voxels each, the finest of VoxelSize metres and each
// next one of twice the voxel, centred on the camera wherever it goes: a
// scene of any size at the cost of a few fixed volumes. The Transform of a
// cascaded field places nothing.
class LightField : public Component {
 public:
  void Load(AttributeMap attributes, Scene* scene) override;
  std::string Save() override { return "LIGHTFIELD - No Save Implemented"; }
  static Component* AddMe(Thing t);
  static void Attach();

  static constexpr int MaxLevels = 8;
  // Finest voxels a level may ask for, and coarsest, in metres.
  static constexpr float MinVoxelSize = 1e-3f;
  static constexpr float MaxVoxelSize = 1e3f;

  bool Cascaded() const { return VoxelSize > 0.0f; }

  glm::vec3 Resolution{0.0f};  // voxels per axis (of each level, cascaded)
  float VoxelSize = 0.0f;      // metres, of the finest level; 0: one grid
  int32_t Levels = 1;          // cascaded: levels, each twice the last
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
  // What the voxelisation writes and the light injection reads: albedo and
  // normal packed per voxel (RG32UI), and emitted radiance (RGBA16F, alpha 1
  // where an ISArea samples the emitter, 2 where none does). Volume and
  // VolumeBack hold the light the voxels reflect, in the same unit; the
  // irradiance pair the light that reaches them from other surfaces and the
  // sky (the indirect light), which the camera passes spread over pixels.
  Texbit* MaterialVolume = nullptr;
  Texbit* EmissionVolume = nullptr;
  Texbit* IrradianceVolume = nullptr;
  Texbit* IrradianceBack = nullptr;
  // The indirect light averaged over each surface's neighbouring voxels,
  // what the pixels read.
  Texbit* IrradianceFiltered = nullptr;
  // What a voxel's one plane cannot tell (R32UI, gathered with atomic ors
  // by the voxelisation): the ways its surfaces face and where, whether it
  // holds points, and which of its eight half-voxels hold a surface
  // (VoxelRaytracing/LightField lists the bits).
  Texbit* FacingVolume = nullptr;
  // The rank of the surface that keeps each voxel's material (R32UI, an
  // atomic max by the voxelisation's first round, emptied for each).
  Texbit* RankVolume = nullptr;
  // 1 where a voxel sees the sun, 0 where something is in the way (R8,
  // sampled linearly).
  Texbit* SunVolume = nullptr;
  // The voxels of what stood still, kept apart so that a thing that moves
  // (a turning weathervane) costs only its own voxels: copies of the
  // material, emission, facings, occupancy (every level) and distance
  // volumes with the still entries alone.
  Texbit* StaticMaterial = nullptr;
  Texbit* StaticEmission = nullptr;
  Texbit* StaticFacing = nullptr;
  Texbit* StaticSkip = nullptr;
  Texbit* StaticDistance = nullptr;
  // Volumes of passes whose resources name no field above, by resource
  // name ([1] the other of a pair).
  std::map<std::string, std::array<Texbit*, 2>> VolumesByName;
  LightFieldState State;
};

// An emitting area the lighting shaders sample directly. Its geometry comes
// from the Thing's Transform; its radiance from the emissive mesh it covers
// (the brightest camera- or voxel-drawn mesh whose bounds meet the area's),
// so a preset that changes the lamp's material changes its light too. A
// parallelogram shines from one face only, towards its local -Z (an
// unrotated area hangs like a ceiling light); a point area is a glowing ball.
class ISArea : public Component {
 public:
  void Load(AttributeMap attributes, Scene* scene) override;
  std::string Save() override { return "ISAREA - No Save Implemented"; }
  static Component* AddMe(Thing t);
  static void Attach();

  int32_t AreaType = 0;  // 0: a point with a radius; 1: a parallelogram
  float Samples = 10.0f;  // stored; the renderer does not read it
};

// The light from outside the light fields: a sky of three colours and a sun
// disc. Every value is radiance in the engine's one unit (the number a path
// tracer would use), so a sun of radiance L and solid angle W gives L x W of
// irradiance at normal incidence. A level without a Sky is black outside.
// The renderer reads the first Sky it knows every frame: presets and code
// may change the fields at any time.
class Sky : public Component {
 public:
  void Load(AttributeMap attributes, Scene* scene) override;
  std::string Save() override { return "SKY - No Save Implemented"; }
  static Component* AddMe(Thing t);
  static void Attach();

  // Radiance of the sky seen along the world direction `d` (Z up): the
  // horizon colour blends into the zenith above and the ground below.
  glm::vec3 Radiance(glm::vec3 d) const;
  // Solid angle of the sun disc, steradians.
  float SunSolidAngle() const;
  // Radiance of the disc and its irradiance on a surface facing it.
  glm::vec3 SunRadiance() const { return SunColor * SunStrength; }
  glm::vec3 SunIrradiance() const { return SunRadiance() * SunSolidAngle(); }

  glm::vec3 ZenithColor{0.0f};
  glm::vec3 HorizonColor{0.0f};
  glm::vec3 GroundColor{0.0f};
  float SkyStrength = 1.0f;                   // scales the three colours
  glm::vec3 SunDirection{0.0f, 0.0f, 1.0f};   // towards the sun; any length
  glm::vec3 SunColor{1.0f};
  float SunStrength = 0.0f;                   // 0: no sun
  float SunAngle = 0.53f;                     // apparent diameter, degrees
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
