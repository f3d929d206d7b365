#pragma once
// Where the levels of a cascaded light field lie, and what changes when
// they move: plain integer geometry, no GL.
//
// A cascaded field has Levels levels of the same voxel count N (per axis),
// level k with voxels of VoxelSize x 2^k metres, each centred on the camera
// and snapped to its own voxel grid. Voxel i of level k covers
// [i, i + 1) x voxel along each world axis; a level's window is the box of
// voxels [Origin, Origin + N). A level moves in whole steps of Step voxels
// of its own, so the boxes that scroll in and everything the occupancy's
// coarse cells (up to 8 voxels) cover stay aligned to the cells.
//
// The volumes hold each level toroidally: voxel w of a level lives at texel
// w mod N (per axis), so a level that moves keeps every voxel it still
// holds where it is and only the voxels that scrolled in are made anew.
// The levels are stacked along Z in one texture: level k's texels start at
// z = k N.z.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include <glm/vec3.hpp>

namespace KestorEngine {

namespace Cascade {

// Voxels a level moves by at a time; also the cell every box of work is
// aligned to (the coarsest occupancy cell the distance pass reads).
constexpr int Step = 8;
// The most levels a field may have, and the most voxels per level axis.
constexpr int MaxLevels = 8;
constexpr int MaxVoxels = 256;
// A level moves once the camera is this many voxels of its own off its
// window's centre along an axis: a camera hovering about a step's edge
// leaves it where it is.
constexpr int Slack = 6;
// Voxels of a finer level's window kept inside the next coarser one on
// every side, so that lighting reads can blend from one into the other.
constexpr int NestMargin = 4;

// An axis-aligned box of voxels [Lo, Hi) in one level's world voxel
// indices; empty when any side of Hi is not above Lo.
struct Box {
  glm::ivec3 Lo{0};
  glm::ivec3 Hi{0};
  bool Empty() const;
  long long Voxels() const;
  bool operator==(const Box& o) const { return Lo == o.Lo && Hi == o.Hi; }
};

Box Intersect(const Box& a, const Box& b);
Box Grow(const Box& b, int voxels);
// The smallest box of whole Step cells that holds `b`.
Box AlignOut(const Box& b);
// The voxels of one level a world-space box of metres touches, a voxel of
// room on every side (a surface on a voxel's face marks the voxel on
// either side).
Box VoxelsOf(glm::vec3 lo, glm::vec3 hi, float voxel);

// The window of a level with its corner at `origin`, `n` voxels per axis.
Box Window(glm::ivec3 origin, glm::ivec3 n);

// Where a level's window goes for a camera at `camera` (metres): centred on
// it, its corner on a multiple of Step; a level already placed at
// `current` stays until the camera is Slack voxels off its centre.
glm::ivec3 PlaceLevel(glm::vec3 camera, float voxel, glm::ivec3 n, const glm::ivec3* current);
// The origins of `levels` levels for the camera, finest first: each placed
// for the camera (those in `current` as PlaceLevel keeps them), then moved
// by whole steps where it would not hold the finer level's window with
// NestMargin of its voxels to spare.
std::vector<glm::ivec3> PlaceLevels(glm::vec3 camera, float finestVoxel, glm::ivec3 n, int levels,
                                    const std::vector<glm::ivec3>& current);
// Whether the finer window (voxels half the size) lies inside the coarser
// one with `margin` coarse voxels to spare on every side.
bool Nests(const Box& finer, const Box& coarser, int margin);

// The voxels of the window at `to` that the window at `from` did not hold,
// as disjoint boxes (at most three; the whole window when they do not
// meet).
std::vector<Box> ScrolledIn(glm::ivec3 from, glm::ivec3 to, glm::ivec3 n);

// The first texel of voxel `w` of a level (per axis: w mod n, never
// negative); the level's place in the stack is added by the caller.
glm::ivec3 Wrap(glm::ivec3 w, glm::ivec3 n);

// A box no larger than the level, cut where it wraps round the texture: up
// to eight pieces, each with its first voxel (World) and its first texel
// (Texel), both of the same size.
struct Piece {
  glm::ivec3 World{0};
  glm::ivec3 Texel{0};
  glm::ivec3 Size{0};
};
std::vector<Piece> Pieces(const Box& b, glm::ivec3 n);

// Levels needed for every point of a scene `extent` metres across (its
// largest side) to see all of it: the coarsest level twice the extent,
// at least 1, at most MaxLevels. (Inline, as LevelVoxels: the importer
// uses them without the engine's library.)
inline int LevelsFor(float extent, float finestVoxel, int voxels) {
  if (!(extent > 0.0f) || !(finestVoxel > 0.0f) || voxels < 1) return 1;
  const double finest = static_cast<double>(finestVoxel) * voxels;
  int levels = 1;
  while (levels < MaxLevels && finest * std::pow(2.0, levels - 1) < 2.0 * extent) ++levels;
  return levels;
}

// The voxels per axis a level may have: each a multiple of Step from
// 4 Step (so that the levels nest) to MaxVoxels, the asked numbers rounded
// up (NaN and below 1: the least).
inline glm::ivec3 LevelVoxels(glm::vec3 asked) {
  glm::ivec3 out;
  for (int axis = 0; axis < 3; ++axis) {
    const float a = std::isfinite(asked[axis]) ? std::clamp(asked[axis], 1.0f, static_cast<float>(MaxVoxels)) : 1.0f;
    const int up = (static_cast<int>(std::ceil(a)) + Step - 1) / Step * Step;
    out[axis] = std::clamp(up, 4 * Step, MaxVoxels);
  }
  return out;
}

// What a voxelised thing covers: its signature (what it is and where: the
// mesh, its matrix, its material's values) and its world box, metres.
struct Entry {
  std::uint64_t Signature = 0;
  glm::vec3 Lo{0.0f}, Hi{0.0f};
};

// A level's work this frame: the boxes to clear and voxelise anew (whole
// Step cells inside its window), and whether it moved (its sun's lines all
// change) or is made whole (everything).
struct LevelWork {
  std::vector<Box> Boxes;
  bool Moved = false;
  bool Whole = false;
};

// Boxes that meet or touch become their bounding box where it holds no
// more voxels than the two, until none do; more than `most` left become
// one.
std::vector<Box> Merge(std::vector<Box> boxes, size_t most = 12);

// The boxes of the levels drawn anew lately, which the injection relights
// every frame while they are young (their light starts from nothing or from
// a coarser level's, and a few rays an update every few frames would show
// as grain where the camera goes), each as the pieces of the stacked
// volumes it covers with its age in frames (0: drawn this frame).
class FreshBoxes {
 public:
  struct Fresh {
    glm::ivec3 Lo{0}, Hi{0};  // texels of the stacked volumes, [Lo, Hi)
    int Age = 0;
  };
  // Once a frame, after the plan: what each level drew this frame, kept
  // for `frames` frames (a box drawn anew again starts over).
  void Note(const std::vector<LevelWork>& work, glm::ivec3 n, int frames);
  // At most `most` pieces, the youngest first: the oldest are left to the
  // levels' usual turns.
  std::vector<Fresh> Pieces(size_t most) const;
  void Reset() { kept.clear(); }

 private:
  struct Kept {
    int Level = 0;
    Box B;
    int Age = 0;
  };
  glm::ivec3 voxels{0};
  std::vector<Kept> kept;  // youngest first
};

// What a cascaded field's volumes hold and what each frame must redo to
// keep them so. Level k catches up with things that moved every 4^k frames,
// growing as the time between its voxels' relighting does (a coarse voxel
// changes little when a small thing moves inside it, and is seen from
// afar), and at once when it moves itself; a thing that moved is redrawn
// where it was and where it is.
class Tracker {
 public:
  // The levels' window corners as the volumes hold them; empty before the
  // first plan.
  const std::vector<glm::ivec3>& Origins() const { return origins; }

  // This frame's work for a camera at `camera` and the voxelised things
  // `entries`; `rebuild`: everything anew (the first frame, a switch that
  // changes what is voxelised).
  std::vector<LevelWork> Plan(glm::vec3 camera, float finestVoxel, glm::ivec3 n, int levels,
                              const std::vector<Entry>& entries, bool rebuild);
  // Forgets everything: the next plan makes every level whole.
  void Reset();

 private:
  struct Held {
    int Count = 0;
    glm::vec3 Lo{0.0f}, Hi{0.0f};
  };
  std::vector<glm::ivec3> origins;
  std::vector<std::vector<Box>> pending;  // per level, world voxels of its own
  std::unordered_map<std::uint64_t, Held> held;
  unsigned frame = 0;
};

}  // namespace Cascade

}  // namespace KestorEngine
