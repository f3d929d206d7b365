// The frame's passes and resources, in the order they run.
#include <utility>

#include "renderer/FramePasses.h"
#include "renderer/PassTable.h"
#include "renderer/RenderSettings.h"
#include "renderer/SunShadow.h"

namespace KestorEngine {

namespace {

using F = TextureFormats;

ResourceSpec Outside(const char* name, bool leaves = false) {
  ResourceSpec r;
  r.Name = name;
  r.Leaves = leaves;
  return r;
}

ResourceSpec ForCamera(const char* name, SizeRule size, Lifetime life, F format, Texbit* CameraTargets::*slot,
                       Texbit* CameraTargets::*other = nullptr) {
  ResourceSpec r;
  r.Name = name;
  r.Size = size;
  r.Life = life;
  r.Format = format;
  r.Slot = slot;
  r.Other = other;
  return r;
}

ResourceSpec ForField(const char* name, F format, Texbit* LightField::*slot, Texbit* LightField::*other = nullptr) {
  ResourceSpec r;
  r.Name = name;
  r.Size = SizeRule::LightField;
  r.Life = Lifetime::Field;
  r.Format = format;
  r.FieldSlot = slot;
  r.FieldOther = other;
  return r;
}

ResourceSpec With(ResourceSpec r, SizeRule size) {
  r.Size = size;
  return r;
}
ResourceSpec Mipmapped(ResourceSpec r) {
  r.Mipmaps = true;
  return r;
}
ResourceSpec ClearedWhenMade(ResourceSpec r) {
  r.ClearWhenMade = true;
  return r;
}
ResourceSpec Optional(ResourceSpec r) {
  r.Optional = true;
  return r;
}
ResourceSpec OneGrid(ResourceSpec r) {
  r.OneGridOnly = true;
  return r;
}
ResourceSpec Linear(ResourceSpec r) {
  r.Filter = 1;
  return r;
}
// Light-field volumes `scale` times the field's voxels per axis, or of a
// fixed extent along the axes `fixed` gives above 0.
ResourceSpec Sized(ResourceSpec r, int scale, glm::ivec3 fixed = glm::ivec3(0)) {
  r.Scale = scale;
  r.FixedSize = fixed;
  return r;
}

// The sun's shadow map and its summaries: a camera's, kept from frame to
// frame (a still scene draws nothing again), at the size "Sun Shadow Map"
// asks for.
ResourceSpec SunShadowRow(const char* name, F format, glm::ivec3 (*size)()) {
  ResourceSpec r = ForCamera(name, SizeRule::Fixed, Lifetime::Kept, format, nullptr);
  r.FixedBy = size;
  return r;
}

// Made once by SetupLightmap, not by the table.
ResourceSpec Lightmap() {
  ResourceSpec r = Outside("TempLightmapStopgap");
  r.Size = SizeRule::Fixed;
  r.FixedSize = glm::ivec3(256, 256, 1);  // level 2 of the 1024 x 1024 lightmap
  r.Probed = true;
  return r;
}

std::vector<ResourceSpec> Resources() {
  using C = CameraTargets;
  using L = LightField;
  const SizeRule render = SizeRule::Render, half = SizeRule::HalfRender, window = SizeRule::Window;
  ResourceSpec fog = Linear(ForField("Fog", F::RGBA16F, &L::FogVolume));
  fog.Size = SizeRule::Fixed;
  fog.FixedSize = glm::ivec3(64);
  return {
      Outside("Scene"),
      Outside("Curtain"),
      Outside("GUI queue"),
      With(Outside("Window", true), SizeRule::Window),
      Outside("Light field"),
      Outside("Capture"),
      Lightmap(),
      // A light field's volumes, in the order they are made.
      ClearedWhenMade(Mipmapped(ForField("Radiance", F::RGBA16F, &L::Volume, &L::VolumeBack))),
      fog,
      Mipmapped(Sized(ForField("Occupancy", F::R8, &L::SkipVolume), 2)),
      OneGrid(Sized(ForField("OccupancyBits", F::R32UI, &L::SkipBits), 1, glm::ivec3(0, 0, 80))),
      ForField("Distance", F::R8UI, &L::DistanceVolume),
      ForField("Material", F::RG32UI, &L::MaterialVolume),
      ForField("Facing", F::R32UI, &L::FacingVolume),
      ForField("SurfaceRank", F::R32UI, &L::RankVolume),
      ForField("Emission", F::RGBA16F, &L::EmissionVolume),
      ClearedWhenMade(ForField("Irradiance", F::RGBA16F, &L::IrradianceVolume, &L::IrradianceBack)),
      ClearedWhenMade(ForField("FilteredIrradiance", F::RGBA16F, &L::IrradianceFiltered)),
      Linear(ForField("Sunlight", F::RG8, &L::SunVolume)),
      // The copies of what stands still: a cascaded field rebuilds the boxes
      // where something moved instead.
      OneGrid(Mipmapped(Sized(ForField("StillOccupancy", F::R8, &L::StaticSkip), 2))),
      OneGrid(ForField("StillDistance", F::R8UI, &L::StaticDistance)),
      OneGrid(ForField("StillMaterial", F::RG32UI, &L::StaticMaterial)),
      OneGrid(ForField("StillFacing", F::R32UI, &L::StaticFacing)),
      OneGrid(ForField("StillEmission", F::RGBA16F, &L::StaticEmission)),
      // A camera's.
      ForCamera("Normals", render, Lifetime::Frame, F::RGB10A2, &C::Normals),
      ForCamera("MotionVectors", render, Lifetime::Frame, F::RG16F, &C::MotionVectors),
      ForCamera("Albedo", render, Lifetime::Frame, F::RGB8, &C::Albedo),
      ForCamera("LinearDepth", render, Lifetime::Frame, F::R16F, &C::LinearDepth),
      ForCamera("Layer1", render, Lifetime::Kept, F::RGBA16F, &C::Layer1),
      ForCamera("BufferDepth", render, Lifetime::Kept, F::Depth24Stencil8, &C::BufferDepthLayer1),
      Optional(ForCamera("SparseLight", half, Lifetime::Frame, F::RGBA32F, &C::SparseLight)),
      Optional(ForCamera("SparseReflection", half, Lifetime::Frame, F::RGBA16F, &C::SparseReflection)),
      Optional(ForCamera("SparsePlane", half, Lifetime::Frame, F::RGBA8, &C::SparsePlane)),
      // Four channels and one level: a software rasteriser reads and writes
      // those fastest, and nothing samples a smaller level of the history.
      ForCamera("BufferFinalLastFrame", window, Lifetime::History, F::RGBA16F, &C::OldLayer1, &C::OldLayer2),
      // Frames gathered, the slow mean of the neighbourhood's luminance and
      // the distance from the camera, per window pixel: the distance read
      // with the rest tells the next frame what a moving thing uncovered.
      ForCamera("Newness", window, Lifetime::History, F::RGBA16F, &C::Newness1, &C::Newness2),
      ForCamera("LastBufferDepth", render, Lifetime::History, F::R32F, &C::OldDepth1, &C::OldDepth2),
      // The cascades side by side, the same of the casters that stand
      // still alone, then per 4 x 4 block the plane of its depths and
      // whether it and the blocks around it are plain; one cascade's worth
      // of each for moving what a cascade keeps.
      SunShadowRow("SunShadowMap", F::Depth32F, &SunShadow::AtlasSize),
      SunShadowRow("SunShadowStill", F::Depth32F, &SunShadow::AtlasSize),
      SunShadowRow("SunShadowBlocks", F::RGBA32F, &SunShadow::BlocksSize),
      SunShadowRow("SunShadowHint", F::RGBA32UI, &SunShadow::BlocksSize),
      SunShadowRow("SunShadowScratch", F::Depth32F, &SunShadow::CascadeSize),
      SunShadowRow("SunShadowScratchBlocks", F::RGBA32F, &SunShadow::CascadeBlocksSize),
  };
}

// The camera passes read a field's volumes through its uniforms: one name
// stands for them all.
std::vector<std::string> FieldVolumes() { return {"Light field"}; }

template <typename... Lists>
std::vector<std::string> Join(std::vector<std::string> a, Lists... rest) {
  (a.insert(a.end(), rest.begin(), rest.end()), ...);
  return a;
}

std::vector<PassSpec> FieldPasses() {
  const RunsFor f = RunsFor::EachField;
  const std::vector<std::string> still = {"Material", "Emission", "Occupancy", "Facing", "SurfaceRank"};
  return {
      PassSpec("Voxels", f, PassKind::Draw, &DrawStillVoxels)
          .Reading({"Scene"})
          .Writing(still)
          .SwitchedBy(UpdateVoxels)
          .NeededWhen(&RebuildsStill)
          .FallingBackTo("the volumes keep what they hold"),
      PassSpec("Voxel detail", f, PassKind::Draw, &DrawStillVoxelDetail)
          .Reading({"Scene"})
          .Writing({"Occupancy", "OccupancyBits", "Facing"})
          .SwitchedBy(UpdateVoxelsHQ)
          .NeededWhen(&RebuildsStill)
          .FallingBackTo("the fine occupancy keeps what it holds"),
      PassSpec("Distance", f, PassKind::Draw, &BuildAllDistances)
          .Reading({"Occupancy"})
          .Writing({"Distance"})
          .SwitchedBy(UpdateAcceleration)
          .NeededWhen(&DistancesWhole)
          .FallingBackTo("rays step through the distances as they stand"),
      PassSpec("Voxel copy", f, PassKind::Copy, &CopyVoxels)
          .Reading({"Material", "Emission", "Occupancy", "Distance", "Facing"})
          .Writing({"Material", "Emission", "Occupancy", "Distance", "Facing", "StillMaterial", "StillEmission",
                    "StillOccupancy", "StillDistance", "StillFacing"})
          .SwitchedBy(UpdateVoxels)
          .NeededWhen(&CopiesVoxels),
      PassSpec("Moving voxels", f, PassKind::Draw, &DrawMovingVoxels)
          .TimedAs("Voxels")
          .Reading({"Scene", "Curtain"})
          .Writing(still)
          .SwitchedBy(UpdateVoxels)
          .NeededWhen(&DrawsMoving)
          .FallingBackTo("what moves stays where it was last voxelised"),
      PassSpec("Moving voxel detail", f, PassKind::Draw, &DrawMovingVoxelDetail)
          .TimedAs("Voxel detail")
          .Reading({"Scene", "Curtain"})
          .Writing({"Occupancy", "OccupancyBits", "Facing"})
          .SwitchedBy(UpdateVoxelsHQ)
          .NeededWhen(&DrawsMovingDetail),
      PassSpec("Moving distance", f, PassKind::Draw, &BuildMovedDistances)
          .TimedAs("Distance")
          .Reading({"Occupancy"})
          .Writing({"Distance"})
          .SwitchedBy(UpdateAcceleration)
          .NeededWhen(&DrawsMoving),
      // A cascaded field's instead of the six above.
      PassSpec("Level voxels", f, PassKind::Draw, &DrawLevelVoxels)
          .Reading({"Scene", "Curtain"})
          .Writing(still)
          .SwitchedBy(UpdateVoxels)
          .NeededWhen(&LevelsRedraw)
          .FallingBackTo("the levels keep what they hold and stay where they are"),
      PassSpec("Level voxel detail", f, PassKind::Draw, &DrawLevelVoxelDetail)
          .Reading({"Scene", "Curtain"})
          .Writing({"Occupancy"})
          .SwitchedBy(UpdateVoxelsHQ)
          .NeededWhen(&LevelsRedraw)
          .FallingBackTo("the fine occupancy keeps what it holds"),
      PassSpec("Level distance", f, PassKind::Draw, &BuildLevelDistances)
          .Reading({"Occupancy"})
          .Writing({"Distance"})
          .SwitchedBy(UpdateAcceleration)
          .NeededWhen(&LevelsRedraw)
          .FallingBackTo("rays step through the distances as they stand"),
      PassSpec("Sunlight", f, PassKind::Compute, &SweepSun)
          .Reading({"Distance"})
          .Writing({"Sunlight"})
          .SwitchedBy(UpdateAcceleration)
          .FallingBackTo("the sun's visibility stays as last swept"),
      PassSpec("Light injection", f, PassKind::Compute, &InjectFieldLight)
          .Reading({"Material", "Emission", "Distance", "Facing", "Sunlight"})
          .ReadingLastFrame({"Radiance", "Irradiance"})
          .Writing({"Radiance", "Irradiance", "FilteredIrradiance", "Material"})
          .SwitchedBy(UpdateGI)
          .FallingBackTo("the voxels keep their light: frozen, not black"),
  };
}

// What several camera passes read or write under one name each.
std::vector<std::string> GBufferTargets() {
  return {"Normals", "MotionVectors", "Albedo", "LinearDepth", "BufferDepth"};
}
std::vector<std::string> HistoryTargets() { return {"BufferFinalLastFrame", "Newness", "LastBufferDepth"}; }
std::vector<std::string> SparseTargets() { return {"SparseLight", "SparseReflection", "SparsePlane"}; }
std::vector<std::string> SunTargets() { return {"SunShadowMap", "SunShadowHint"}; }

// A camera's passes in frame order, in three runs: what draws its
// surfaces and the sun's depth, what lights them, and what turns the lit
// colour into the picture shown.
std::vector<PassSpec> SurfacePasses() {
  const RunsFor c = RunsFor::EachCamera;
  return {
      PassSpec("Depth pre-pass", c, PassKind::Draw, &DrawDepthPrePass)
          .Reading({"Scene"})
          .Writing({"LinearDepth", "BufferDepth"})
          .SwitchedBy(DepthPrePass, true, false)
          .FallingBackTo("the G-buffer clears and writes the depth itself"),
      PassSpec("G-buffer", c, PassKind::Draw, &DrawGBuffer)
          .Reading({"Scene", "Curtain", "BufferDepth"})
          .Writing(GBufferTargets())
          .SwitchedBy(RenderGBuffer)
          .SwitchedBy(DeferredOrForward, true, false)
          .FallingBackTo("the lighting reads whatever the pooled targets hold"),
      PassSpec("Forward", c, PassKind::Draw, &DrawForward)
          .Reading(Join(std::vector<std::string>{"Scene", "Curtain", "BufferDepth"}, FieldVolumes()))
          .Writing({"Layer1", "MotionVectors", "BufferDepth"})
          .SwitchedBy(DeferredOrForward, false, false),
      PassSpec("Sun shadow map", c, PassKind::Draw, &DrawSunShadowMap)
          .Reading({"Scene", "Curtain"})
          .Writing({"SunShadowMap", "SunShadowStill", "SunShadowBlocks", "SunShadowHint", "SunShadowScratch",
                    "SunShadowScratchBlocks"})
          .SwitchedBy(RaycastScreen)
          .SwitchedBy(DeferredOrForward, true, false)
          .SwitchedBy(VisualizeVoxels, false)
          .FallingBackTo("the screen's sunlight comes from the light field's swept visibility"),
  };
}

std::vector<PassSpec> LightPasses() {
  const RunsFor c = RunsFor::EachCamera;
  const std::vector<std::string> gBuffer = GBufferTargets(), sparse = SparseTargets(), sun = SunTargets();
  return {
      PassSpec("Sparse light", c, PassKind::Compute, &DispatchSparseLight)
          .Reading(Join(gBuffer, sun, FieldVolumes()))
          .ReadingLastFrame(HistoryTargets())
          .Writing(sparse)
          .SwitchedBy(RaycastScreen)
          .SwitchedBy(DeferredOrForward, true, false)
          .SwitchedBy(SparseLight, true, false)
          .SwitchedBy(VisualizeVoxels, false)
          .NeededWhen(&LightFieldReady)
          .FallingBackTo("every pixel works its own light out"),
      PassSpec("Lighting", c, PassKind::Compute, &DispatchLighting)
          .Reading(Join(gBuffer, sparse, sun, FieldVolumes()))
          .ReadingLastFrame(HistoryTargets())
          .Writing({"Layer1"})
          .SwitchedBy(RaycastScreen)
          .SwitchedBy(DeferredOrForward, true, false)
          .FallingBackTo("the lit colour keeps what it held; without a light field it runs and leaves it black"),
      PassSpec("Emission", c, PassKind::Draw, &DrawEmission)
          .Reading({"Scene", "BufferDepth"})
          .Writing({"Layer1"})
          .SwitchedBy(RaycastScreen)
          .SwitchedBy(DeferredOrForward, true, false)
          .SwitchedBy(VisualizeVoxels, false)
          .FallingBackTo("emitters add nothing to the lit colour"),
      PassSpec("Lightmap", c, PassKind::Draw, &DrawLightmap)
          .Reading(Join(std::vector<std::string>{"Scene"}, FieldVolumes()))
          .Writing({"TempLightmapStopgap"})
          .SwitchedBy(UpdateGI)
          .FallingBackTo("the lightmap keeps what it holds"),
  };
}

std::vector<PassSpec> PicturePasses() {
  const RunsFor c = RunsFor::EachCamera;
  return {
      PassSpec("Motion", c, PassKind::Draw, &DrawMotion)
          .Reading({"Layer1", "BufferDepth", "MotionVectors"})
          .Writing({"MotionVectors"}),
      PassSpec("Temporal", c, PassKind::Draw, &DrawTemporal)
          .Reading({"Layer1", "MotionVectors", "BufferDepth", "LinearDepth"})
          .ReadingLastFrame(HistoryTargets())
          .Writing({"BufferFinalLastFrame", "Newness"})
          .Swapping({"BufferFinalLastFrame", "Newness"})
          .SwitchedBy(TemporalSS)
          .FallingBackTo("the present shows the lit colour; the history keeps its last content"),
      PassSpec("Capture", c, PassKind::Copy, &CaptureLinear)
          .TimedAs("")
          .Reading({"BufferFinalLastFrame", "Layer1"})
          .Writing({"Capture"})
          .NeededWhen(&TakingCapture),
      PassSpec("Present", c, PassKind::Draw, &DrawPresent)
          .Reading({"BufferFinalLastFrame", "Layer1", "MotionVectors", "BufferDepth"})
          .Writing({"Window"})
          .SwitchedBy(FinalBlitEn)
          .FallingBackTo("the window keeps what it held; the GUI is drawn over it"),
  };
}

PassTable MakeTable() {
  PassTable t;
  t.Resources = Resources();
  t.Passes = FieldPasses();
  for (auto passes : {SurfacePasses, LightPasses, PicturePasses}) {
    for (PassSpec& p : passes()) t.Passes.push_back(std::move(p));
  }
  t.Passes.push_back(PassSpec("GUI", RunsFor::Frame, PassKind::Draw, &DrawGUIQueue)
                         .Reading({"GUI queue"})
                         .Writing({"Window"}));
  return t;
}

}  // namespace

const PassTable& FrameTable() {
  // Made on first use: the switches are configuration variables registered
  // at static initialisation in another file.
  static const PassTable* table = new PassTable(MakeTable());
  return *table;
}

}  // namespace KestorEngine
