#pragma once
// The frame: voxelise the light fields, render every camera through the
// deferred pipeline (G-buffer, lighting compute, emission, lightmap, motion,
// temporal supersampling, presentation), draw the GUI queue on top and swap.
// The passes and their order are the pass table's (renderer/PassTable.h);
// this system prepares the frame's inputs and runs the table.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "engine/Resource.h"
#include "engine/Thing.h"
#include "render/DrawSystem.h"
#include "render/Shader.h"
#include "render/ShaderUniform.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;
class LightField;
class Sky;
class Transform;
class Texbit;
class RenderTexture;
class DepthTexture;
class PassTable;
struct FrameInputs;
struct CascadeFrame;

class RenderSystem {
 public:
  static constexpr std::size_t UpdateSlot = 45;

  static void Attach(KestorEngineFlyHahaJk* engine);
  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);

  // One whole frame, swap included (the window of `engine`, when it has one).
  static std::string MAKEITpretty(KestorEngineFlyHahaJk* engine);
  // The frame up to the GUI pass, without the swap and statistics: what a
  // test or benchmark without a window of its own needs.
  static void RenderFrame(KestorEngineFlyHahaJk* engine);

  static void SetupShaderResources();
  static void SetupLightmap();
  // Three numbers in 0..1 to a point of the unit ball (not normalised).
  static glm::vec3 SphereSample(glm::vec3 u);

  // Uniform buffers of the global-illumination inputs.
  static void FillISUniforms(UniformBuffer& is);
  static void FillQuickrayUniforms(UniformBuffer& quickray);
  static void FillFieldUniforms(UniformBuffer& field, LightField& l, const Transform& t);
  // "ISRadiance": each area's radiance, taken from the brightest emissive
  // entry of `queue` whose bounds meet the area's; such entries get
  // "_AreaSampled" = 1 in their own buffer, so that rays hitting them leave
  // their light to the area sampling instead of counting it twice.
  static void MatchAreaEmitters(UniformBuffer& is, std::vector<DrawEntry>& queue);
  // The sky and sun uniforms of `sky` (all zero without one: black outside).
  static void FillSkyUniforms(UniformBuffer& field, const Sky* sky);
  // The first Sky of SkyThings, or null.
  static Sky* ActiveSky();
  // The area arrays reach GL as raw array uploads (the buffer staging skips
  // arrays); for the program made current last.
  static void UploadISArrays(unsigned program, UniformBuffer& is);
  // Binds the occupied voxels' material, facings and emission to the
  // images every program that marches the field reads them through (units
  // 5 to 7).
  static void BindMarchImages(unsigned program, const LightField& l);
  // The volume size of a light field: each axis of `resolution` within 2 and
  // half of `max3DSize` (GL_MAX_3D_TEXTURE_SIZE), the whole shrunk evenly to
  // kMaxFieldVoxels; all zero when an axis is below one voxel (or NaN).
  static constexpr double kMaxFieldVoxels = 16777216.0;
  static glm::ivec3 FieldVolumeSize(glm::vec3 resolution, int max3DSize);
  // Gives every occupied voxel of `l` the light it reflects, into
  // VolumeBack; false when the pass could not run (no swap then). Each
  // voxel is relit every InjectionShare frames, in turn.
  static inline int InjectionShare = 2;
  // A cascade's level k relights its voxels every CascadeShare x
  // LevelShareGrowth^k frames: a coarse voxel is seen from afar, through
  // the finer levels' light, and half of them lie where a finer level
  // holds the scene. The finest level's own voxels wait four times as long
  // as a fixed grid's: only what it drew anew lately (Cascade::FreshBoxes),
  // where the camera goes, is relit every frame.
  static inline int CascadeShare = 8;
  static inline int FreshFrames = 8;
  static inline float LevelShareGrowth = 4.0f;
  // Where cascades' levels stay instead of following the camera, if set:
  // a flight with its levels held scrolls nothing in, so against it a
  // benchmark tells what scrolling adds from what the motion itself does.
  static inline std::optional<glm::vec3> LevelsHeldAt;
  static bool InjectLight(LightField& l, UniformBuffer& time, UniformBuffer& is, UniformBuffer& voxel);
  // The same for a cascade's levels: its list of occupied voxels brought up
  // to date where boxes were drawn anew, this frame's share of them relit
  // into VolumeBack and published into Volume (no swap).
  static bool InjectLevels(LightField& l, const CascadeFrame& c, UniformBuffer& time, UniformBuffer& is,
                           UniformBuffer& voxel);
  // Sweeps the sun's visibility through the light field (SunVolume), slice
  // by slice from the side facing the sun; false when there is no sun.
  static bool SweepSunlight(LightField& l, const Transform& t, UniformBuffer& time, UniformBuffer& voxel);
  // The same for a cascade's levels, coarsest first: a level wholly where
  // the sun moved, the level moved (or a coarser one did), only the lines
  // through its boxes where something in it moved.
  static bool SweepLevels(LightField& l, const CascadeFrame& c, UniformBuffer& time, UniformBuffer& voxel);
  // A rough measure of all the light in the scene: area lights (radiance x
  // area), the sun's irradiance, the sky and every emissive entry of `queue`.
  static float LightPower(UniformBuffer& is, const std::vector<DrawEntry>& queue);
  // Frames of relighting without history after the light changed by more
  // than SettleChange of itself.
  static constexpr int SettleFrames = 6;
  static constexpr float SettleChange = 0.05f;
  // What the light the fields reflect depends on beyond the geometry and
  // the emitters: the sky and the sun. When it changes, or the light's
  // power does, the fields relight without history and the temporal
  // history is cut short.
  static std::uint64_t LightingSignature();
  // The switches that choose which light the lighting computes for the
  // pixels: a change cuts the temporal history short, but the fields keep
  // their light, which the switches leave as it was (relit from scratch, it
  // lay a few percent low for dozens of frames).
  static std::uint64_t ShownLightSignature();
  // The most frames a still pixel's history may hold while a light field
  // settles: the field takes a bounce more each frame then, and a longer
  // history would lag it; with one frame alone every pixel was filled from
  // its neighbours' single frame, grainy, and at night a tenth too bright.
  static constexpr float KeptWhileSettling = 2.0f;

  // Frame timing: the clamped simulation step for a frame starting at `now`
  // and the per-second averages, kept in the statics below.
  static float SimulationStep(float now);
  static void CountFrame(float now);
  // What the voxels of a light field depend on. Per entry of `queue`: its
  // mesh, matrix, shader and values (0 for entries not voxelised); and the
  // field's place and the voxel switches, which change them all.
  static std::vector<std::uint64_t> VoxelEntrySignatures(std::vector<DrawEntry>& queue);
  static std::uint64_t VoxelSwitchSignature(const glm::mat4& fieldWorld);
  // How a light field's voxels are brought up to date. The field keeps a
  // static copy of the volumes built from the entries that stood still;
  // entries that moved (or changed) since they went in are drawn on top of
  // it every frame. Stand: the volumes hold this frame's scene already
  // (Promote: and they become the static copy, for entries that came to
  // rest). Restore: the static copy, then the moving entries. Rebuild: a
  // new static copy from the entries that held still since last frame (all
  // of them the first time), then the moving ones.
  struct VoxelPlan {
    enum class Step { Stand, Restore, Rebuild };
    Step What = Step::Rebuild;
    bool Promote = false;
    std::vector<bool> Moving;  // per entry of `signatures`; false where it is 0
  };
  // Levels of the skip volume the voxelisation writes (0: the detail).
  static constexpr int SkipLevels = 7;
  static VoxelPlan PlanVoxels(const LightField& l, const std::vector<std::uint64_t>& signatures,
                              std::uint64_t switches, bool particles);
  // The render scale for the next second, from this second's frame time and
  // the target (both milliseconds).
  static float NextRenderScale(float scale, float targetMs, float frameMs);
  static constexpr float MinRenderScale = 0.25f;

  static inline std::vector<Thing> CameraThings;
  static inline std::vector<Thing> LitThings;
  static inline std::vector<Thing> BrightThings;
  static inline std::vector<Thing> SkyThings;  // Things with a Sky

  static inline float lastFrameFinish = -1.0f;
  static inline float CPUFPSWaiter = 0.0f;
  static inline float FPSWaiter = 0.0f;
  static inline float CPUaverageFPS = 0.0f;
  static inline float averageFPS = 0.0f;
  static inline float lastFPS = 16.0f;
  static inline float CPUlastFPS = 16.0f;
  static inline int frameCounter = 0;
  static inline bool maswap = false;
  // The probed resources (the lightmap) that some program of the last frame
  // sampled: the pass table draws them only for a reader.
  static inline std::set<std::string> SampledLastFrame;
  // Resources of the pass table that code outside it reads after the frame
  // (a test reading the lit colour): their passes run whoever else reads
  // them.
  static inline std::set<std::string> ReadAfterFrame;
  // The table the frame runs; null: FrameTable(). Not owned.
  static inline const PassTable* Table = nullptr;
  // The control panel and the frame-rate text; off for clean captures.
  static inline bool ShowOverlay = true;

  static inline Resource<Shader> UnlitScreenSpace;
  static inline Resource<Shader> particlesRender;
  static inline Resource<Shader> LightingStencil;
  static inline Resource<Shader> TemporallyAntialias;
  static inline Resource<Shader> FinalBlit;
  static inline Resource<Shader> FieldDistanceGenerateAccurate;
  static inline Resource<Shader> FillMotionBuffer;
  static inline Resource<Shader> LightInjection;

  // The lit colour and the scene depth of the camera rendered last (its
  // CameraTargets keep them); for callers that know one camera.
  static inline RenderTexture* Layer1 = nullptr;
  static inline DepthTexture* BufferDepthLayer1 = nullptr;
  static inline RenderTexture* TempLightmapStopgapShit = nullptr;

 private:
  // One light field's and one camera's share of the frame: the table's
  // passes for it, between its Begin and End.
  static void LightFieldStage(Thing t, const PassTable& table, FrameInputs& in, const std::vector<bool>& live);
  static void RenderCamera(Thing t, const PassTable& table, FrameInputs& in, const std::vector<bool>& live);
  static void QueueFrameRateText();
  // While paused: "Render Scale", "Target Frame Time" and the pass timers.
  static void QueuePerformancePanel();
};

}  // namespace KestorEngine
