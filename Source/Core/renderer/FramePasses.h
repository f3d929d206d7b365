#pragma once
// The functions of the frame's passes, one each, and the steps that open
// and close a light field's and a camera's share of the frame. The table
// that orders them is FrameTable() (renderer/PassTable.h).
#include "renderer/FrameContext.h"

namespace KestorEngine {

// Light field passes (FieldPasses.cpp), in frame order.
bool DrawStillVoxels(PassContext& ctx);
bool DrawStillVoxelDetail(PassContext& ctx);
bool BuildAllDistances(PassContext& ctx);
bool CopyVoxels(PassContext& ctx);
bool DrawMovingVoxels(PassContext& ctx);
bool DrawMovingVoxelDetail(PassContext& ctx);
bool BuildMovedDistances(PassContext& ctx);
bool SweepSun(PassContext& ctx);
bool InjectFieldLight(PassContext& ctx);
// A cascaded field's: the boxes of its levels that scrolled in or where
// something moved, cleared and voxelised anew, and their distances.
bool DrawLevelVoxels(PassContext& ctx);
bool DrawLevelVoxelDetail(PassContext& ctx);
bool BuildLevelDistances(PassContext& ctx);

bool RebuildsStill(const PassContext& ctx);
bool DistancesWhole(const PassContext& ctx);
bool CopiesVoxels(const PassContext& ctx);
bool DrawsMoving(const PassContext& ctx);
bool DrawsMovingDetail(const PassContext& ctx);
bool LevelsRedraw(const PassContext& ctx);

// The level arrays of a cascade (each level's window corner and its wrap
// in the volumes) for `program`: arrays reach GL as raw uploads.
void UploadCascade(unsigned program, const CascadeFrame& c);

// Camera passes (CameraPasses.cpp), in frame order.
bool DrawDepthPrePass(PassContext& ctx);
bool DrawGBuffer(PassContext& ctx);
bool DrawForward(PassContext& ctx);
bool DrawSunShadowMap(PassContext& ctx);
bool DispatchSparseLight(PassContext& ctx);
bool DispatchLighting(PassContext& ctx);
bool DrawEmission(PassContext& ctx);
bool DrawLightmap(PassContext& ctx);
bool DrawMotion(PassContext& ctx);
bool DrawTemporal(PassContext& ctx);
bool CaptureLinear(PassContext& ctx);
bool DrawPresent(PassContext& ctx);
// The frame's last pass (RenderSystem.cpp).
bool DrawGUIQueue(PassContext& ctx);

bool LightFieldReady(const PassContext& ctx);
bool TakingCapture(const PassContext& ctx);

// A light field's and a camera's share of the frame: Begin makes what the
// passes need (false: nothing to draw for it this frame), End what follows
// from them.
bool BeginField(PassContext& ctx, Thing t);
void EndField(PassContext& ctx);
bool BeginCamera(PassContext& ctx, Thing t, const std::vector<bool>& live, std::vector<bool>& dropped);
void EndCamera(PassContext& ctx);

// World box of an entry's mesh: the eight corners of its local bounds;
// false without a mesh (LightFieldStage.cpp).
bool EntryWorldBounds(const DrawEntry& e, glm::vec3& lo, glm::vec3& hi);

// Whether the world box [lo, hi] lies wholly beyond one side of the clip
// volume of `worldToClip`: nothing of it can reach the picture.
bool OutsideClip(const glm::mat4& worldToClip, const glm::vec3& lo, const glm::vec3& hi);

// Notes which probed resources (the lightmap) the program made current last
// samples; every pass calls it after making a program current.
void NoteProgramReads(PassContext& ctx);

}  // namespace KestorEngine
