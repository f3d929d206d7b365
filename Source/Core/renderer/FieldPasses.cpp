// A light field's share of the frame: its volumes and uniforms, what its
// voxels need this frame (the plan), and its passes in frame order (the
// still voxels, detail and distances when rebuilt, the copy of what stands
// still, what moves on top, the sun sweep, the light injection).
//
// Occupancy is rebuilt from scratch (or from the static copy) whenever
// something moved, so that a thing that moved or went away leaves nothing
// behind to block or leak light.
//
//   Volumes ........ image units, clears, the first meeting
//   Plan ........... what moved, what the voxel passes do, the light's change
//   Voxel drawing .. colour, detail, distances into the volumes
//   Field .......... Begin and End
//   Passes ......... one function each, in frame order
#include <algorithm>
#include <cstdint>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include <glm/common.hpp>

#include "engine/Component.h"
#include "engine/Debug.h"
#include "render/Draw.h"
#include "render/RenderTextureGuy.h"
#include "render/Texbit.h"
#include "renderer/ComputePass.h"
#include "renderer/Curtain.h"
#include "renderer/FramePasses.h"
#include "renderer/FrameResources.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "renderer/StaleRegions.h"
#include "renderer/SunShadow.h"
#include "sanegl/GL.h"
#include "sanegl/SaneGL.h"
#include "scene/Lighting.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

// ---------------------------------------------------------------------------
// Volumes

using Pick = std::function<bool(size_t)>;

RenderTexture* RT(Texbit* t) { return static_cast<RenderTexture*>(t); }

glm::vec3 Apply(const glm::mat4& m, glm::vec3 p) { return glm::vec3(m * glm::vec4(p, 1.0f)); }

int GLInteger(GLenum what, int fallback) {
  GLint value = fallback;
  glGetIntegerv(what, &value);
  Debug::_CheckGLError("RELEASE", __LINE__);
  return value;
}

// Units 0 and 2 carry the material and the emission, unit 7 the facings
// (level 6 of the occupancy, which nothing reads, gave it up); the other
// occupancy mips keep their units.
void BindColourImages(unsigned program, LightField& first) {
  BindImage(program, "_MaterialImage", 0, first.MaterialVolume, 0, GL_RG32UI);
  BindImage(program, "_EmissionImage", 2, first.EmissionVolume, 0, GL_RGBA16F);
  BindImage(program, "_RayTexImageAlpM2", 4, first.SkipVolume, 1, GL_R8);
  BindImage(program, "_RayTexImageAlpM3", 1, first.SkipVolume, 2, GL_R8);
  BindImage(program, "_RayTexImageAlpM4", 3, first.SkipVolume, 3, GL_R8);
  BindImage(program, "_RayTexImageAlpM5", 5, first.SkipVolume, 4, GL_R8);
  BindImage(program, "_RayTexImageAlpM6", 6, first.SkipVolume, 5, GL_R8);
  BindImage(program, "_FacingImage", 7, first.FacingVolume, 0, GL_R32UI, GL_READ_WRITE);
}

// The facings learn which half-voxels hold a surface (unit 2).
void BindDetailImages(unsigned program, LightField& first) {
  BindImage(program, "_RayTexImageAlp", 0, first.SkipVolume, 0, GL_R8);
  BindImage(program, "fieldskipBinaryAWrite", 1, first.SkipBits, 0, GL_R32UI);
  BindImage(program, "_FacingImage", 2, first.FacingVolume, 0, GL_R32UI, GL_READ_WRITE);
}

// Clears level 0 of a volume that has an integer format: glClear leaves
// those undefined.
void ClearIntegerVolume(Texbit* t) {
  RenderTextureGuy::UseTexs({RT(t)}, {}, {0}, nullptr);
  const GLuint zero[4] = {0, 0, 0, 0};
  glClearBufferuiv(GL_COLOR, 0, zero);
  Debug::_CheckGLError("RELEASE", __LINE__);
  RenderTextureGuy::UseTexDone();
}

void ClearVolumeLevels(Texbit* t, int levels) {
  SaneGL::ClearColor(glm::vec4(0.0f));
  for (int k = 0; k < levels; ++k) {
    if ((t->Width >> k) < 1 || (t->Height >> k) < 1 || (t->Depth >> k) < 1) break;
    RenderTextureGuy::UseTexs({RT(t)}, {}, {k}, nullptr);
    SaneGL::Clear(GL_COLOR_BUFFER_BIT);
    RenderTextureGuy::UseTexDone();
  }
}

// Beyond the field the sun is seen: the border is sunlit open air.
void OpenSunBorder(Texbit* sun) {
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_3D, &bound);
  glBindTexture(GL_TEXTURE_3D, sun->ID);
  const GLfloat border[4] = {1.0f, 1.0f, 0.0f, 0.0f};
  for (GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R}) {
    glTexParameteri(GL_TEXTURE_3D, wrap, GL_CLAMP_TO_BORDER);
  }
  glTexParameterfv(GL_TEXTURE_3D, GL_TEXTURE_BORDER_COLOR, border);
  glBindTexture(GL_TEXTURE_3D, static_cast<GLuint>(bound));
  Debug::_CheckGLError("RELEASE", __LINE__);
}

// A cascaded field's levels stacked along Z: as many as the driver's
// largest 3D texture and the budget hold, the coarsest left out first.
void MakeCascadeVolumes(const PassTable& table, Thing thing, LightField& l) {
  const std::string owner = "LightField of Thing " + std::to_string(thing.ID);
  const int max3D = GLInteger(GL_MAX_3D_TEXTURE_SIZE, 0);
  glm::ivec3 n = Cascade::LevelVoxels(l.Resolution);
  // The occupancy doubles every axis.
  n = glm::min(n, glm::ivec3(std::max(Cascade::Step * 4, max3D / 2 / Cascade::Step * Cascade::Step)));
  const int asked = std::clamp(l.Levels, 1, LightField::MaxLevels);
  const long long budget = static_cast<long long>(std::max(1, LightFieldBudget->value)) * 1048576LL;
  int levels = asked;
  while (levels > 1 && (2 * n.z * levels > max3D ||
                        FieldVolumeBytes(table, glm::ivec3(n.x, n.y, n.z * levels), true) > budget)) {
    --levels;
  }
  if (n != glm::ivec3(l.Resolution) || levels != l.Levels) {
    std::cout << owner << ": " << l.Levels << " levels of " << l.Resolution.x << "," << l.Resolution.y << ","
              << l.Resolution.z << " voxels do not fit (multiples of " << Cascade::Step << " from "
              << 4 * Cascade::Step << " to " << Cascade::MaxVoxels << ", the driver's " << max3D
              << " texels, the budget of " << LightFieldBudget->value << " MiB, \"Light Field Budget\"); using "
              << levels << " of " << n.x << "," << n.y << "," << n.z << std::endl;
  }
  l.Resolution = glm::vec3(n);
  l.Levels = levels;
  MakeFieldVolumes(table, l, glm::ivec3(n.x, n.y, n.z * levels));
  const long long bytes = ReportFieldMemory(table, owner, l);
  std::cout << owner << ": " << levels << " levels of " << n.x << "x" << n.y << "x" << n.z << " voxels, the finest "
            << l.VoxelSize << " m, " << bytes / levels << " bytes a level" << std::endl;
  l.State.Levels = std::make_shared<CascadeRecord>();
  l.State.VoxelsValid = false;
}

// The first time a field is met: its volumes at the resolution the driver
// can hold, which the uniforms then describe.
void MakeVolumes(const PassTable& table, Thing thing, LightField& l) {
  if (l.Cascaded()) {
    MakeCascadeVolumes(table, thing, l);
    return;
  }
  const int max3D = GLInteger(GL_MAX_3D_TEXTURE_SIZE, 0);
  const glm::ivec3 size = RenderSystem::FieldVolumeSize(l.Resolution, max3D);
  const glm::ivec3 asked(glm::min(l.Resolution, glm::vec3(1e9f)));
  if (size != asked) {
    std::cout << "LightField of Thing " << thing.ID << ": resolution " << l.Resolution.x << "," << l.Resolution.y
              << "," << l.Resolution.z << " is outside 2 to " << std::max(2, max3D / 2) << " voxels per axis or over "
              << static_cast<long>(RenderSystem::kMaxFieldVoxels) << " in all; using " << size.x << "," << size.y
              << "," << size.z << std::endl;
  }
  l.Resolution = glm::vec3(size);
  MakeFieldVolumes(table, l, size);
  ReportFieldMemory(table, "LightField of Thing " + std::to_string(thing.ID), l);
  OpenSunBorder(l.SunVolume);
  l.State.VoxelsValid = false;
}

// ---------------------------------------------------------------------------
// Plan

// Sorted multiset of the voxelised entries' signatures that `pick` takes.
std::vector<std::uint64_t> Sorted(const std::vector<std::uint64_t>& signatures, const Pick& pick) {
  std::vector<std::uint64_t> out;
  for (size_t i = 0; i < signatures.size(); ++i) {
    if (signatures[i] != 0 && pick(i)) out.push_back(signatures[i]);
  }
  std::sort(out.begin(), out.end());
  return out;
}

Pick Still(const VoxelSteps& v) {
  return [&v](size_t i) { return i < v.Moving.size() && !v.Moving[i]; };
}
Pick Moving(const VoxelSteps& v) {
  return [&v](size_t i) { return i < v.Moving.size() && v.Moving[i]; };
}
bool Everything(size_t) { return true; }

glm::ivec3 FieldSize(const LightField& l) {
  return {l.DistanceVolume->Width, l.DistanceVolume->Height, l.DistanceVolume->Depth};
}

// The box of the moving entries and of the curtain's particles (drawn as
// points where the display mesh holds them, in world positions), in voxels.
void MovingBounds(const FrameInputs& frame, FieldFrame& f) {
  VoxelSteps& v = f.Steps;
  const glm::vec3 size(FieldSize(*f.L));
  glm::vec3 lo(1e30f), hi(-1e30f);
  auto take = [&](glm::vec3 world) {
    const glm::vec3 at = (Apply(f.T->WorldInverse, world) * 0.5f + 0.5f) * size;
    lo = glm::min(lo, at);
    hi = glm::max(hi, at);
  };
  for (size_t i = 0; i < frame.Queue.size(); ++i) {
    glm::vec3 a, b;
    if (!v.Moving[i] || !EntryWorldBounds(frame.Queue[i], a, b)) continue;
    for (int c = 0; c < 8; ++c) take(glm::vec3((c & 1) ? b.x : a.x, (c & 2) ? b.y : a.y, (c & 4) ? b.z : a.z));
  }
  static const std::vector<float> noCurtain;
  Resource<Mesh>* curtain = f.Particles ? CurtainSurface() : nullptr;
  const std::vector<float>& points = curtain != nullptr ? (*curtain)->Vertices : noCurtain;
  for (size_t k = 0; k + 2 < points.size(); k += 3) take(glm::vec3(points[k], points[k + 1], points[k + 2]));
  v.DrawMoving = lo.x <= hi.x || f.Particles;
  // A voxel's distance reads the 3 x 3 x 3 cells of 8 voxels around its own
  // cell: every voxel whose cell touches a cell of a mover or of the
  // curtain. Converted to whole cells only when bounded: the unset bounds
  // (±1e30) have no int, nor has a cloth blown apart.
  const bool known = !f.Particles || !points.empty();
  v.MovingBounded = known && glm::all(glm::lessThan(glm::abs(lo) + glm::abs(hi), glm::vec3(1e8f)));
  if (v.MovingBounded) {
    v.MovingLo = (glm::ivec3(glm::floor(lo / 8.0f)) - 1) * 8;
    v.MovingHi = (glm::ivec3(glm::floor(hi / 8.0f)) + 2) * 8;
  }
}

// What the voxel passes do this frame, and the record the next frame's
// plan starts from.
void PlanVoxelSteps(FrameInputs& frame, FieldFrame& f) {
  VoxelSteps& v = f.Steps;
  LightFieldState& s = f.L->State;
  v.Signatures = RenderSystem::VoxelEntrySignatures(frame.Queue);
  v.HeldBefore = s.HeldEntries;
  if (!UpdateVoxels->value) {
    // Nothing is voxelised: the volumes keep what they hold, and they are
    // built afresh once the switch is back on.
    s.VoxelsValid = false;
    v.DistanceWhole = true;
    v.DetailEverything = true;
    return;
  }
  using Step = RenderSystem::VoxelPlan::Step;
  const std::uint64_t switches = RenderSystem::VoxelSwitchSignature(f.T->World);
  const RenderSystem::VoxelPlan plan = RenderSystem::PlanVoxels(*f.L, v.Signatures, switches, f.Particles);
  v.Moving = plan.Moving;
  v.Rebuild = plan.What == Step::Rebuild;
  v.DistanceWhole = v.Rebuild;
  v.Promote = plan.What == Step::Stand && plan.Promote;
  v.CopyStep = plan.What == Step::Restore ? VoxelSteps::Copy::FromStatic
               : v.Rebuild || v.Promote   ? VoxelSteps::Copy::ToStatic
                                          : VoxelSteps::Copy::None;
  if (plan.What != Step::Stand) MovingBounds(frame, f);
  s.VoxelisedEntries = 0;
  s.VoxelsValid = true;
  s.VoxelSwitches = switches;
  s.HeldEntries = Sorted(v.Signatures, &Everything);
  s.HeldParticles = f.Particles;
}

// A cascaded field: where its levels go for the first camera and which
// boxes of theirs the voxel passes redraw. Things are told apart by their
// signatures, the curtain by its points. With "Update Voxels" off the
// levels stay where they are (their voxels would no longer match their
// place) and are made whole once it is back on.
void PlanLevels(FrameInputs& frame, FieldFrame& f) {
  LightField& l = *f.L;
  LightFieldState& s = l.State;
  CascadeFrame& c = f.Cascade;
  c.On = true;
  c.Levels = l.Levels;
  c.Voxels = glm::ivec3(l.Resolution);
  c.Voxel = l.VoxelSize;
  if (!s.Levels) s.Levels = std::make_shared<CascadeRecord>();
  Cascade::Tracker& tracker = s.Levels->Tracker;
  if (!UpdateVoxels->value) {
    s.VoxelsValid = false;
    c.Origins = tracker.Origins();
    c.Work.assign(static_cast<size_t>(c.Levels), Cascade::LevelWork());
    s.Levels->Fresh.Note(c.Work, c.Voxels, RenderSystem::FreshFrames);
    if (c.Origins.size() != static_cast<size_t>(c.Levels)) c.Origins.assign(static_cast<size_t>(c.Levels), glm::ivec3(0));
    return;
  }
  const std::vector<std::uint64_t> signatures = RenderSystem::VoxelEntrySignatures(frame.Queue);
  std::vector<Cascade::Entry> entries;
  for (size_t i = 0; i < frame.Queue.size(); ++i) {
    Cascade::Entry e;
    if (signatures[i] == 0 || !EntryWorldBounds(frame.Queue[i], e.Lo, e.Hi)) continue;
    e.Signature = signatures[i];
    entries.push_back(e);
  }
  Resource<Mesh>* curtain = f.Particles ? CurtainSurface() : nullptr;
  if (curtain != nullptr && !(*curtain)->Vertices.empty()) {
    Cascade::Entry e{0x6375727461696eull, glm::vec3(1e30f), glm::vec3(-1e30f)};
    const std::vector<float>& points = (*curtain)->Vertices;
    for (size_t k = 0; k + 2 < points.size(); k += 3) {
      const glm::vec3 p(points[k], points[k + 1], points[k + 2]);
      e.Lo = glm::min(e.Lo, p);
      e.Hi = glm::max(e.Hi, p);
      for (int a = 0; a < 3; ++a) e.Signature = HashCombine(e.Signature, HashFloat(p[a]));
    }
    // A cloth blown apart has no box a level could hold.
    if (glm::all(glm::lessThan(glm::abs(e.Lo) + glm::abs(e.Hi), glm::vec3(1e8f)))) entries.push_back(e);
  }
  const std::uint64_t switches = RenderSystem::VoxelSwitchSignature(glm::mat4(1.0f));
  const bool rebuild = !s.VoxelsValid || s.VoxelSwitches != switches;
  const glm::vec3 centre = RenderSystem::LevelsHeldAt.value_or(f.CameraPos);
  c.Work = tracker.Plan(centre, l.VoxelSize, c.Voxels, c.Levels, entries, rebuild);
  s.Levels->Fresh.Note(c.Work, c.Voxels, RenderSystem::FreshFrames);
  c.Origins = tracker.Origins();
  s.VoxelsValid = true;
  s.VoxelSwitches = switches;
}

// The light the field reflects depends on more than its voxels: when the
// sky, the sun or the light's power changed a lot, the injection relights
// without history for a few frames. A lighting switch changes the picture
// alone.
void NoteLightChange(FrameInputs& frame, FieldFrame& f) {
  LightFieldState& s = f.L->State;
  const std::uint64_t signature = RenderSystem::LightingSignature();
  const std::uint64_t shown = RenderSystem::ShownLightSignature();
  const bool changed = signature != s.LightingSignature;
  const bool switched = shown != s.ShownLightSignature;
  s.LightingSignature = signature;
  s.ShownLightSignature = shown;
  const float power = RenderSystem::LightPower(frame.IS, frame.Queue);
  if (changed || std::abs(power - s.LightPower) > RenderSystem::SettleChange * std::max(power, s.LightPower)) {
    s.Settling = RenderSystem::SettleFrames;
    s.CarriedLight = s.LightPower > 0.0f && power < s.LightPower ? std::max(power, 0.0f) / s.LightPower : 1.0f;
    frame.LightChanged = true;
  }
  if (switched) frame.LightChanged = true;
  s.LightPower = power;
  frame.WasSettling = frame.WasSettling || s.WasSettling;
}

// The direction towards the active sky's sun, zero while it has no
// strength: a sun that does not shine neither moves shadows nor is swept.
glm::vec3 ShiningSunDirection() {
  const Sky* sky = RenderSystem::ActiveSky();
  return sky != nullptr && sky->SunStrength > 0.0f ? sky->SunDirection : glm::vec3(0.0f);
}

// What moved or went away since the last frame, and where it leaves light
// the injection and the temporal pass must work out afresh.
void NoteSceneChanges(FrameInputs& frame, FieldFrame& f) {
  LightFieldState& s = f.L->State;
  const CurtainChangeBox* curtain = CurtainChange();
  StaleRegions::NoteChanges(s, f.Steps.Signatures, frame.Queue, curtain != nullptr ? &curtain->Box : nullptr,
                            curtain != nullptr && curtain->Sudden);
  const glm::vec3 toSun = ShiningSunDirection();
  // Two voxels all round: the light that bounced off the thing, the sky it
  // hid.
  const glm::vec3 voxel = 2.0f * glm::abs(f.T->Scale) / glm::max(f.L->Resolution, glm::vec3(1.0f));
  frame.Stale = StaleRegions::InSunFrame(s.Changed, toSun, 2.0f * std::max({voxel.x, voxel.y, voxel.z}));
  StaleRegions::SetFieldUniforms(f.Voxel, frame.Stale);
  f.Voxel.CalculateHash();
}

// ---------------------------------------------------------------------------
// Voxel drawing

// The curtain's particles as points, into the voxel pass that is open.
void DrawCurtainPoints(FieldFrame& f, const char* pass, std::vector<UniformBuffer*> list,
                       const std::function<void(unsigned, LightField&)>& bind) {
  Resource<Mesh>* curtain = CurtainSurface();
  if (curtain == nullptr || !RenderSystem::particlesRender) return;
  glEnable(GL_PROGRAM_POINT_SIZE);
  Debug::_CheckGLError("RELEASE", __LINE__);
  SaneGL::PolygonMode(SaneGL::FaceSide::FrontAndBack, SaneGL::PolygonModes::Point);
  RenderSystem::particlesRender->Use(pass, &list);
  SaneGL::StateSync();
  if (unsigned program = CurrentProgram()) bind(program, *f.First);
  Draw::DrawMesh(*curtain, glm::mat4(1.0f), -1);
  SaneGL::PolygonMode(SaneGL::FaceSide::FrontAndBack, SaneGL::PolygonModes::Fill);
}

// Rasterises into a framebuffer without attachments, a square of the
// volume's longest side (each axis the triangles are drawn along needs its
// two others to fit), every fragment reaching the image writes.
void OpenVoxelPass(glm::ivec2 face, int samples) {
  SaneGL::StatePush();
  RenderTextureGuy::UseTex(face.x, face.y, samples);
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  SaneGL::CullFace(SaneGL::FaceSide::None);
  SaneGL::Multisample(true);
}

// The face a voxel pass rasterises into: of the volume, or of one level of
// a cascade (`scale` 2 for the occupancy's detail).
glm::ivec2 VoxelFace(const FieldFrame& f, Texbit* volume, int scale) {
  const glm::ivec3 n = f.Cascade.On ? f.Cascade.Voxels * scale : glm::ivec3(volume->Width, volume->Height, volume->Depth);
  return glm::ivec2(std::max({n.x, n.y, n.z}));
}

void CloseVoxelPass() {
  RenderTextureGuy::UseTexDone();
  SaneGL::StatePop();
}

// The ranks a draw of `mesh` takes: one per triangle (per corner for the
// curtain's points), whatever part of it the entry draws.
std::uint32_t RanksOf(const Resource<Mesh>& mesh, bool points) {
  const Mesh* m = mesh.Object();
  const size_t indices = m != nullptr ? m->Faces.size() : 0;
  return static_cast<std::uint32_t>(points ? indices : indices / 3) + 1u;
}
// Empties texels `lo` to `hi` (exclusive) of the rank volume for a round
// of the colour voxelisation (VoxelRaytracing/VoxelStore), or all of it
// where the driver cannot clear a part.
void ClearRanks(LightField& l, glm::ivec3 lo, glm::ivec3 hi) {
  Texbit* ranks = l.RankVolume;
  lo = glm::max(lo, glm::ivec3(0));
  hi = glm::min(hi, glm::ivec3(ranks->Width, ranks->Height, ranks->Depth));
  if (glm::any(glm::lessThanEqual(hi, lo))) return;
  if (!GLEW_ARB_clear_texture) {
    ClearIntegerVolume(ranks);
    return;
  }
  // After the atomics of the last round.
  glMemoryBarrier(GL_TEXTURE_UPDATE_BARRIER_BIT);
  const GLuint zero = 0;
  glClearTexSubImage(ranks->ID, 0, lo.x, lo.y, lo.z, hi.x - lo.x, hi.y - lo.y, hi.z - lo.z, GL_RED_INTEGER,
                     GL_UNSIGNED_INT, &zero);
  Debug::_CheckGLError("RELEASE", __LINE__);
}
void ClearAllRanks(LightField& l) {
  ClearRanks(l, glm::ivec3(0), glm::ivec3(l.RankVolume->Width, l.RankVolume->Height, l.RankVolume->Depth));
}

// Whether the colour voxelisation draws entry `i` of the queue.
bool DrawsColour(const std::vector<DrawEntry>& queue, size_t i, const Pick& pick) {
  return std::get<8>(queue[i]) && std::get<4>(queue[i]) && pick(i);
}

// One round of the colour voxelisation (VoxelRaytracing/VoxelStore): the
// ranks alone, or the material where a fragment's rank won.
void DrawColourRound(PassContext& ctx, const Pick& pick, bool withCurtain, bool ranking) {
  FieldFrame& f = *ctx.Field;
  FrameInputs& in = ctx.Frame;
  const char* pass = ranking ? "VoxelizeRank" : "VoxelizeMidAndColor";
  auto bind = [&](std::uint32_t first) {
    const unsigned program = CurrentProgram();
    if (program == 0) return;
    if (ranking) {
      BindImage(program, "_RankImage", 0, f.First->RankVolume, 0, GL_R32UI, GL_READ_WRITE);
    } else {
      BindColourImages(program, *f.First);
    }
    glProgramUniform1ui(program, glGetUniformLocation(program, "_VoxelRank"), first);
    Debug::_CheckGLError("RELEASE", __LINE__);
  };
  std::uint32_t rank = 1;
  for (size_t i = 0; i < in.Queue.size(); ++i) {
    if (!DrawsColour(in.Queue, i, pick)) continue;
    DrawEntry& e = in.Queue[i];
    // A shader without the ranking round writes its voxels as it will:
    // the error shader would draw in its place, for nothing.
    if (ranking && std::get<4>(e)->Passes.count(pass) == 0) {
      rank += RanksOf(std::get<0>(e), false);
      continue;
    }
    std::get<6>(e).CalculateHash();
    // No last frame's place: the voxel passes read none (an inverse a draw
    // and a round, for nothing).
    std::vector<UniformBuffer*> list = {&in.Time, &f.VoxelView, &f.Voxel, &std::get<6>(e)};
    if (std::get<5>(e) != nullptr) list.push_back(std::get<5>(e));
    list.push_back(&in.IS);
    std::get<4>(e)->Use(pass, &list);
    SaneGL::StateSync();
    bind(rank);
    rank += RanksOf(std::get<0>(e), false);
    Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
    if (!ranking) f.L->State.VoxelisedEntries += 1;
  }
  if (!withCurtain) return;
  DrawCurtainPoints(f, pass, {&in.Time, &f.VoxelView, &f.Voxel, &in.IS}, [&](unsigned, LightField&) { bind(rank); });
}

// The voxelised entries `pick` chooses (and the curtain) into the material
// volumes and the occupancy mips, in two rounds: the first ranks the
// surfaces in each voxel, the second writes. The caller empties the ranks
// where the entries draw.
void DrawColour(PassContext& ctx, const Pick& pick, bool withCurtain) {
  FieldFrame& f = *ctx.Field;
  OpenVoxelPass(VoxelFace(f, f.L->VolumeBack, 1), std::min(f.MaxSamples, 16));
  f.Voxel.SetTexture("_RayTex", f.First->VolumeBack);
  f.Voxel.SetTexture("_VoxelRanks", f.First->RankVolume);
  f.Voxel.CalculateHash();
  DrawColourRound(ctx, pick, withCurtain, true);
  glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_TEXTURE_FETCH_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  DrawColourRound(ctx, pick, withCurtain, false);
  CloseVoxelPass();
}

// The occupancy at twice the resolution (level 0 of the skip volume).
void DrawDetail(PassContext& ctx, const Pick& pick, bool withCurtain) {
  FieldFrame& f = *ctx.Field;
  FrameInputs& in = ctx.Frame;
  OpenVoxelPass(VoxelFace(f, f.L->SkipVolume, 2), std::min(f.MaxSamples, 8));
  for (size_t i = 0; i < in.Queue.size(); ++i) {
    DrawEntry& e = in.Queue[i];
    if (!std::get<8>(e) || !std::get<4>(e) || !pick(i)) continue;
    std::vector<UniformBuffer*> list = {&in.Time, &f.VoxelView, &f.Voxel, &std::get<6>(e)};
    if (std::get<5>(e) != nullptr) list.push_back(std::get<5>(e));
    list.push_back(&in.IS);
    list.push_back(&in.Quickray);
    std::get<4>(e)->Use("VoxelizeDetail", &list);
    SaneGL::StateSync();
    if (unsigned program = CurrentProgram()) BindDetailImages(program, *f.First);
    Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
  }
  if (withCurtain) {
    DrawCurtainPoints(f, "VoxelizeDetail", {&in.Time, &f.VoxelView, &f.Voxel, &in.IS, &in.Quickray}, &BindDetailImages);
  }
  CloseVoxelPass();
}

// The distances of the voxels from `lo` to `hi` (exclusive), from the
// occupancy mips as they stand.
bool BuildDistance(PassContext& ctx, glm::ivec3 lo, glm::ivec3 hi) {
  FieldFrame& f = *ctx.Field;
  if (!RenderSystem::FieldDistanceGenerateAccurate) return false;
  lo = glm::clamp(lo, glm::ivec3(0), FieldSize(*f.L));
  hi = glm::clamp(hi, glm::ivec3(0), FieldSize(*f.L));
  if (glm::any(glm::lessThanEqual(hi, lo))) return true;
  // The image writes above must land before the distance pass samples them.
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  RenderTextureGuy::UseTexs({RT(f.L->DistanceVolume)}, {}, {0}, nullptr);
  // The viewport picks the columns (the fragment's window position is its
  // voxel), the slice range the layers.
  SaneGL::Viewport(lo.x, lo.y, hi.x - lo.x, hi.y - lo.y);
  // The geometry stage repeats the quad for at most 64 slices a draw.
  for (int z = lo.z; z < hi.z; z += 64) {
    UniformBuffer slices;
    slices.SetVector("_SliceRange", glm::vec2(z, std::min(64, hi.z - z)));
    std::vector<UniformBuffer*> list = {&ctx.Frame.Time, &f.Voxel, &slices};
    RenderSystem::FieldDistanceGenerateAccurate->Use(&list);
    SaneGL::StateSync();
    // A level's distances keep to its window, which starts at its wrap.
    UploadCascade(CurrentProgram(), f.Cascade);
    Draw::Blit(f.L->SkipVolume);
  }
  RenderTextureGuy::UseTexDone();
  return true;
}

// What the passes after the voxels read of them.
void VoxelReadInputs(FieldFrame& f) {
  f.Voxel.SetTexture("_LightFieldDistanceMips", f.L->SkipVolume);
  f.Voxel.SetTexture("_LightField", f.L->Volume);
}

// Binds the volumes for reading and makes this frame's image writes into
// them visible to the passes that follow.
void ReadVoxelWrites(FieldFrame& f) {
  VoxelReadInputs(f);
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
}

}  // namespace

// ---------------------------------------------------------------------------
// Field

bool BeginField(PassContext& ctx, Thing thing) {
  FieldFrame& f = *ctx.Field;
  f.Owner = thing;
  f.L = ComponentHandler<LightField>::Get(thing);
  f.T = ComponentHandler<Transform>::Get(thing);
  // A field without voxels has nothing to render into.
  if (f.L == nullptr || f.T == nullptr || RenderSystem::FieldVolumeSize(f.L->Resolution, 2).x == 0) return false;
  LightField& l = *f.L;
  if (l.VolumeBack == nullptr) MakeVolumes(ctx.Table, thing, l);
  LightField* first = ctx.Frame.First;
  f.First = first != nullptr && first->VolumeBack != nullptr && first->MaterialVolume != nullptr ? first : f.L;

  l.WorldToLocalPast = l.WorldToLocal;
  UniformBuffer& field = ctx.Frame.Field;
  field = UniformBuffer();
  RenderSystem::FillFieldUniforms(field, l, *f.T);
  field.CalculateHash();
  f.Voxel = field;
  glm::vec3 cameraPos(0.0f);
  if (!RenderSystem::CameraThings.empty()) {
    if (Transform* ct = ComponentHandler<Transform>::Get(RenderSystem::CameraThings.front())) cameraPos = ct->Position;
  }
  f.CameraPos = cameraPos;
  f.Voxel.SetVector("_CameraPos", cameraPos);
  f.Voxel.CalculateHash();
  l.WorldToLocal = f.T->WorldInverse;
  f.Voxel.SetMatrix4("_LightFieldWorldToLocal", l.WorldToLocal);
  f.VoxelView.SetMatrix4("_WorldToView", f.T->WorldInverse);

  f.MaxSamples = std::max(1, GLInteger(GL_MAX_SAMPLES, 1));
  f.Particles = CurtainSurface() != nullptr && RenderSystem::particlesRender;
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  // The line is printed at the old clearing cadence only, not every frame.
  if (l.VoxelPhase == 1 && ClearVoxels->value) std::cout << "CLEARING DISTANCE STUFF" << std::endl;
  if (l.Cascaded()) {
    PlanLevels(ctx.Frame, f);
  } else {
    PlanVoxelSteps(ctx.Frame, f);
  }
  NoteSceneChanges(ctx.Frame, f);
  NoteLightChange(ctx.Frame, f);
  return true;
}

void EndField(PassContext& ctx) {
  FieldFrame& f = *ctx.Field;
  LightField& l = *f.L;
  ReadVoxelWrites(f);
  // "Update GI" off keeps the light as it is: nothing is settling then.
  l.State.WasSettling = UpdateGI->value && l.State.Settling > 0;
  ctx.Frame.Settling = ctx.Frame.Settling || l.State.WasSettling;
  l.VoxelPhase += 1;
  if (l.VoxelPhase == 256) l.VoxelPhase = 1;
  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
  // The camera passes read this frame's light, placed as it was voxelised.
  UniformBuffer& field = ctx.Frame.Field;
  field.SetTexture("_LightField", l.Volume);
  field.SetTexture("_LightFieldIrradiance", l.IrradianceFiltered);
  field.SetTexture("_LightFieldSun", l.SunVolume);
  field.SetMatrix4("_LightFieldWorldToLocal", l.WorldToLocal);
  field.CalculateHash();
  if (f.L == ctx.Frame.First) ctx.Frame.FirstCascade = f.Cascade;
}

// ---------------------------------------------------------------------------
// Passes

bool RebuildsStill(const PassContext& ctx) { return ctx.Field->Steps.Rebuild; }
bool DistancesWhole(const PassContext& ctx) { return ctx.Field->Steps.DistanceWhole; }
bool CopiesVoxels(const PassContext& ctx) { return ctx.Field->Steps.CopyStep != VoxelSteps::Copy::None; }
bool DrawsMoving(const PassContext& ctx) { return ctx.Field->Steps.DrawMoving; }
bool DrawsMovingDetail(const PassContext& ctx) {
  return ctx.Field->Steps.DrawMoving || ctx.Field->Steps.DetailEverything;
}

// This frame's materials replace the last: a moved object, or a lamp
// switched off, must not stay in the volume.
bool DrawStillVoxels(PassContext& ctx) {
  LightField& l = *ctx.Field->L;
  ClearIntegerVolume(l.MaterialVolume);
  ClearIntegerVolume(l.FacingVolume);
  ClearAllRanks(*ctx.Field->First);
  ClearVolumeLevels(l.EmissionVolume, 1);
  if (ClearVoxels->value) ClearVolumeLevels(l.SkipVolume, RenderSystem::SkipLevels);
  DrawColour(ctx, Still(ctx.Field->Steps), false);
  return true;
}

bool DrawStillVoxelDetail(PassContext& ctx) {
  DrawDetail(ctx, Still(ctx.Field->Steps), false);
  return true;
}

bool BuildAllDistances(PassContext& ctx) { return BuildDistance(ctx, glm::ivec3(0), FieldSize(*ctx.Field->L)); }

// Into the static copy (after a rebuild, or for entries come to rest) or
// back from it (before the moving entries are drawn on top).
bool CopyVoxels(PassContext& ctx) {
  FieldFrame& f = *ctx.Field;
  LightField& l = *f.L;
  const bool toStatic = f.Steps.CopyStep == VoxelSteps::Copy::ToStatic;
  glMemoryBarrier(GL_TEXTURE_UPDATE_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_FRAMEBUFFER_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  auto copy = [toStatic](Texbit* live, Texbit* kept, int levels) {
    Texbit* from = toStatic ? live : kept;
    Texbit* to = toStatic ? kept : live;
    for (int k = 0; k < levels; ++k) {
      const int w = std::max(1, from->Width >> k), h = std::max(1, from->Height >> k), d = std::max(1, from->Depth >> k);
      glCopyImageSubData(from->ID, GL_TEXTURE_3D, k, 0, 0, 0, to->ID, GL_TEXTURE_3D, k, 0, 0, 0, w, h, d);
      Debug::_CheckGLError("RELEASE", __LINE__);
      if (w == 1 && h == 1 && d == 1) break;
    }
  };
  copy(l.MaterialVolume, l.StaticMaterial, 1);
  copy(l.EmissionVolume, l.StaticEmission, 1);
  copy(l.FacingVolume, l.StaticFacing, 1);
  copy(l.DistanceVolume, l.StaticDistance, 1);
  // With "Clear Voxels" off the occupancy keeps whatever was drawn into it.
  if (toStatic || ClearVoxels->value) copy(l.SkipVolume, l.StaticSkip, RenderSystem::SkipLevels);
  if (toStatic) l.State.StaticEntries = f.Steps.Promote ? f.Steps.HeldBefore : Sorted(f.Steps.Signatures, Still(f.Steps));
  return true;
}

bool DrawMovingVoxels(PassContext& ctx) {
  const VoxelSteps& v = ctx.Field->Steps;
  if (v.MovingBounded) {
    ClearRanks(*ctx.Field->First, v.MovingLo, v.MovingHi);
  } else {
    ClearAllRanks(*ctx.Field->First);
  }
  DrawColour(ctx, Moving(v), ctx.Field->Particles);
  return true;
}

bool DrawMovingVoxelDetail(PassContext& ctx) {
  const VoxelSteps& v = ctx.Field->Steps;
  DrawDetail(ctx, v.DetailEverything ? Pick(&Everything) : Moving(v), ctx.Field->Particles);
  return true;
}

bool BuildMovedDistances(PassContext& ctx) {
  const VoxelSteps& v = ctx.Field->Steps;
  return v.MovingBounded ? BuildDistance(ctx, v.MovingLo, v.MovingHi)
                         : BuildDistance(ctx, glm::ivec3(0), FieldSize(*ctx.Field->L));
}

// Whether a fixed grid's sweep of the sun may wait a frame. With nothing
// voxelised anew, the sun, the field and its volume as last swept, what it
// holds is what a sweep would give. Where only moving casters changed and
// the screen's sun comes from the sun's shadow map, the swept sun serves
// the voxels' light alone, which gathers over many frames: a sweep every
// MovingSweepFrames frames is soon enough.
constexpr int MovingSweepFrames = 4;
bool SweepMayWait(FieldFrame& f) {
  LightFieldState& s = f.L->State;
  const VoxelSteps& v = f.Steps;
  // A sun without strength is not swept: where it comes up (heading where
  // it set or elsewhere), the volume holds no sweep of it yet.
  const glm::vec3 sun = ShiningSunDirection();
  const bool same = s.SweptFieldSun == sun && s.SweptPlace == f.T->World && s.SweptVolume == f.L->SunVolume &&
                    !v.Rebuild && !v.DistanceWhole && v.CopyStep != VoxelSteps::Copy::ToStatic && !v.Promote;
  const bool still = v.CopyStep == VoxelSteps::Copy::None && !v.DrawMoving && !v.DetailEverything;
  // A still field waits only on a volume that holds its casters as they
  // stand; a changing one while the screen reads the map and the volume is
  // not too far behind.
  const bool waits = same && (still ? s.SweptBehind == 0
                                    : SunShadow::Side() > 0 && s.SweptBehind < MovingSweepFrames - 1);
  s.SweptFieldSun = sun;
  s.SweptPlace = f.T->World;
  s.SweptVolume = f.L->SunVolume;
  s.SweptBehind = !waits ? 0 : s.SweptBehind + (still ? 0 : 1);
  return waits;
}

bool SweepSun(PassContext& ctx) {
  FieldFrame& f = *ctx.Field;
  if (!f.Cascade.On && SweepMayWait(f)) return true;
  VoxelReadInputs(f);
  glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  if (f.Cascade.On) {
    RenderSystem::SweepLevels(*f.L, f.Cascade, ctx.Frame.Time, f.Voxel);
  } else {
    RenderSystem::SweepSunlight(*f.L, *f.T, ctx.Frame.Time, f.Voxel);
  }
  return true;
}

// "Update GI" off leaves the reflected light as it is: frozen, not black.
bool InjectFieldLight(PassContext& ctx) {
  FieldFrame& f = *ctx.Field;
  LightField& l = *f.L;
  ReadVoxelWrites(f);
  if (f.Cascade.On) {
    // A cascade publishes its light into the volumes it reads: no swap.
    return RenderSystem::InjectLevels(l, f.Cascade, ctx.Frame.Time, ctx.Frame.IS, f.Voxel);
  }
  if (!RenderSystem::InjectLight(l, ctx.Frame.Time, ctx.Frame.IS, f.Voxel)) return false;
  std::swap(l.Volume, l.VolumeBack);
  std::swap(l.IrradianceVolume, l.IrradianceBack);
  return true;
}

// ---------------------------------------------------------------------------
// Levels of a cascade

namespace {

// World points into level k's window as the local box -1..1 that the
// voxelisation's vertex stage takes a field's to be.
glm::mat4 LevelWorldToLocal(const CascadeFrame& c, int k) {
  const glm::vec3 size = glm::vec3(c.Voxels) * c.LevelVoxel(k);
  const glm::vec3 corner = glm::vec3(c.Origins[static_cast<size_t>(k)]) * c.LevelVoxel(k);
  glm::mat4 m(1.0f);
  for (int axis = 0; axis < 3; ++axis) {
    m[axis][axis] = 2.0f / size[axis];
    m[3][axis] = -2.0f * corner[axis] / size[axis] - 1.0f;
  }
  return m;
}

// The voxel passes draw box `b` of level k: the level's window as the
// field's box, the box (window-local voxels) every fragment outside of
// which is dropped, and where the level's voxels lie in the stacked
// volumes (texel = (voxel + wrap) mod N, then k N.z up).
void UseLevelBox(FieldFrame& f, int k, const Cascade::Box& b) {
  const CascadeFrame& c = f.Cascade;
  const glm::ivec3 origin = c.Origins[static_cast<size_t>(k)];
  const glm::mat4 toLocal = LevelWorldToLocal(c, k);
  f.Voxel.SetMatrix4("_LightFieldWorldToLocal", toLocal);
  f.Voxel.SetMatrix4("_LightFieldLocalToWorld", glm::inverse(toLocal));
  f.Voxel.SetVector("_VoxelBoxLo", glm::vec3(b.Lo - origin));
  f.Voxel.SetVector("_VoxelBoxHi", glm::vec3(b.Hi - origin));
  f.Voxel.SetVector("_VoxelWrap", glm::vec3(Cascade::Wrap(origin, c.Voxels)));
  f.Voxel.SetFloat("_VoxelBase", static_cast<float>(k * c.Voxels.z));
  f.Voxel.CalculateHash();
  f.VoxelView.SetMatrix4("_WorldToView", toLocal);
  f.VoxelView.CalculateHash();
}

// The voxelised entries whose world box meets box `b` of level k.
Pick Overlapping(const PassContext& ctx, int k, const Cascade::Box& b) {
  const float v = ctx.Field->Cascade.LevelVoxel(k);
  const glm::vec3 lo = glm::vec3(b.Lo) * v, hi = glm::vec3(b.Hi) * v;
  const std::vector<DrawEntry>* queue = &ctx.Frame.Queue;
  return [queue, lo, hi](size_t i) {
    glm::vec3 a, z;
    if (!EntryWorldBounds((*queue)[i], a, z)) return false;
    return glm::all(glm::lessThanEqual(a, hi)) && glm::all(glm::lessThanEqual(lo, z));
  };
}

// Empties box `b` of level k in every volume the voxel passes write: its
// cells of the occupancy mips the distances read lie wholly inside it.
bool ClearLevelBox(PassContext& ctx, int k, const Cascade::Box& b) {
  static Resource<Shader> work;
  if (!work) work = Resources<Shader>::Get("VoxelRaytracing/CascadeWork");
  if (!work) return false;
  FieldFrame& f = *ctx.Field;
  LightField& l = *f.L;
  std::vector<UniformBuffer*> list = {&ctx.Frame.Time, &f.Voxel};
  // Each pass over the box's pieces in the stacked volumes.
  auto dispatch = [&](unsigned program) {
    const int first = glGetUniformLocation(program, "_PieceFirst"), size = glGetUniformLocation(program, "_PieceSize");
    for (const Cascade::Piece& p : Cascade::Pieces(b, f.Cascade.Voxels)) {
      glProgramUniform3i(program, first, p.Texel.x, p.Texel.y, p.Texel.z + k * f.Cascade.Voxels.z);
      glProgramUniform3i(program, size, p.Size.x, p.Size.y, p.Size.z);
      Debug::_CheckGLError("RELEASE", __LINE__);
      glDispatchCompute(static_cast<unsigned>((p.Size.x + 3) / 4), static_cast<unsigned>((p.Size.y + 3) / 4),
                        static_cast<unsigned>((p.Size.z + 3) / 4));
      Debug::_CheckGLError("RELEASE", __LINE__);
    }
  };
  unsigned program = UseCompute(*work, "Clear", &list);
  if (program == 0) return false;
  BindImage(program, "_MaterialImage", 0, l.MaterialVolume, 0, GL_RG32UI);
  BindImage(program, "_EmissionImage", 1, l.EmissionVolume, 0, GL_RGBA16F);
  BindImage(program, "_FacingImage", 7, l.FacingVolume, 0, GL_R32UI);
  for (int m = 0; m <= 4; ++m) {
    const std::string name = "_Occupancy" + std::to_string(m);
    BindImage(program, name.c_str(), 2 + m, l.SkipVolume, m, GL_R8);
  }
  dispatch(program);
  for (const Cascade::Piece& p : Cascade::Pieces(b, f.Cascade.Voxels)) {
    const glm::ivec3 first = p.Texel + glm::ivec3(0, 0, k * f.Cascade.Voxels.z);
    ClearRanks(*f.First, first, first + p.Size);
  }
  program = UseCompute(*work, "ClearLight", &list);
  if (program == 0) return false;
  BindImage(program, "_Radiance0", 0, l.Volume, 0, GL_RGBA16F);
  BindImage(program, "_Radiance1", 1, l.VolumeBack, 0, GL_RGBA16F);
  BindImage(program, "_Irradiance0", 2, l.IrradianceVolume, 0, GL_RGBA16F);
  BindImage(program, "_Irradiance1", 3, l.IrradianceBack, 0, GL_RGBA16F);
  BindImage(program, "_Filtered", 4, l.IrradianceFiltered, 0, GL_RGBA16F);
  dispatch(program);
  glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT | GL_TEXTURE_FETCH_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  return true;
}

template <typename Each>
void ForEachLevelBox(PassContext& ctx, Each&& each) {
  CascadeFrame& c = ctx.Field->Cascade;
  for (int k = 0; k < c.Levels && static_cast<size_t>(k) < c.Work.size(); ++k) {
    for (const Cascade::Box& b : c.Work[static_cast<size_t>(k)].Boxes) {
      UseLevelBox(*ctx.Field, k, b);
      each(k, b);
    }
  }
}

}  // namespace

void UploadCascade(unsigned program, const CascadeFrame& c) {
  if (program == 0 || !c.On) return;
  std::vector<glm::vec3> origins(Cascade::MaxLevels, glm::vec3(0.0f)), wraps(Cascade::MaxLevels, glm::vec3(0.0f));
  for (size_t k = 0; k < c.Origins.size() && k < origins.size(); ++k) {
    origins[k] = glm::vec3(c.Origins[k]);
    wraps[k] = glm::vec3(Cascade::Wrap(c.Origins[k], c.Voxels));
  }
  glProgramUniform3fv(program, glGetUniformLocation(program, "_LevelOrigin"), Cascade::MaxLevels, &origins[0].x);
  glProgramUniform3fv(program, glGetUniformLocation(program, "_LevelWrap"), Cascade::MaxLevels, &wraps[0].x);
  Debug::_CheckGLError("RELEASE", __LINE__);
}

bool LevelsRedraw(const PassContext& ctx) { return ctx.Field->Cascade.On && ctx.Field->Cascade.AnyBoxes(); }

// Each box is emptied, then what meets it drawn in again: a thing that
// moved or went away leaves nothing behind, and what scrolled in replaces
// what scrolled out.
bool DrawLevelVoxels(PassContext& ctx) {
  ForEachLevelBox(ctx, [&](int k, const Cascade::Box& b) {
    if (ClearLevelBox(ctx, k, b)) DrawColour(ctx, Overlapping(ctx, k, b), ctx.Field->Particles);
  });
  return true;
}

bool DrawLevelVoxelDetail(PassContext& ctx) {
  ForEachLevelBox(ctx, [&](int k, const Cascade::Box& b) {
    DrawDetail(ctx, Overlapping(ctx, k, b), ctx.Field->Particles);
  });
  return true;
}

// A voxel's distance reads the 3 x 3 x 3 cells of 8 voxels around its
// own cell, within its level's window: a change in a box of whole cells
// reaches the distances of the cells beside it, 8 voxels round, inside the
// window. None reads across the wrap (a march keeps to its window), so the
// trailing side owes nothing to the slab that scrolled in on the leading
// one.
bool BuildLevelDistances(PassContext& ctx) {
  const CascadeFrame& c = ctx.Field->Cascade;
  bool ran = true;
  ForEachLevelBox(ctx, [&](int k, const Cascade::Box& b) {
    const Cascade::Box window = Cascade::Window(c.Origins[static_cast<size_t>(k)], c.Voxels);
    const Cascade::Box near = Cascade::Intersect(Cascade::Grow(b, Cascade::Step), window);
    for (const Cascade::Piece& p : Cascade::Pieces(near, c.Voxels)) {
      const glm::ivec3 lo = p.Texel + glm::ivec3(0, 0, k * c.Voxels.z);
      ran = BuildDistance(ctx, lo, lo + p.Size) && ran;
    }
  });
  return ran;
}

}  // namespace KestorEngine
