#pragma once
// Where what moved or went away leaves light and history that no longer
// hold: the boxes an entry of the scene queue or the curtain moved out of or
// into, or left by going away, kept for a few frames after. The light
// injection relights the voxels in them (and in the shadow they cast along
// the sun) without history, and the temporal pass drops the history of the
// pixels whose last point lies there, so the light a thing cast or blocked
// is worked out afresh instead of fading out over dozens of frames, and a
// thing deleted where it lay leaves no picture of itself.
#include <cstdint>
#include <vector>

#include <glm/vec3.hpp>

#include "render/DrawSystem.h"
#include "scene/Lighting.h"

namespace KestorEngine {

class UniformBuffer;

namespace StaleRegions {

// Frames a changed box stays after the last change in it: enough for the
// injection to relight each of its voxels (it takes turns over two frames)
// and for the pixels to start again from that light.
inline constexpr int KeptFrames = 2;
// At most this many boxes reach the shaders; more are merged, the pair whose
// union grows least first.
inline constexpr int MaxBoxes = 4;
// Changes in more frames in a row than this are a thing that keeps moving.
inline constexpr int SuddenFrames = 3;

// The boxes in the sun's frame: U and V across the sun's direction, L
// towards it (up when there is no sun). Each holds its world box grown by a
// margin and, under a sun, stretched away from the sun to every point whose
// line to the sun crosses it: its shadow.
struct Regions {
  glm::vec3 U{1.0f, 0.0f, 0.0f};
  glm::vec3 V{0.0f, 1.0f, 0.0f};
  glm::vec3 L{0.0f, 0.0f, 1.0f};
  std::vector<WorldBox> Boxes;  // in (U, V, L) coordinates
  // Those of changes that came lately and did not go on for more than
  // SuddenFrames (a thing deleted, made, moved once): a thing that keeps
  // moving (the weathervane) keeps its place and shadow stale for good,
  // and the pixels there would never gather; what it moves over changes
  // on screen, and the temporal pass's own checks take care of it.
  std::vector<WorldBox> Sudden;
};

// Brings `state`'s record up to this frame: the boxes it holds age by a
// frame; the entries of `queue` whose signature (`signatures`, 0 for an
// entry not voxelised) is new, and those of the last frame that are gone,
// add the box they cover (an entry that moved or changed adds both its
// boxes), as does `curtain` (what the curtain left or moved through, null
// when it did neither; `sudden` when it went away or was made: a new
// change whatever came before); beyond MaxBoxes they merge. A box that
// meets one of the last frame's continues its streak.
void NoteChanges(LightFieldState& state, const std::vector<std::uint64_t>& signatures,
                 const std::vector<DrawEntry>& queue, const WorldBox* curtain, bool sudden);

// The record's boxes in the sun's frame, `margin` metres larger all round;
// `toSun` of no length: no sun, no shadows.
Regions InSunFrame(const std::vector<ChangedBox>& changed, glm::vec3 toSun, float margin);

// For the light injection: "_StaleCount", the frame's axes "_StaleAxisU",
// "_StaleAxisV", "_StaleAxisL", and the boxes, one a column of "_StaleLo"
// and "_StaleHi".
void SetFieldUniforms(UniformBuffer& u, const Regions& r);

// For the temporal pass: "_StaleBoxes" (how many, a program each), the
// axes and the boxes of sudden changes, as above.
void SetCameraUniforms(UniformBuffer& u, const Regions& r);

}  // namespace StaleRegions
}  // namespace KestorEngine
