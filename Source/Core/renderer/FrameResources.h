#pragma once
// The pass table's resources made real, each by its size rule: a camera's
// targets (kept, history pairs and this frame's from the pool) and a light
// field's volumes.
#include <set>
#include <string>

#include <glm/vec3.hpp>

#include "renderer/PassTable.h"

namespace KestorEngine {

struct TargetSizes {
  int W = 0, H = 0;    // the output size
  int SW = 0, SH = 0;  // the render size
};

// Width, height and depth of `r` under its rule (depth 1 for a 2D target);
// `field` is the light field's voxels for the light-field rule.
glm::ivec3 ResourceSize(const ResourceSpec& r, const TargetSizes& sizes, glm::ivec3 field = glm::ivec3(0));

// Makes ready the camera resources named in `names` that `t` keeps: kept
// and history ones stay while their size still fits (a history pair is
// remade whole), this frame's ones come from the pool. False when the pool
// refused one that is not optional: the frame's ones are handed back then
// and the camera draws nothing. The optional ones it refused go in
// `refused`, the kept ones it made afresh (holding nothing yet) in `made`.
bool AcquireCameraTargets(const PassTable& table, const std::set<std::string>& names, CameraTargets& t,
                          const TargetSizes& sizes, std::set<std::string>& refused,
                          std::set<std::string>* made = nullptr);
// Hands this frame's resources back to the pool.
void ReleaseFrameTargets(const PassTable& table, CameraTargets& t);
// The two textures of history `r` trade places.
void SwapHistory(const ResourceSpec& r, CameraTargets& t);
// The camera's texture of `r` (a history's latest), or null for a resource
// that is not a camera's.
Texbit* CameraTexture(const ResourceSpec& r, CameraTargets& t);
// The light field's volume of `r` (`other`: the other of its pair), or null
// for a resource that is not a light field's.
Texbit* FieldVolume(const ResourceSpec& r, LightField& l, bool other = false);

// Makes every light-field volume of the table for `l` at `voxels` per axis
// (a cascaded field's levels stacked along Z).
void MakeFieldVolumes(const PassTable& table, LightField& l, glm::ivec3 voxels);
// Bytes a texel of `format` holds.
int TexelBytes(TextureFormats format);
// Bytes of the volumes MakeFieldVolumes makes at `voxels` (mip levels
// included), without GL: what a budget is held against.
long long FieldVolumeBytes(const PassTable& table, glm::ivec3 voxels, bool cascaded);
// Prints one line per volume of `l` with its size in bytes as GL reports
// it (every level, the bits of its components), then the total, each line
// starting with `owner`; returns the total.
long long ReportFieldMemory(const PassTable& table, const std::string& owner, LightField& l);
// Deletes them all and forgets what the field carried from frame to frame:
// the next frame that meets it starts afresh.
void ReleaseFieldVolumes(const PassTable& table, LightField& l);

}  // namespace KestorEngine
