// The global-illumination inputs: area lights for importance sampling, the
// sky, the fixed ray frames, the one-time textures and the light-field
// uniforms; and the work the light field's passes (FieldPasses.cpp) hand
// over: what the voxels depend on and the plan that follows from it, the
// sun sweep, and the light injection that gives every occupied voxel the
// light it reflects.
//
// One unit throughout: an emitter's Strength x EmissionColor, the sky's
// colours and the sun disc are radiance; a voxel stores the radiance its
// surface reflects, albedo / pi x irradiance. The injection gathers the
// irradiance from the sun and the area lights (with visibility through the
// occupancy) and from the previous frame's voxel radiance (a few rays), so
// light bounces once more every frame and settles at the multi-bounce
// answer; with albedo below 1 each bounce is weaker, so it stays bounded.
//
//   Area lights .... the areas, the emitters they take their light from
//   Sun ............ the sweep of its visibility through a field
//   Sky ............ the light's power, the sky's uniforms
//   Uniforms ....... ray frames, a field's uniforms and size, the lightmap
//   Voxel plan ..... what the voxels depend on, what a frame redraws
//   Injection ...... the light every occupied voxel reflects
#include <algorithm>
#include <iterator>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <unordered_map>
#include <utility>

#include <glm/common.hpp>
#include <glm/geometric.hpp>

#include "engine/Component.h"
#include "engine/Debug.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/RenderTextureGuy.h"
#include "render/ShaderVariant.h"
#include "render/Texbit.h"
#include "renderer/ComputePass.h"
#include "renderer/FrameContext.h"
#include "renderer/FramePasses.h"
#include "renderer/PassTimers.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "sanegl/GL.h"
#include "sanegl/Objects.h"
#include "sanegl/SaneGL.h"
#include "scene/Camera.h"
#include "scene/Lighting.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

float Flag(CVar<bool>* v) { return v != nullptr && v->value ? 1.0f : 0.0f; }

glm::vec3 Apply(const glm::mat4& m, glm::vec3 p) {
  glm::vec4 q = m * glm::vec4(p, 1.0f);
  return glm::vec3(q);
}

float Luminance(glm::vec3 c) { return glm::dot(c, glm::vec3(0.2126f, 0.7152f, 0.0722f)); }

}  // namespace

bool EntryWorldBounds(const DrawEntry& e, glm::vec3& lo, glm::vec3& hi) {
  const Resource<Mesh>& mesh = std::get<0>(e);
  if (!mesh) return false;
  lo = glm::vec3(1e30f);
  hi = glm::vec3(-1e30f);
  for (int i = 0; i < 8; ++i) {
    const glm::vec3 c((i & 1) ? mesh->BoundsMax.x : mesh->BoundsMin.x, (i & 2) ? mesh->BoundsMax.y : mesh->BoundsMin.y,
                      (i & 4) ? mesh->BoundsMax.z : mesh->BoundsMin.z);
    const glm::vec3 w = Apply(std::get<2>(e), c);
    lo = glm::min(lo, w);
    hi = glm::max(hi, w);
  }
  return true;
}

namespace {

glm::vec3 EmittedRadiance(const DrawEntry& e) {
  UniformBuffer* shared = std::get<5>(e);
  if (shared == nullptr) return glm::vec3(0.0f);
  auto strength = shared->Uniforms.find("Strength");
  auto colour = shared->Uniforms.find("EmissionColor");
  if (strength == shared->Uniforms.end() || strength->second.Type != TypeFloat) return glm::vec3(0.0f);
  if (colour == shared->Uniforms.end() || colour->second.Type != TypeVector3) return glm::vec3(0.0f);
  return glm::max(colour->second.Vector3Value * strength->second.FloatValue, glm::vec3(0.0f));
}

}  // namespace

glm::vec3 RenderSystem::SphereSample(glm::vec3 u) {
  const float a = u.x;
  const float phi = u.y * 6.283f;
  const float x = std::sqrt(a) * std::cos(phi);
  const float y = std::sqrt(a) * std::sin(phi);
  // Rounding can push x^2 + y^2 a hair above 1 when a is 1.
  const float z = std::sqrt(std::max(0.0f, 1.0f - x * x - y * y)) * std::sin((u.z - 0.5f) * 3.1415f);
  return {x, y, z};
}

// ---------------------------------------------------------------------------
// Area lights

void RenderSystem::FillISUniforms(UniformBuffer& is) {
  std::vector<float> types;
  std::vector<glm::vec3> positions, sizes1, sizes2;
  for (Thing t : BrightThings) {
    Transform* x = ComponentHandler<Transform>::Get(t);
    ISArea* a = ComponentHandler<ISArea>::Get(t);
    if (x == nullptr || a == nullptr) continue;
    const glm::mat4& M = x->World;
    if (a->AreaType == 0) {
      const glm::vec3 c = Apply(M, glm::vec3(0.0f));
      const glm::vec4 q = M * glm::vec4(1.0f, 0.0f, 0.0f, 1.0f);
      const float r = std::abs(q.x / q.w - c.x);
      types.push_back(1.0f);
      positions.push_back(c);
      sizes1.push_back(glm::vec3(r));
      sizes2.push_back(glm::vec3(0.0f));
    } else if (a->AreaType == 1) {
      const glm::vec3 p0 = Apply(M, {-1.0f, 1.0f, 0.0f});
      types.push_back(2.0f);
      positions.push_back(p0);
      sizes1.push_back(Apply(M, {1.0f, 1.0f, 0.0f}) - p0);
      sizes2.push_back(Apply(M, {-1.0f, -1.0f, 0.0f}) - p0);
    }
  }
  is.SetFloatArray("ISTypes", types);
  is.SetVectorArray("ISPositions", positions);
  is.SetVectorArray("ISSizes1", sizes1);
  is.SetVectorArray("ISSizes2", sizes2);
  is.SetFloatArray("ISSamples", {});
  is.SetFloat("Swap", maswap ? 1.0f : 0.0f);
  maswap = !maswap;
}

void RenderSystem::MatchAreaEmitters(UniformBuffer& is, std::vector<DrawEntry>& queue) {
  // Every voxelised entry carries the flag, 0 or 1: a program keeps the last
  // value it was given, so a draw without it would inherit its neighbour's.
  for (DrawEntry& e : queue) std::get<6>(e).SetFloat("_AreaSampled", 0.0f);
  const std::vector<float>& types = is.Uniforms["ISTypes"].FloatValues;
  const std::vector<glm::vec3>& positions = is.Uniforms["ISPositions"].Vector3Values;
  const std::vector<glm::vec3>& sizes1 = is.Uniforms["ISSizes1"].Vector3Values;
  const std::vector<glm::vec3>& sizes2 = is.Uniforms["ISSizes2"].Vector3Values;
  std::vector<glm::vec3> radiance(types.size(), glm::vec3(0.0f));
  for (size_t i = 0; i < types.size() && i < positions.size() && i < sizes1.size() && i < sizes2.size(); ++i) {
    glm::vec3 lo, hi;
    if (types[i] < 1.5f) {
      lo = positions[i] - sizes1[i];
      hi = positions[i] + sizes1[i];
    } else {
      const glm::vec3 p0 = positions[i], a = sizes1[i], b = sizes2[i];
      lo = glm::min(glm::min(p0, p0 + a), glm::min(p0 + b, p0 + a + b));
      hi = glm::max(glm::max(p0, p0 + a), glm::max(p0 + b, p0 + a + b));
    }
    // An emitter modelled a little off the area (glass in its frame, a bulb
    // in its cage) still belongs to it.
    const glm::vec3 pad(0.1f * glm::length(hi - lo) + 1e-4f);
    lo -= pad;
    hi += pad;
    DrawEntry* best = nullptr;
    for (DrawEntry& e : queue) {
      if (!std::get<7>(e) && !std::get<8>(e)) continue;
      const glm::vec3 emitted = EmittedRadiance(e);
      if (Luminance(emitted) <= 0.0f) continue;
      glm::vec3 elo, ehi;
      if (!EntryWorldBounds(e, elo, ehi)) continue;
      if (glm::any(glm::lessThan(ehi, lo)) || glm::any(glm::lessThan(hi, elo))) continue;
      if (best == nullptr || Luminance(emitted) > Luminance(radiance[i])) {
        best = &e;
        radiance[i] = emitted;
      }
    }
    if (best == nullptr) continue;
    // The area stands for the whole mesh it covers: a mesh drawn in parts
    // (one request per submesh, each with its own material, as the
    // brazier's flames are) has every emitting part marked, or rays would
    // count the other parts' light again on top of the area's.
    for (DrawEntry& e : queue) {
      if (std::get<0>(e) == std::get<0>(*best) && std::get<2>(e) == std::get<2>(*best) &&
          Luminance(EmittedRadiance(e)) > 0.0f) {
        std::get<6>(e).SetFloat("_AreaSampled", 1.0f);
      }
    }
  }
  is.SetVectorArray("ISRadiance", radiance);
}

// ---------------------------------------------------------------------------
// Sun

namespace {

// The sky whose sun the field's sun volume is swept for, with the sweeping
// shader loaded; null when there is no sun to sweep.
const Sky* SunToSweep(const LightField& l) {
  const Sky* sky = RenderSystem::ActiveSky();
  if (sky == nullptr || sky->SunStrength <= 0.0f || l.SunVolume == nullptr || glm::length(sky->SunDirection) <= 0.0f) {
    return nullptr;
  }
  RenderSystem::LightInjection = Resources<Shader>::Get("VoxelRaytracing/LightInjection");
  return RenderSystem::LightInjection ? sky : nullptr;
}

}  // namespace

bool RenderSystem::SweepSunlight(LightField& l, const Transform& t, UniformBuffer& time, UniformBuffer& voxel) {
  const Sky* sky = SunToSweep(l);
  if (sky == nullptr) return false;
  // The sun's direction in voxels, scaled so that one step crosses one slice
  // of the axis it runs along most.
  const glm::ivec3 size(l.SunVolume->Width, l.SunVolume->Height, l.SunVolume->Depth);
  glm::vec3 d = glm::mat3(t.WorldInverse) * glm::normalize(sky->SunDirection) * 0.5f * glm::vec3(size);
  int axis = 0;
  for (int a = 1; a < 3; ++a) {
    if (std::abs(d[a]) > std::abs(d[axis])) axis = a;
  }
  if (std::abs(d[axis]) <= 0.0f) return false;
  d /= std::abs(d[axis]);
  std::vector<UniformBuffer*> buffers = {&time, &voxel};
  const unsigned program = UseCompute(*LightInjection, "SunSweep", &buffers);
  if (program == 0) return false;
  BindImage(program, "_SunOut", 0, l.SunVolume, 0, GL_RG8, GL_WRITE_ONLY);
  BindImage(program, "_LightFieldDistanceImage", 1, l.DistanceVolume, 0, GL_R8, GL_READ_ONLY);
  const int slices = size[axis];
  const int u = axis == 0 ? 1 : 0, w = axis == 2 ? 1 : 2;
  const glm::vec2 step(d[u], d[w]);
  // The lines that cross the field: those starting beside it too, as far as
  // the sun's slant carries them across (a margin for rounding).
  glm::vec2 lo(0.0f), hi(0.0f);
  for (int k : {0, slices - 1}) {
    const glm::vec2 at = glm::floor(-static_cast<float>(k) * step + 0.5f);
    lo = glm::min(lo, at);
    hi = glm::max(hi, at);
  }
  const glm::ivec2 origin = -glm::ivec2(hi) - 1;
  const glm::ivec2 lines = glm::ivec2(size[u], size[w]) + glm::ivec2(hi - lo) + 2;
  glProgramUniform1i(program, glGetUniformLocation(program, "_SweepAxis"), axis);
  glProgramUniform1i(program, glGetUniformLocation(program, "_SweepFirst"), d[axis] > 0.0f ? slices - 1 : 0);
  glProgramUniform1i(program, glGetUniformLocation(program, "_SweepDir"), d[axis] > 0.0f ? -1 : 1);
  glProgramUniform2f(program, glGetUniformLocation(program, "_SweepStep"), step.x, step.y);
  glProgramUniform2i(program, glGetUniformLocation(program, "_SweepOrigin"), origin.x, origin.y);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glDispatchCompute(static_cast<unsigned>((lines.x + 7) / 8), static_cast<unsigned>((lines.y + 7) / 8), 1);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  return true;
}

namespace {

// The lines of a sweep along `axis` (slices `slices` deep, the sun's
// step across them per slice `step`, starting from slice `first` and going
// `dir`) that cross box `lo`..`hi` of the level: the first line's place and
// how many there are across.
void LinesThrough(int axis, glm::vec2 step, int first, int dir, glm::ivec3 lo, glm::ivec3 hi, glm::ivec2& origin,
                  glm::ivec2& count) {
  const int u = axis == 0 ? 1 : 0, w = axis == 2 ? 1 : 2;
  const glm::ivec2 qlo(lo[u], lo[w]), qhi(hi[u], hi[w]);
  glm::ivec2 rlo(1 << 30), rhi(-(1 << 30));
  for (int s : {lo[axis], hi[axis] - 1}) {
    const int k = (s - first) * dir;
    const glm::ivec2 r(glm::floor(-static_cast<float>(k) * step + 0.5f));
    rlo = glm::min(rlo, r);
    rhi = glm::max(rhi, r);
  }
  origin = qlo - rhi;
  count = qhi - rlo - origin;
}

}  // namespace

bool RenderSystem::SweepLevels(LightField& l, const CascadeFrame& c, UniformBuffer& time, UniformBuffer& voxel) {
  const Sky* sky = SunToSweep(l);
  if (sky == nullptr) return false;
  const glm::vec3 sun = glm::normalize(sky->SunDirection);
  const bool sunMoved = l.State.SweptSun != sun;
  l.State.SweptSun = sun;
  // The levels' voxels are cubes along the world's axes: one step crosses
  // one slice of the axis the sun runs along most.
  int axis = 0;
  for (int a = 1; a < 3; ++a) {
    if (std::abs(sun[a]) > std::abs(sun[axis])) axis = a;
  }
  const glm::vec3 d = sun / std::abs(sun[axis]);
  const int u = axis == 0 ? 1 : 0, w = axis == 2 ? 1 : 2;
  const glm::vec2 step(d[u], d[w]);
  const glm::ivec3 n = c.Voxels;
  const int slices = n[axis];
  const int first = d[axis] > 0.0f ? slices - 1 : 0, dir = d[axis] > 0.0f ? -1 : 1;

  std::vector<UniformBuffer*> buffers = {&time, &voxel};
  const unsigned program = UseCompute(*LightInjection, "SunSweep", &buffers);
  if (program == 0) return false;
  BindImage(program, "_SunOut", 0, l.SunVolume, 0, GL_RG8, GL_READ_WRITE);
  BindImage(program, "_LightFieldDistanceImage", 1, l.DistanceVolume, 0, GL_R8, GL_READ_ONLY);
  auto location = [program](const char* name) { return glGetUniformLocation(program, name); };
  glProgramUniform1i(program, location("_SweepAxis"), axis);
  glProgramUniform1i(program, location("_SweepFirst"), first);
  glProgramUniform1i(program, location("_SweepDir"), dir);
  glProgramUniform2f(program, location("_SweepStep"), step.x, step.y);
  glProgramUniform3f(program, location("_SweepSun"), sun.x, sun.y, sun.z);
  Debug::_CheckGLError("RELEASE", __LINE__);
  bool coarserWhole = false;
  for (int k = c.Levels - 1; k >= 0; --k) {
    const Cascade::LevelWork& work = c.Work[static_cast<size_t>(k)];
    const glm::ivec3 origin = c.Origins[static_cast<size_t>(k)];
    const bool whole = sunMoved || work.Whole || work.Moved || coarserWhole;
    coarserWhole = whole;
    std::vector<Cascade::Box> boxes;
    if (whole) {
      boxes.push_back({glm::ivec3(0), n});
    } else {
      for (const Cascade::Box& b : work.Boxes) boxes.push_back({b.Lo - origin, b.Hi - origin});
    }
    if (boxes.empty()) continue;
    const glm::ivec3 wrap = Cascade::Wrap(origin, n);
    glProgramUniform3i(program, location("_SweepWrap"), wrap.x, wrap.y, wrap.z);
    glProgramUniform1i(program, location("_SweepBase"), k * n.z);
    const bool coarse = k + 1 < c.Levels;
    glProgramUniform1i(program, location("_SweepCoarse"), coarse ? 1 : 0);
    if (coarse) {
      const glm::ivec3 next = c.Origins[static_cast<size_t>(k) + 1];
      const glm::ivec3 coarseWrap = Cascade::Wrap(next, n);
      const glm::vec3 offset = glm::vec3(next) - glm::vec3(origin) * 0.5f;
      glProgramUniform3i(program, location("_SweepCoarseWrap"), coarseWrap.x, coarseWrap.y, coarseWrap.z);
      glProgramUniform1i(program, location("_SweepCoarseBase"), (k + 1) * n.z);
      glProgramUniform3f(program, location("_SweepCoarseOffset"), offset.x, offset.y, offset.z);
    }
    Debug::_CheckGLError("RELEASE", __LINE__);
    for (const Cascade::Box& b : boxes) {
      glm::ivec2 lines0, lines;
      LinesThrough(axis, step, first, dir, b.Lo, b.Hi, lines0, lines);
      glProgramUniform2i(program, location("_SweepOrigin"), lines0.x, lines0.y);
      Debug::_CheckGLError("RELEASE", __LINE__);
      glDispatchCompute(static_cast<unsigned>((lines.x + 7) / 8), static_cast<unsigned>((lines.y + 7) / 8), 1);
      Debug::_CheckGLError("RELEASE", __LINE__);
    }
    // The next finer level reads this one's as it starts its lines.
    glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
    Debug::_CheckGLError("RELEASE", __LINE__);
  }
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  return true;
}

// ---------------------------------------------------------------------------
// Sky

float RenderSystem::LightPower(UniformBuffer& is, const std::vector<DrawEntry>& queue) {
  double power = 0.0;
  const std::vector<float>& types = is.Uniforms["ISTypes"].FloatValues;
  const std::vector<glm::vec3>& sizes1 = is.Uniforms["ISSizes1"].Vector3Values;
  const std::vector<glm::vec3>& sizes2 = is.Uniforms["ISSizes2"].Vector3Values;
  const std::vector<glm::vec3>& radiance = is.Uniforms["ISRadiance"].Vector3Values;
  for (size_t i = 0; i < types.size() && i < sizes1.size() && i < sizes2.size() && i < radiance.size(); ++i) {
    const float area = types[i] < 1.5f ? 4.0f * 3.14159265f * sizes1[i].x * sizes1[i].x
                                       : glm::length(glm::cross(sizes1[i], sizes2[i]));
    power += Luminance(radiance[i]) * area;
  }
  if (const Sky* sky = ActiveSky()) {
    power += Luminance(sky->SunIrradiance()) + 3.14159265f * Luminance(sky->ZenithColor + sky->HorizonColor) * sky->SkyStrength;
  }
  for (const DrawEntry& e : queue) {
    const float emitted = Luminance(EmittedRadiance(e));
    glm::vec3 lo, hi;
    if (emitted <= 0.0f || !EntryWorldBounds(e, lo, hi)) continue;
    const glm::vec3 size = hi - lo;
    power += emitted * (size.x * size.y + size.y * size.z + size.z * size.x);
  }
  return static_cast<float>(power);
}

Sky* RenderSystem::ActiveSky() {
  for (Thing t : SkyThings) {
    if (Sky* s = ComponentHandler<Sky>::Get(t)) return s;
  }
  return nullptr;
}

void RenderSystem::FillSkyUniforms(UniformBuffer& field, const Sky* sky) {
  const Sky none = [] {
    Sky black;
    black.SkyStrength = 0.0f;
    black.SunStrength = 0.0f;
    return black;
  }();
  const Sky& s = sky != nullptr ? *sky : none;
  field.SetVector("_SkyZenith", s.ZenithColor * s.SkyStrength);
  field.SetVector("_SkyHorizon", s.HorizonColor * s.SkyStrength);
  field.SetVector("_SkyGround", s.GroundColor * s.SkyStrength);
  const float length = glm::length(s.SunDirection);
  const glm::vec3 toSun = length > 0.0f ? s.SunDirection / length : glm::vec3(0.0f, 0.0f, 1.0f);
  field.SetVector("_SunDirection", toSun);
  field.SetVector("_SunRadiance", s.SunRadiance());
  field.SetVector("_SunIrradiance", s.SunIrradiance());
  const float radius = std::clamp(s.SunAngle, 0.0f, 180.0f) * 0.5f * 3.14159265f / 180.0f;
  field.SetFloat("_SunCosAngle", std::cos(radius));
}

// ---------------------------------------------------------------------------
// Uniforms

void RenderSystem::FillQuickrayUniforms(UniformBuffer& quickray) {
  std::srand(0);
  for (int i = 0; i < 10; ++i) {
    const float zr = static_cast<float>(std::rand()) / 32767.0f;
    const float yr = static_cast<float>(std::rand()) / 32767.0f;
    const float xr = static_cast<float>(std::rand()) / 32767.0f;
    // The library's RAND_MAX may exceed 32767; fold into 0..1 either way.
    const glm::vec3 u(std::fmod(xr, 1.0f), std::fmod(yr, 1.0f), std::fmod(zr, 1.0f));
    glm::vec3 d = SphereSample(u);
    if (glm::length(d) < 1e-6f) d = glm::vec3(0.0f, 0.0f, 1.0f);
    d = glm::normalize(d);
    const float k = 0.57735026f;
    glm::vec3 t = glm::cross(d, glm::vec3(k));
    // A direction along the diagonal has no cross product with it.
    if (glm::length(t) < 1e-6f) t = glm::cross(d, glm::vec3(1.0f, 0.0f, 0.0f));
    t = glm::normalize(t);
    const glm::vec3 b = glm::normalize(glm::cross(d, t));
    quickray.SetMatrix3("QuickrayMat" + std::to_string(i), glm::mat3(t, b, d));
  }
}

void RenderSystem::FillFieldUniforms(UniformBuffer& field, LightField& l, const Transform& t) {
  const glm::vec3 res = l.Resolution;
  field.SetTexture("_LightField", l.Volume);
  field.SetTexture("_LightFieldFog", l.FogVolume);
  field.SetTexture("_LightFieldDistance", l.DistanceVolume);
  field.SetTexture("_LightFieldSkip", l.SkipVolume);
  field.SetVector("_LightFieldInvWorldSize", glm::vec3(1.0f) / t.Scale);
  field.SetMatrix4("_LightFieldWorldToLocal", l.WorldToLocalPast);
  field.SetMatrix4("_LightFieldLocalToWorld", t.World);
  field.SetVector("_LightFieldInvTexSizeBias", glm::vec3(1.0f) / res * l.InvTexSizeBias);
  field.SetVector("_LightFieldTexSize", res);
  field.SetVector("_LightFieldDistTexSize", res * 2.0f);
  const glm::dvec3 extent = glm::dvec3(t.Scale) * 2.0;
  const double resLength = glm::length(glm::dvec3(res));
  const double step = resLength > 0.0 ? glm::length(extent) / resLength *
                                            static_cast<double>(l.RayStepFactor) *
                                            static_cast<double>(l.RayStepMultiplier)
                                      : 0.0;
  field.SetFloat("_LightFieldRayStep", static_cast<float>(step));
  field.SetFloat("_LightFieldRayStepMax", l.RayStepMax);
  field.SetFloat("steps", 1.0f);
  field.SetFloat("voxelPhase", static_cast<float>(l.VoxelPhase) / 255.0f);
  field.SetTexture("TempLightmapStopgap", TempLightmapStopgapShit);
  field.SetFloat("_HQReflections", Flag(HQReflections));
  field.SetFloat("_VisualizeVoxels", Flag(VisualizeVoxels));
  field.SetFloat("_CastGI", Flag(CastGI));
  field.SetFloat("_CastSpecular", Flag(CastSpecular));
  field.SetFloat("_CastIS", Flag(CastIS));
  field.SetFloat("_NoiseStyle", static_cast<float>(NoiseStyle->value));
  field.SetTexture("_LightFieldMaterial", l.MaterialVolume);
  field.SetTexture("_LightFieldEmission", l.EmissionVolume);
  field.SetTexture("_LightFieldFacing", l.FacingVolume);
  // A cascade's levels (compiled in: one grid pays nothing for them); one
  // grid's voxel passes draw the whole field into its own place.
  field.SetFloat("_Cascaded", l.Cascaded() ? 1.0f : 0.0f);
  field.SetFloat("_CascadeLevels", static_cast<float>(l.Cascaded() ? l.Levels : 1));
  field.SetFloat("_CascadeVoxel", l.VoxelSize);
  field.SetVector("_VoxelBoxLo", glm::vec3(0.0f));
  field.SetVector("_VoxelBoxHi", res);
  field.SetVector("_VoxelWrap", glm::vec3(0.0f));
  field.SetFloat("_VoxelBase", 0.0f);
  FillSkyUniforms(field, ActiveSky());
}

glm::ivec3 RenderSystem::FieldVolumeSize(glm::vec3 resolution, int max3DSize) {
  // The occupancy volume doubles every axis, so half the largest 3D texture
  // is the ceiling; level 1 of the colour volume is rendered into, so two
  // voxels is the floor.
  const float ceiling = static_cast<float>(std::max(2, max3DSize / 2));
  glm::ivec3 size(0);
  for (int axis = 0; axis < 3; ++axis) {
    if (!(resolution[axis] >= 1.0f)) return glm::ivec3(0);
    size[axis] = std::max(2, static_cast<int>(std::min(resolution[axis], ceiling)));
  }
  // A size the driver accepts may still be more memory than it has: the
  // volumes together take about 40 bytes a voxel.
  const double voxels = static_cast<double>(size.x) * size.y * size.z;
  if (voxels > kMaxFieldVoxels) {
    const double shrink = std::cbrt(kMaxFieldVoxels / voxels);
    // The cube root is not exact: a side that should come out whole must not
    // lose a voxel to rounding.
    for (int axis = 0; axis < 3; ++axis) {
      size[axis] = std::max(2, static_cast<int>(size[axis] * shrink + 1e-6));
    }
  }
  return size;
}

void RenderSystem::SetupLightmap() {
  if (TempLightmapStopgapShit != nullptr) return;
  TempLightmapStopgapShit = new RenderTexture(1024, 1024, TextureFormats::RGBA16F);
  TempLightmapStopgapShit->Mipmaps = true;
  TempLightmapStopgapShit->FilterMode = 2;
  TempLightmapStopgapShit->ToGPU();
  // The two depth targets of the original layout are not made: nothing reads
  // them and they would cost 6 MiB of the pool's neighbours.
}

// ---------------------------------------------------------------------------
// Voxel plan

RenderSystem::VoxelPlan RenderSystem::PlanVoxels(const LightField& l, const std::vector<std::uint64_t>& signatures,
                                                 std::uint64_t switches, bool particles) {
  using Signatures = std::vector<std::uint64_t>;
  VoxelPlan plan;
  plan.Moving.assign(signatures.size(), false);
  Signatures now;
  for (std::uint64_t s : signatures) {
    if (s != 0) now.push_back(s);
  }
  std::sort(now.begin(), now.end());
  // The first time, everything goes into the static copy.
  const LightFieldState& record = l.State;
  if (!record.VoxelsValid || record.VoxelSwitches != switches) return plan;
  const Signatures& held = record.HeldEntries;
  const Signatures& kept = record.StaticEntries;
  if (now == held && !particles && !record.HeldParticles) {
    plan.What = VoxelPlan::Step::Stand;
    plan.Promote = held != kept;
    return plan;
  }
  // Sorted multisets: an entry drawn twice alike counts twice.
  auto minus = [](const Signatures& a, const Signatures& b) {
    Signatures out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
  };
  auto both = [](const Signatures& a, const Signatures& b) {
    Signatures out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
  };
  // An entry drawn on top last frame that did not change since has come to
  // rest: it joins the static copy, which is then built anew, as it is when
  // an entry of the static copy changed or went away.
  const bool cameToRest = !both(minus(now, kept), minus(held, kept)).empty();
  Signatures still;
  if (std::includes(now.begin(), now.end(), kept.begin(), kept.end()) && !cameToRest) {
    plan.What = VoxelPlan::Step::Restore;
    still = kept;
  } else {
    still = both(now, held);
  }
  std::unordered_map<std::uint64_t, int> left;
  for (std::uint64_t s : still) left[s] += 1;
  for (size_t i = 0; i < signatures.size(); ++i) {
    if (signatures[i] == 0) continue;
    int& n = left[signatures[i]];
    if (n > 0) {
      --n;
    } else {
      plan.Moving[i] = true;
    }
  }
  return plan;
}

namespace {

// A buffer's values whatever the order of its map: setting a value again
// re-inserts its entry, which may move it in the map's iteration order.
std::uint64_t ValuesSignature(UniformBuffer& buffer) {
  std::uint64_t sum = 0;
  for (auto& [name, u] : buffer.Uniforms) {
    u.CalculateHash();
    sum += HashCombine(HashName(name), u.ValueHash);
  }
  return sum;
}

}  // namespace

std::vector<std::uint64_t> RenderSystem::VoxelEntrySignatures(std::vector<DrawEntry>& queue) {
  auto mixMatrix = [](std::uint64_t& seed, const glm::mat4& m) {
    for (int c = 0; c < 4; ++c) {
      for (int r = 0; r < 4; ++r) seed = HashCombine(seed, HashFloat(m[c][r]));
    }
  };
  std::unordered_map<UniformBuffer*, std::uint64_t> materials;
  std::vector<std::uint64_t> out(queue.size(), 0);
  for (size_t i = 0; i < queue.size(); ++i) {
    DrawEntry& e = queue[i];
    if (!std::get<8>(e) || !std::get<4>(e)) continue;
    std::uint64_t seed = 0;
    auto mix = [&seed](std::uint64_t v) { seed = HashCombine(seed, v); };
    mix(reinterpret_cast<std::uintptr_t>(std::get<0>(e).Object()));
    mix(static_cast<std::uint64_t>(std::get<1>(e)) + 5u);
    mixMatrix(seed, std::get<2>(e));
    mix(reinterpret_cast<std::uintptr_t>(std::get<4>(e).Object()));
    mix(ValuesSignature(std::get<6>(e)));
    if (UniformBuffer* shared = std::get<5>(e)) {
      // Presets edit material values in place: take them as they are now.
      auto found = materials.find(shared);
      if (found == materials.end()) found = materials.emplace(shared, ValuesSignature(*shared)).first;
      mix(reinterpret_cast<std::uintptr_t>(shared));
      mix(found->second);
    }
    // 0 marks an entry that is not voxelised.
    out[i] = seed != 0 ? seed : 1;
  }
  return out;
}

std::uint64_t RenderSystem::VoxelSwitchSignature(const glm::mat4& fieldWorld) {
  std::uint64_t seed = 0;
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) seed = HashCombine(seed, HashFloat(fieldWorld[c][r]));
  }
  // The switches choose what is voxelised.
  for (CVar<bool>* v : {UpdateVoxelsHQ, UpdateAcceleration, ClearVoxels}) seed = HashCombine(seed, v->value ? 1u : 2u);
  return seed;
}

std::uint64_t RenderSystem::LightingSignature() {
  std::uint64_t seed = 0;
  auto mix = [&seed](std::uint64_t v) { seed = HashCombine(seed, v); };
  auto mixVector = [&mix](glm::vec3 v) {
    for (int k = 0; k < 3; ++k) mix(HashFloat(v[k]));
  };
  if (const Sky* sky = ActiveSky()) {
    for (glm::vec3 v : {sky->ZenithColor, sky->HorizonColor, sky->GroundColor, sky->SunDirection, sky->SunColor}) {
      mixVector(v);
    }
    for (float f : {sky->SkyStrength, sky->SunStrength, sky->SunAngle}) mix(HashFloat(f));
  }
  return seed;
}

std::uint64_t RenderSystem::ShownLightSignature() {
  std::uint64_t seed = 0;
  for (CVar<bool>* v : {CastGI, CastIS, CastSpecular, HQReflections, VisualizeVoxels, RaycastScreen,
                        DeferredOrForward, RenderGBuffer}) {
    seed = HashCombine(seed, v->value ? 1u : 2u);
  }
  return seed;
}

// ---------------------------------------------------------------------------
// Injection

namespace {

// What the injection reads: last frame's light and this frame's voxels.
// While the light settles every voxel is relit each frame from this
// frame's light alone; the first of those frames gathers the last light
// scaled by `carried`.
UniformBuffer InjectionInputs(const LightField& l, bool settling, float carried, int share) {
  UniformBuffer inputs;
  // A cascade's coarser levels relight less often, but not while settling.
  inputs.SetFloat("_ShareGrowth", settling ? 1.0f : RenderSystem::LevelShareGrowth);
  inputs.SetTexture("_LightField", l.Volume);
  inputs.SetTexture("_LightFieldIrradiance", l.IrradianceVolume);
  inputs.SetTexture("_LightFieldMaterial", l.MaterialVolume);
  inputs.SetTexture("_LightFieldEmission", l.EmissionVolume);
  inputs.SetTexture("_LightFieldDistance", l.DistanceVolume);
  inputs.SetTexture("_LightFieldSun", l.SunVolume);
  inputs.SetFloat("_InjectionShare", settling ? 1.0f : static_cast<float>(share));
  inputs.SetVector("_InjectionBlend", settling ? glm::vec2(1.0f) : glm::vec2(0.5f, 0.25f));
  inputs.SetFloat("_CarriedLight", carried);
  inputs.CalculateHash();
  return inputs;
}

// The voxels not relit this frame keep their light: the whole of last
// frame's volumes first, the listed voxels written over them.
void CarryLastFramesLight(const LightField& l) {
  glMemoryBarrier(GL_TEXTURE_UPDATE_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  for (auto [from, to] : {std::pair{l.Volume, l.VolumeBack}, std::pair{l.IrradianceVolume, l.IrradianceBack}}) {
    glCopyImageSubData(from->ID, GL_TEXTURE_3D, 0, 0, 0, 0, to->ID, GL_TEXTURE_3D, 0, 0, 0, 0, from->Width,
                       from->Height, from->Depth);
    Debug::_CheckGLError("RELEASE", __LINE__);
  }
  glMemoryBarrier(GL_COMMAND_BARRIER_BIT | GL_SHADER_STORAGE_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
}

// The indirect light averaged over each surface's neighbouring voxels, for
// the voxels just relit.
void FilterIrradiance(const LightField& l, const WorkList& relit, bool settling, UniformBuffer& time,
                      UniformBuffer& voxel, Texbit* irradiance, const CascadeFrame* levels) {
  const int share = levels != nullptr ? RenderSystem::CascadeShare : RenderSystem::InjectionShare;
  UniformBuffer inputs;
  inputs.SetTexture("_LightFieldIrradiance", irradiance);
  inputs.SetTexture("_LightFieldMaterial", l.MaterialVolume);
  inputs.SetFloat("_InjectionShare", settling ? 1.0f : static_cast<float>(share));
  inputs.SetFloat("_ShareGrowth", settling ? 1.0f : RenderSystem::LevelShareGrowth);
  std::vector<UniformBuffer*> buffers = {&time, &voxel, &inputs};
  const unsigned program = UseCompute(*RenderSystem::LightInjection, "Filter", &buffers);
  if (program == 0) return;
  if (levels != nullptr) UploadCascade(program, *levels);
  BindImage(program, "_FilteredOut", 0, l.IrradianceFiltered, 0, GL_RGBA16F);
  BindImage(program, "_MaterialIn", 1, l.MaterialVolume, 0, GL_RG32UI, GL_READ_ONLY);
  BindImage(program, "_IrradianceIn", 2, irradiance, 0, GL_RGBA16F, GL_READ_ONLY);
  DispatchIndirect(relit.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
}

}  // namespace

bool RenderSystem::InjectLight(LightField& l, UniformBuffer& time, UniformBuffer& is, UniformBuffer& voxel) {
  LightInjection = Resources<Shader>::Get("VoxelRaytracing/LightInjection");
  if (!LightInjection || l.VolumeBack == nullptr || l.IrradianceBack == nullptr) return false;
  // The voxels to light, listed by the "Select" dispatch; scratch of this
  // pass alone.
  static WorkList list;
  list.Reset(static_cast<size_t>(l.VolumeBack->Width) * l.VolumeBack->Height * l.VolumeBack->Depth, 0);
  const bool settling = l.State.Settling > 0;
  // The last light counts scaled in the first frame after the change only.
  const float carried = l.State.Settling == SettleFrames ? l.State.CarriedLight : 1.0f;
  if (settling) --l.State.Settling;
  l.State.CarriedLight = 1.0f;
  UniformBuffer inputs = InjectionInputs(l, settling, carried, InjectionShare);
  std::vector<UniformBuffer*> buffers = {&time, &voxel, &is, &inputs};

  unsigned program = UseCompute(*LightInjection, "Select", &buffers);
  if (program == 0) return false;
  // One invocation per 2 x 2 x 2 voxels, 4 x 4 x 4 of them a work group.
  const auto groups = [](int n) { return static_cast<unsigned>((n + 7) / 8); };
  glDispatchCompute(groups(l.VolumeBack->Width), groups(l.VolumeBack->Height), groups(l.VolumeBack->Depth));
  Debug::_CheckGLError("RELEASE", __LINE__);
  CarryLastFramesLight(l);


  program = UseCompute(*LightInjection, "Inject", &buffers);
  if (program == 0) return false;
  BindImage(program, "_RadianceOut", 0, l.VolumeBack, 0, GL_RGBA16F);
  BindImage(program, "_IrradianceOut", 1, l.IrradianceBack, 0, GL_RGBA16F);
  // A voxel holding both sides of a slab may take the open side's plane.
  BindImage(program, "_MaterialOut", 3, l.MaterialVolume, 0, GL_RG32UI, GL_WRITE_ONLY);
  BindMarchImages(program, l);
  UploadISArrays(program, is);
  DispatchIndirect(list.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  FilterIrradiance(l, list, settling, time, voxel, l.IrradianceBack, nullptr);
  return true;
}

namespace {

// A cascade's list of occupied voxels where boxes were drawn anew this
// frame: the listed voxels outside them kept, the boxes' own scanned.
// More pieces than the compaction takes (or no list yet): every voxel of
// every level scanned.
constexpr size_t MostChangedPieces = 32;
// As many pieces of boxes drawn anew lately as the injection's test of
// each voxel against them takes (the shaders' arrays).
constexpr size_t MostFreshPieces = 16;

void UploadFresh(unsigned program, const std::vector<Cascade::FreshBoxes::Fresh>& fresh) {
  std::vector<glm::ivec3> lo, hi;
  std::vector<int> age;
  for (const Cascade::FreshBoxes::Fresh& f : fresh) {
    lo.push_back(f.Lo);
    hi.push_back(f.Hi);
    age.push_back(f.Age);
  }
  const int count = static_cast<int>(fresh.size());
  glProgramUniform1i(program, glGetUniformLocation(program, "_FreshCount"), count);
  if (count > 0) {
    glProgramUniform3iv(program, glGetUniformLocation(program, "_FreshLo"), count, &lo[0].x);
    glProgramUniform3iv(program, glGetUniformLocation(program, "_FreshHi"), count, &hi[0].x);
    glProgramUniform1iv(program, glGetUniformLocation(program, "_FreshAge"), count, age.data());
  }
  Debug::_CheckGLError("RELEASE", __LINE__);
}

void ListOccupied(LightField& l, const CascadeFrame& c, std::vector<UniformBuffer*>& buffers) {
  CascadeRecord& record = *l.State.Levels;
  std::vector<glm::ivec3> lo, hi;
  std::vector<std::pair<glm::ivec3, glm::ivec3>> scans;
  for (int k = 0; k < c.Levels && static_cast<size_t>(k) < c.Work.size(); ++k) {
    for (const Cascade::Box& b : c.Work[static_cast<size_t>(k)].Boxes) {
      for (const Cascade::Piece& p : Cascade::Pieces(b, c.Voxels)) {
        const glm::ivec3 first = p.Texel + glm::ivec3(0, 0, k * c.Voxels.z);
        lo.push_back(first);
        hi.push_back(first + p.Size);
        scans.emplace_back(first, p.Size);
      }
    }
  }
  if (record.Listed && scans.empty()) return;
  const bool whole = !record.Listed || lo.size() > MostChangedPieces;
  const size_t voxels = static_cast<size_t>(l.MaterialVolume->Width) * l.MaterialVolume->Height * l.MaterialVolume->Depth;
  WorkList& held = record.Occupied[record.Current];
  WorkList& kept = record.Occupied[1 - record.Current];
  kept.Reset(voxels, 4);
  // The voxel passes' image writes must land before the lists read them.
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  if (!whole) {
    held.Bind(3);
    if (const unsigned program = UseCompute(*RenderSystem::LightInjection, "Compact", &buffers)) {
      glProgramUniform1i(program, glGetUniformLocation(program, "_ChangedCount"), static_cast<int>(lo.size()));
      glProgramUniform3iv(program, glGetUniformLocation(program, "_ChangedLo"), static_cast<int>(lo.size()), &lo[0].x);
      glProgramUniform3iv(program, glGetUniformLocation(program, "_ChangedHi"), static_cast<int>(hi.size()), &hi[0].x);
      Debug::_CheckGLError("RELEASE", __LINE__);
      DispatchIndirect(held.Groups(), GL_SHADER_STORAGE_BARRIER_BIT);
    }
  } else {
    scans = {{glm::ivec3(0), glm::ivec3(l.MaterialVolume->Width, l.MaterialVolume->Height, l.MaterialVolume->Depth)}};
  }
  if (const unsigned program = UseCompute(*RenderSystem::LightInjection, "Scan", &buffers)) {
    const int first = glGetUniformLocation(program, "_PieceFirst"), size = glGetUniformLocation(program, "_PieceSize");
    for (const auto& [from, extent] : scans) {
      glProgramUniform3i(program, first, from.x, from.y, from.z);
      glProgramUniform3i(program, size, extent.x, extent.y, extent.z);
      Debug::_CheckGLError("RELEASE", __LINE__);
      // 4 x 4 x 4 invocations a group, each 2 x 2 x 2 voxels.
      glDispatchCompute(static_cast<unsigned>((extent.x + 7) / 8), static_cast<unsigned>((extent.y + 7) / 8),
                        static_cast<unsigned>((extent.z + 7) / 8));
      Debug::_CheckGLError("RELEASE", __LINE__);
    }
  }
  glMemoryBarrier(GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  record.Current = 1 - record.Current;
  record.Listed = true;
}

}  // namespace

bool RenderSystem::InjectLevels(LightField& l, const CascadeFrame& c, UniformBuffer& time, UniformBuffer& is,
                                UniformBuffer& voxel) {
  LightInjection = Resources<Shader>::Get("VoxelRaytracing/LightInjection");
  if (!LightInjection || l.VolumeBack == nullptr || l.IrradianceBack == nullptr || !l.State.Levels) return false;
  const bool settling = l.State.Settling > 0;
  const float carried = l.State.Settling == SettleFrames ? l.State.CarriedLight : 1.0f;
  if (settling) --l.State.Settling;
  l.State.CarriedLight = 1.0f;
  UniformBuffer inputs = InjectionInputs(l, settling, carried, CascadeShare);
  std::vector<UniformBuffer*> buffers = {&time, &voxel, &is, &inputs};
  ListOccupied(l, c, buffers);
  CascadeRecord& record = *l.State.Levels;
  const WorkList& occupied = record.Occupied[record.Current];

  // This frame's share of the occupied voxels; scratch of this pass alone.
  static WorkList list;
  list.Reset(static_cast<size_t>(l.VolumeBack->Width) * l.VolumeBack->Height * l.VolumeBack->Depth, 0);
  occupied.Bind(3);
  const std::vector<Cascade::FreshBoxes::Fresh> fresh = record.Fresh.Pieces(MostFreshPieces);
  unsigned program = UseCompute(*LightInjection, "Pick", &buffers);
  if (program == 0) return false;
  UploadCascade(program, c);
  UploadFresh(program, fresh);
  DispatchIndirect(occupied.Groups(), GL_SHADER_STORAGE_BARRIER_BIT | GL_COMMAND_BARRIER_BIT);


  program = UseCompute(*LightInjection, "Inject", &buffers);
  if (program == 0) return false;
  UploadCascade(program, c);
  UploadFresh(program, fresh);
  BindImage(program, "_RadianceOut", 0, l.VolumeBack, 0, GL_RGBA16F);
  BindImage(program, "_IrradianceOut", 1, l.IrradianceBack, 0, GL_RGBA16F);
  // A voxel holding both sides of a slab may take the open side's plane.
  BindImage(program, "_MaterialOut", 3, l.MaterialVolume, 0, GL_RG32UI, GL_WRITE_ONLY);
  BindMarchImages(program, l);
  UploadISArrays(program, is);
  DispatchIndirect(list.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);

  UniformBuffer worked;
  worked.SetTexture("_WorkedRadiance", l.VolumeBack);
  worked.SetTexture("_WorkedIrradiance", l.IrradianceBack);
  worked.CalculateHash();
  std::vector<UniformBuffer*> publishing = {&time, &worked};
  program = UseCompute(*LightInjection, "Publish", &publishing);
  if (program == 0) return false;
  BindImage(program, "_RadianceOut", 0, l.Volume, 0, GL_RGBA16F);
  BindImage(program, "_IrradianceOut", 1, l.IrradianceVolume, 0, GL_RGBA16F);
  DispatchIndirect(list.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  FilterIrradiance(l, list, settling, time, voxel, l.IrradianceVolume, &c);
  return true;
}

}  // namespace KestorEngine
