#pragma once
// What the frame's passes share while it runs: the frame's inputs, the light
// field or camera a pass runs for, and what has been written so far. Made
// by the renderer for one frame and dropped after it; whatever outlives the
// frame belongs to a camera (CameraTargets), a light field (its volumes and
// LightFieldState) or the renderer's frame record.
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "engine/Thing.h"
#include "render/DrawSystem.h"
#include "render/ShaderUniform.h"
#include "renderer/Cascade.h"
#include "renderer/ComputePass.h"
#include "renderer/StaleRegions.h"

namespace KestorEngine {

class Camera;
class KestorEngineFlyHahaJk;
class LightField;
class PassTable;
class Texbit;
class Transform;
struct CameraTargets;

// What a cascaded field carries from frame to frame besides its volumes:
// where its levels lie and what they hold, and the list of its occupied
// voxels (two lists: the one of the last frame, and the one a frame that
// drew boxes anew makes from it).
struct CascadeRecord {
  Cascade::Tracker Tracker;
  Cascade::FreshBoxes Fresh;
  WorkList Occupied[2];
  int Current = 0;
  bool Listed = false;  // the current list holds every level's voxels
};

// A cascaded field's share of the frame: where its levels lie (as the
// volumes hold them after this frame's work) and the boxes each redraws.
struct CascadeFrame {
  bool On = false;
  int Levels = 0;
  glm::ivec3 Voxels{0};  // per level and axis
  float Voxel = 0.0f;    // the finest level's, metres
  std::vector<glm::ivec3> Origins;
  std::vector<Cascade::LevelWork> Work;
  bool AnyBoxes() const {
    for (const Cascade::LevelWork& w : Work) {
      if (!w.Boxes.empty()) return true;
    }
    return false;
  }
  float LevelVoxel(int k) const { return Voxel * static_cast<float>(1 << k); }
};

struct FrameInputs {
  KestorEngineFlyHahaJk* Engine = nullptr;
  std::vector<DrawEntry> Queue;  // the scene queue, sorted by material
  UniformBuffer Time;
  UniformBuffer IS;
  UniformBuffer Quickray;
  // The light field uniforms the camera passes read: the last field's.
  UniformBuffer Field;
  // The first light field: its volumes are the ones bound as images.
  LightField* First = nullptr;
  // Where the first field's levels lie, when it is cascaded (the camera
  // passes' rays step through them).
  CascadeFrame FirstCascade;
  // What the light fields tell the cameras' histories this frame.
  bool LightChanged = false;    // the light changed a lot (a preset, a lamp)
  bool Settling = false;        // a field still relights without history
  bool WasSettling = false;     // one did in the last frame
  bool SettlingEnded = false;   // the last field settled in this frame
  // Where what moved or went away leaves stale light and history.
  StaleRegions::Regions Stale;
  // The probed resources each program samples, asked once per program and
  // frame, and those some program of this frame sampled.
  std::unordered_map<unsigned, std::vector<std::string>> ProgramReads;
  std::set<std::string> Sampled;
};

// What the voxel passes of one light field do this frame, worked out from
// what moved since the volumes were last brought up to date.
struct VoxelSteps {
  enum class Copy { None, ToStatic, FromStatic };
  bool Rebuild = false;        // clear, then the still entries anew
  bool DistanceWhole = false;  // every distance, after the still entries
  Copy CopyStep = Copy::None;
  bool Promote = false;         // the copy takes in entries come to rest
  bool DrawMoving = false;      // the moving entries (and the curtain) on top
  bool DetailEverything = false;  // voxels frozen: the detail of all of them
  bool MovingBounded = false;   // the moving distances fit lo..hi
  glm::ivec3 MovingLo{0};
  glm::ivec3 MovingHi{0};
  std::vector<bool> Moving;     // per queue entry
  std::vector<std::uint64_t> Signatures;
  std::vector<std::uint64_t> HeldBefore;  // the field's record before this frame
};

struct FieldFrame {
  Thing Owner;
  LightField* L = nullptr;
  Transform* T = nullptr;
  LightField* First = nullptr;  // whose volumes the image units name
  UniformBuffer Voxel;
  UniformBuffer VoxelView;
  bool Particles = false;  // the curtain is drawn into the volumes
  glm::vec3 CameraPos{0.0f};  // the first camera's, which a cascade follows
  int MaxSamples = 1;
  VoxelSteps Steps;
  CascadeFrame Cascade;
};

struct CameraFrame {
  Thing Owner;
  Camera* C = nullptr;
  Transform* T = nullptr;
  CameraTargets* Targets = nullptr;
  int W = 0, H = 0;    // the output size
  int SW = 0, SH = 0;  // the render size
  bool First = false;  // the first of CameraThings
  UniformBuffer View;  // the camera uniforms: matrices, rays, sizes
  glm::mat4 WorldToClip{1.0f};  // as the scene is drawn this frame (jittered)
  UniformBuffer Surface;
  UniformBuffer Sparse;  // whether the sparse samples are there, and they
  // What the lighting reads of the sun's shadow map: "_SunShadowOn" 0
  // until the map's pass has drawn it.
  UniformBuffer Sun;
  // The kept targets made afresh for this frame: they hold nothing yet.
  std::set<std::string> Made;
};

struct PassContext {
  PassContext(const PassTable& table, FrameInputs& frame) : Table(table), Frame(frame) {}

  const PassTable& Table;
  FrameInputs& Frame;
  FieldFrame* Field = nullptr;
  CameraFrame* Camera = nullptr;
  // Resources written so far by this field's or camera's passes.
  std::set<std::string> Written;

  bool Wrote(const std::string& name) const { return Written.count(name) != 0; }
};

}  // namespace KestorEngine
