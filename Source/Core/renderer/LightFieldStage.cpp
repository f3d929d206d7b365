// The global-illumination inputs: area lights for importance sampling, the
// sky, the fixed ray frames, the one-time textures and, per light field and
// frame, the voxelisation of the scene's materials (albedo, normal,
// emission, occupancy), the distance volume, and the light injection that
// gives every occupied voxel the light it reflects.
//
// One unit throughout: an emitter's Strength x EmissionColor, the sky's
// colours and the sun disc are radiance; a voxel stores the radiance its
// surface reflects, albedo / pi x irradiance. The injection gathers the
// irradiance from the sun and the area lights (with visibility through the
// occupancy) and from the previous frame's voxel radiance (a few rays), so
// light bounces once more every frame and settles at the multi-bounce
// answer; with albedo below 1 each bounce is weaker, so it stays bounded.
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
#include "renderer/Cloth.h"
#include "renderer/ComputePass.h"
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

RenderTexture* MakeVolume(int x, int y, int z, TextureFormats f, bool mipmaps, int filter) {
  auto* t = new RenderTexture(x, y, f);
  t->Depth = z;
  t->Mipmaps = mipmaps;
  t->FilterMode = filter;
  t->ToGPU();
  return t;
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

float Luminance(glm::vec3 c) { return glm::dot(c, glm::vec3(0.2126f, 0.7152f, 0.0722f)); }

// World box of an entry's mesh: the eight corners of its local bounds.
bool EntryBounds(const DrawEntry& e, glm::vec3& lo, glm::vec3& hi) {
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

glm::vec3 EmittedRadiance(const DrawEntry& e) {
  UniformBuffer* shared = std::get<5>(e);
  if (shared == nullptr) return glm::vec3(0.0f);
  auto strength = shared->Uniforms.find("Strength");
  auto colour = shared->Uniforms.find("EmissionColor");
  if (strength == shared->Uniforms.end() || strength->second.Type != TypeFloat) return glm::vec3(0.0f);
  if (colour == shared->Uniforms.end() || colour->second.Type != TypeVector3) return glm::vec3(0.0f);
  return glm::max(colour->second.Vector3Value * strength->second.FloatValue, glm::vec3(0.0f));
}

// Clears level 0 of a volume that has an integer format: glClear leaves
// those undefined.
void ClearIntegerVolume(RenderTexture* t) {
  RenderTextureGuy::UseTexs({t}, {}, {0}, nullptr);
  const GLuint zero[4] = {0, 0, 0, 0};
  glClearBufferuiv(GL_COLOR, 0, zero);
  Debug::_CheckGLError("RELEASE", __LINE__);
  RenderTextureGuy::UseTexDone();
}

void ClearVolumeLevels(RenderTexture* t, int levels) {
  SaneGL::ClearColor(glm::vec4(0.0f));
  for (int k = 0; k < levels; ++k) {
    if ((t->Width >> k) < 1 || (t->Height >> k) < 1 || (t->Depth >> k) < 1) break;
    RenderTextureGuy::UseTexs({t}, {}, {k}, nullptr);
    SaneGL::Clear(GL_COLOR_BUFFER_BIT);
    RenderTextureGuy::UseTexDone();
  }
}

int Max3DTextureSize() {
  GLint size = 0;
  glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &size);
  Debug::_CheckGLError("RELEASE", __LINE__);
  return size;
}

int MaxSamples() {
  GLint samples = 1;
  glGetIntegerv(GL_MAX_SAMPLES, &samples);
  Debug::_CheckGLError("RELEASE", __LINE__);
  return std::max(1, samples);
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
      if (!EntryBounds(e, elo, ehi)) continue;
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

bool RenderSystem::SweepSunlight(LightField& l, const Transform& t, UniformBuffer& time, UniformBuffer& voxel) {
  const Sky* sky = ActiveSky();
  if (sky == nullptr || sky->SunStrength <= 0.0f || l.SunVolume == nullptr || glm::length(sky->SunDirection) <= 0.0f) {
    return false;
  }
  LightInjection = Resources<Shader>::Get("VoxelRaytracing/LightInjection");
  if (!LightInjection) return false;
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
    if (emitted <= 0.0f || !EntryBounds(e, lo, hi)) continue;
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
  if (!l.VoxelsValid || l.VoxelSwitches != switches) return plan;
  const Signatures& held = l.HeldEntries;
  const Signatures& kept = l.StaticEntries;
  if (now == held && !particles && !l.HeldParticles) {
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

void RenderSystem::LightFieldStage(Thing thing, std::vector<DrawEntry>& queue, UniformBuffer& time,
                                   UniformBuffer& is, UniformBuffer& quickray, UniformBuffer& field) {
  LightField* l = ComponentHandler<LightField>::Get(thing);
  Transform* T = ComponentHandler<Transform>::Get(thing);
  if (l == nullptr || T == nullptr) return;
  // A field without voxels has nothing to render into.
  if (FieldVolumeSize(l->Resolution, 2).x == 0) return;

  if (l->VolumeBack == nullptr) {
    const glm::ivec3 size = FieldVolumeSize(l->Resolution, Max3DTextureSize());
    const glm::ivec3 asked(glm::min(l->Resolution, glm::vec3(1e9f)));
    if (size != asked) {
      std::cout << "LightField of Thing " << thing.ID << ": resolution " << l->Resolution.x << ","
                << l->Resolution.y << "," << l->Resolution.z << " is outside 2 to "
                << std::max(2, Max3DTextureSize() / 2) << " voxels per axis or over "
                << static_cast<long>(kMaxFieldVoxels) << " in all; using " << size.x << "," << size.y << ","
                << size.z << std::endl;
    }
    // The uniforms describe the volumes that exist.
    l->Resolution = glm::vec3(size);
    const int X = size.x, Y = size.y, Z = size.z;
    l->VolumeBack = MakeVolume(X, Y, Z, TextureFormats::RGBA16F, true, 0);
    l->Volume = MakeVolume(X, Y, Z, TextureFormats::RGBA16F, true, 0);
    l->FogVolume = MakeVolume(64, 64, 64, TextureFormats::RGBA16F, false, 1);
    l->SkipVolume = MakeVolume(2 * X, 2 * Y, 2 * Z, TextureFormats::R8, true, 0);
    // Integer volumes cannot have mip levels generated; nothing reads theirs.
    l->SkipBits = MakeVolume(X, Y, 80, TextureFormats::R32UI, false, 0);
    l->DistanceVolume = MakeVolume(X, Y, Z, TextureFormats::R8UI, false, 0);
    l->MaterialVolume = MakeVolume(X, Y, Z, TextureFormats::RG32UI, false, 0);
    l->EmissionVolume = MakeVolume(X, Y, Z, TextureFormats::RGBA16F, false, 0);
    l->IrradianceVolume = MakeVolume(X, Y, Z, TextureFormats::RGBA16F, false, 0);
    l->IrradianceBack = MakeVolume(X, Y, Z, TextureFormats::RGBA16F, false, 0);
    l->IrradianceFiltered = MakeVolume(X, Y, Z, TextureFormats::RGBA16F, false, 0);
    l->FacingVolume = MakeVolume(X, Y, Z, TextureFormats::R32UI, false, 0);
    l->SunVolume = MakeVolume(X, Y, Z, TextureFormats::RG8, false, 1);
    {
      // Beyond the field the sun is seen: the border is sunlit open air.
      GLint bound = 0;
      glGetIntegerv(GL_TEXTURE_BINDING_3D, &bound);
      glBindTexture(GL_TEXTURE_3D, l->SunVolume->ID);
      const GLfloat border[4] = {1.0f, 1.0f, 0.0f, 0.0f};
      for (GLenum wrap : {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R}) {
        glTexParameteri(GL_TEXTURE_3D, wrap, GL_CLAMP_TO_BORDER);
      }
      glTexParameterfv(GL_TEXTURE_3D, GL_TEXTURE_BORDER_COLOR, border);
      glBindTexture(GL_TEXTURE_3D, static_cast<GLuint>(bound));
      Debug::_CheckGLError("RELEASE", __LINE__);
    }
    l->StaticSkip = MakeVolume(2 * X, 2 * Y, 2 * Z, TextureFormats::R8, true, 0);
    l->StaticDistance = MakeVolume(X, Y, Z, TextureFormats::R8UI, false, 0);
    l->StaticMaterial = MakeVolume(X, Y, Z, TextureFormats::RG32UI, false, 0);
    l->StaticEmission = MakeVolume(X, Y, Z, TextureFormats::RGBA16F, false, 0);
    l->StaticFacing = MakeVolume(X, Y, Z, TextureFormats::R32UI, false, 0);
    l->VoxelsValid = false;
    // The first injection blends into these: start from no light.
    for (Texbit* v : {l->Volume, l->VolumeBack, l->IrradianceVolume, l->IrradianceBack, l->IrradianceFiltered}) {
      ClearVolumeLevels(static_cast<RenderTexture*>(v), 1);
    }
  }
  LightField* first = ComponentHandler<LightField>::Get(LitThings.front());
  if (first == nullptr || first->VolumeBack == nullptr || first->MaterialVolume == nullptr) first = l;

  l->WorldToLocalPast = l->WorldToLocal;
  field = UniformBuffer();
  FillFieldUniforms(field, *l, *T);
  field.CalculateHash();

  UniformBuffer voxel = field;
  glm::vec3 cameraPos(0.0f);
  if (!CameraThings.empty()) {
    if (Transform* ct = ComponentHandler<Transform>::Get(CameraThings.front())) cameraPos = ct->Position;
  }
  voxel.SetVector("_CameraPos", cameraPos);
  voxel.CalculateHash();

  l->WorldToLocal = T->WorldInverse;
  voxel.SetMatrix4("_LightFieldWorldToLocal", l->WorldToLocal);
  UniformBuffer voxelView;
  voxelView.SetMatrix4("_WorldToView", T->WorldInverse);

  const int maxSamples = MaxSamples();
  const int longest = std::max({l->VolumeBack->Width, l->VolumeBack->Height, l->VolumeBack->Depth});
  Resource<Mesh>& display = ParticlesDisplay();
  const bool particles = display && Particles().Count != 0 && particlesRender;

  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  // Occupancy is rebuilt from scratch (or from the static copy) whenever
  // something moved, so that a thing that moved or went away leaves nothing
  // behind to block or leak light. The line is printed at the old clearing
  // cadence only, not every frame.
  if (l->VoxelPhase == 1 && ClearVoxels->value) std::cout << "CLEARING DISTANCE STUFF" << std::endl;

  // The curtain's particles as points, into the voxel pass that is open.
  auto drawCurtain = [&](const char* pass, std::vector<UniformBuffer*> list, void (*bind)(unsigned, LightField&)) {
    glEnable(GL_PROGRAM_POINT_SIZE);
    Debug::_CheckGLError("RELEASE", __LINE__);
    SaneGL::PolygonMode(SaneGL::FaceSide::FrontAndBack, SaneGL::PolygonModes::Point);
    particlesRender->Use(pass, &list);
    SaneGL::StateSync();
    if (unsigned program = CurrentProgram()) bind(program, *first);
    Draw::DrawMesh(display, glm::mat4(1.0f), -1);
    SaneGL::PolygonMode(SaneGL::FaceSide::FrontAndBack, SaneGL::PolygonModes::Fill);
  };

  // Draws the voxelised entries that `pick` chooses (and the curtain) into
  // the material volumes and the occupancy mips.
  auto drawColour = [&](const std::function<bool(size_t)>& pick, bool withParticles) {
    PassScope timer("Voxels");
    SaneGL::StatePush();
    // A square of the longest side: each axis the triangles are drawn along
    // needs its two others to fit.
    RenderTextureGuy::UseTex(longest, longest, std::min(maxSamples, 16));
    voxel.SetTexture("_RayTex", first->VolumeBack);
    voxel.CalculateHash();
    SaneGL::DepthTest(SaneGL::ValueComparison::Always);
    SaneGL::CullFace(SaneGL::FaceSide::None);
    SaneGL::Multisample(true);
    for (size_t i = 0; i < queue.size(); ++i) {
      DrawEntry& e = queue[i];
      if (!std::get<8>(e) || !std::get<4>(e) || !pick(i)) continue;
      std::get<6>(e).CalculateHash();
      UniformBuffer draw;
      draw.SetMatrix4("_LocalToWorld_Past", std::get<3>(e));
      draw.SetMatrix4("_WorldToLocal_Past", Draw::AffineInverse(std::get<3>(e)).WorldToLocal);
      std::vector<UniformBuffer*> list = {&time, &voxelView, &voxel, &draw, &std::get<6>(e)};
      if (std::get<5>(e) != nullptr) list.push_back(std::get<5>(e));
      list.push_back(&is);
      std::get<4>(e)->Use("VoxelizeMidAndColor", &list);
      SaneGL::StateSync();
      if (unsigned program = CurrentProgram()) BindColourImages(program, *first);
      Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
      VoxelisedEntries += 1;
    }
    if (withParticles) drawCurtain("VoxelizeMidAndColor", {&time, &voxelView, &voxel, &is}, &BindColourImages);
    RenderTextureGuy::UseTexDone();
    SaneGL::StatePop();
  };

  // The occupancy at twice the resolution (level 0 of the skip volume).
  auto drawDetail = [&](const std::function<bool(size_t)>& pick, bool withParticles) {
    if (!UpdateVoxelsHQ->value) return;
    PassScope timer("Voxel detail");
    SaneGL::StatePush();
    RenderTextureGuy::UseTex(2 * longest, 2 * longest, std::min(maxSamples, 8));
    SaneGL::DepthTest(SaneGL::ValueComparison::Always);
    SaneGL::CullFace(SaneGL::FaceSide::None);
    SaneGL::Multisample(true);
    for (size_t i = 0; i < queue.size(); ++i) {
      DrawEntry& e = queue[i];
      if (!std::get<8>(e) || !std::get<4>(e) || !pick(i)) continue;
      std::vector<UniformBuffer*> list = {&time, &voxelView, &voxel, &std::get<6>(e)};
      if (std::get<5>(e) != nullptr) list.push_back(std::get<5>(e));
      list.push_back(&is);
      list.push_back(&quickray);
      std::get<4>(e)->Use("VoxelizeDetail", &list);
      SaneGL::StateSync();
      if (unsigned program = CurrentProgram()) BindDetailImages(program, *first);
      Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
    }
    if (withParticles) drawCurtain("VoxelizeDetail", {&time, &voxelView, &voxel, &is, &quickray}, &BindDetailImages);
    RenderTextureGuy::UseTexDone();
    SaneGL::StatePop();
  };

  // The distances of the voxels from `lo` to `hi` (exclusive), from the
  // occupancy mips as they stand.
  const glm::ivec3 fieldSize(l->DistanceVolume->Width, l->DistanceVolume->Height, l->DistanceVolume->Depth);
  auto buildDistance = [&](glm::ivec3 lo, glm::ivec3 hi) {
    if (!UpdateAcceleration->value || !FieldDistanceGenerateAccurate) return;
    lo = glm::clamp(lo, glm::ivec3(0), fieldSize);
    hi = glm::clamp(hi, glm::ivec3(0), fieldSize);
    if (glm::any(glm::lessThanEqual(hi, lo))) return;
    PassScope timer("Distance");
    // The image writes above must land before the distance pass samples them.
    glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
    Debug::_CheckGLError("RELEASE", __LINE__);
    RenderTextureGuy::UseTexs({static_cast<RenderTexture*>(l->DistanceVolume)}, {}, {0}, nullptr);
    // The viewport picks the columns (the fragment's window position is its
    // voxel), the slice range the layers.
    SaneGL::Viewport(lo.x, lo.y, hi.x - lo.x, hi.y - lo.y);
    // The geometry stage repeats the quad for at most 64 slices a draw.
    for (int z = lo.z; z < hi.z; z += 64) {
      UniformBuffer slices;
      slices.SetVector("_SliceRange", glm::vec2(z, std::min(64, hi.z - z)));
      std::vector<UniformBuffer*> list = {&time, &voxel, &slices};
      FieldDistanceGenerateAccurate->Use(&list);
      SaneGL::StateSync();
      Draw::Blit(l->SkipVolume);
    }
    RenderTextureGuy::UseTexDone();
  };

  auto copyVolumes = [&](bool toStatic) {
    PassScope timer("Voxel copy");
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
    copy(l->MaterialVolume, l->StaticMaterial, 1);
    copy(l->EmissionVolume, l->StaticEmission, 1);
    copy(l->FacingVolume, l->StaticFacing, 1);
    copy(l->DistanceVolume, l->StaticDistance, 1);
    // With "Clear Voxels" off the occupancy keeps whatever was drawn into it.
    if (toStatic || ClearVoxels->value) copy(l->SkipVolume, l->StaticSkip, SkipLevels);
  };

  const std::vector<std::uint64_t> signatures = VoxelEntrySignatures(queue);
  auto sorted = [&](const std::function<bool(size_t)>& pick) {
    std::vector<std::uint64_t> out;
    for (size_t i = 0; i < signatures.size(); ++i) {
      if (signatures[i] != 0 && pick(i)) out.push_back(signatures[i]);
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  auto everything = [](size_t) { return true; };

  if (!UpdateVoxels->value) {
    // Nothing is voxelised: the volumes keep what they hold, and they are
    // built afresh once the switch is back on.
    l->VoxelsValid = false;
    buildDistance(glm::ivec3(0), fieldSize);
    drawDetail(everything, particles);
  } else {
    const std::uint64_t switches = VoxelSwitchSignature(T->World);
    const VoxelPlan plan = PlanVoxels(*l, signatures, switches, particles);
    auto still = [&](size_t i) { return !plan.Moving[i]; };
    auto moving = [&](size_t i) { return plan.Moving[i]; };
    VoxelisedEntries = 0;
    if (plan.What == VoxelPlan::Step::Rebuild) {
      // This frame's materials replace the last: a moved object, or a lamp
      // switched off, must not stay in the volume.
      ClearIntegerVolume(static_cast<RenderTexture*>(l->MaterialVolume));
      ClearIntegerVolume(static_cast<RenderTexture*>(l->FacingVolume));
      ClearVolumeLevels(static_cast<RenderTexture*>(l->EmissionVolume), 1);
      if (ClearVoxels->value) ClearVolumeLevels(static_cast<RenderTexture*>(l->SkipVolume), SkipLevels);
      drawColour(still, false);
      drawDetail(still, false);
      buildDistance(glm::ivec3(0), fieldSize);
      copyVolumes(true);
      l->StaticEntries = sorted(still);
    } else if (plan.What == VoxelPlan::Step::Restore) {
      copyVolumes(false);
    } else if (plan.Promote) {
      copyVolumes(true);
      l->StaticEntries = l->HeldEntries;
    }
    if (plan.What != VoxelPlan::Step::Stand) {
      // The moving entries on top, and the distances they can change: the
      // distance pass looks up to two cells of 8 voxels around a voxel.
      glm::vec3 lo(1e30f), hi(-1e30f);
      for (size_t i = 0; i < queue.size(); ++i) {
        glm::vec3 a, b;
        if (!plan.Moving[i] || !EntryBounds(queue[i], a, b)) continue;
        for (int c = 0; c < 8; ++c) {
          const glm::vec3 corner((c & 1) ? b.x : a.x, (c & 2) ? b.y : a.y, (c & 4) ? b.z : a.z);
          const glm::vec3 v = (Apply(T->WorldInverse, corner) * 0.5f + 0.5f) * glm::vec3(fieldSize);
          lo = glm::min(lo, v);
          hi = glm::max(hi, v);
        }
      }
      // The curtain's particles, drawn as points where the display mesh
      // holds them (world positions); with none at hand, all distances.
      static const std::vector<float> noCurtain;
      const std::vector<float>& curtain = particles ? display->Vertices : noCurtain;
      for (size_t k = 0; k + 2 < curtain.size(); k += 3) {
        const glm::vec3 at(curtain[k], curtain[k + 1], curtain[k + 2]);
        const glm::vec3 v = (Apply(T->WorldInverse, at) * 0.5f + 0.5f) * glm::vec3(fieldSize);
        lo = glm::min(lo, v);
        hi = glm::max(hi, v);
      }
      if (lo.x <= hi.x || particles) {
        drawColour(moving, particles);
        drawDetail(moving, particles);
        // A voxel's distance reads the 3 x 3 x 3 cells of 8 voxels around
        // its own cell: every voxel whose cell touches a cell of a mover or
        // of the curtain. Converted to whole cells only when bounded: the
        // unset bounds (±1e30) have no int, nor has a cloth blown apart.
        const bool known = !particles || !curtain.empty();
        const bool bounded = known && glm::all(glm::lessThan(glm::abs(lo) + glm::abs(hi), glm::vec3(1e8f)));
        if (bounded) {
          buildDistance((glm::ivec3(glm::floor(lo / 8.0f)) - 1) * 8, (glm::ivec3(glm::floor(hi / 8.0f)) + 2) * 8);
        } else {
          buildDistance(glm::ivec3(0), fieldSize);
        }
      }
    }
    l->VoxelsValid = true;
    l->VoxelSwitches = switches;
    l->HeldEntries = sorted(everything);
    l->HeldParticles = particles;
  }
  voxel.SetTexture("_LightFieldDistanceMips", l->SkipVolume);
  voxel.SetTexture("_LightField", l->Volume);

  if (UpdateAcceleration->value) {
    PassScope timer("Sunlight");
    glMemoryBarrier(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
    Debug::_CheckGLError("RELEASE", __LINE__);
    SweepSunlight(*l, *T, time, voxel);
  }
  // Make this frame's image writes visible to the passes that follow.
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);

  // "Update GI" off leaves the reflected light as it is: frozen, not black.
  const float power = LightPower(is, queue);
  if (LightingChanged || std::abs(power - l->LightPower) > SettleChange * std::max(power, l->LightPower)) {
    l->Settling = SettleFrames;
    FramesSinceLightChange = 0;
  }
  l->LightPower = power;
  if (UpdateGI->value) {
    PassScope timer("Light injection");
    if (InjectLight(*l, time, is, voxel)) {
      std::swap(l->Volume, l->VolumeBack);
      std::swap(l->IrradianceVolume, l->IrradianceBack);
    }
  }
  // "Update GI" off keeps the light as it is: nothing is settling then.
  LightSettling = LightSettling || (UpdateGI->value && l->Settling > 0);
  l->VoxelPhase += 1;
  if (l->VoxelPhase == 256) l->VoxelPhase = 1;
  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);

  // The camera passes read this frame's light, placed as it was voxelised.
  field.SetTexture("_LightField", l->Volume);
  field.SetTexture("_LightFieldIrradiance", l->IrradianceFiltered);
  field.SetTexture("_LightFieldSun", l->SunVolume);
  field.SetMatrix4("_LightFieldWorldToLocal", l->WorldToLocal);
  field.CalculateHash();
}

bool RenderSystem::InjectLight(LightField& l, UniformBuffer& time, UniformBuffer& is, UniformBuffer& voxel) {
  LightInjection = Resources<Shader>::Get("VoxelRaytracing/LightInjection");
  if (!LightInjection || l.VolumeBack == nullptr || l.IrradianceBack == nullptr) return false;
  // The voxels to light, listed by the "Select" pass.
  static WorkList list;
  list.Reset(static_cast<size_t>(l.VolumeBack->Width) * l.VolumeBack->Height * l.VolumeBack->Depth, 0);

  UniformBuffer inputs;
  inputs.SetTexture("_LightField", l.Volume);
  inputs.SetTexture("_LightFieldIrradiance", l.IrradianceVolume);
  inputs.SetTexture("_LightFieldMaterial", l.MaterialVolume);
  inputs.SetTexture("_LightFieldEmission", l.EmissionVolume);
  inputs.SetTexture("_LightFieldDistance", l.DistanceVolume);
  inputs.SetTexture("_LightFieldSun", l.SunVolume);
  // While the light settles every voxel is relit each frame from this
  // frame's light alone.
  const bool settling = l.Settling > 0;
  if (settling) --l.Settling;
  inputs.SetFloat("_InjectionShare", settling ? 1.0f : static_cast<float>(InjectionShare));
  inputs.SetVector("_InjectionBlend", settling ? glm::vec2(1.0f) : glm::vec2(0.5f, 0.25f));
  inputs.CalculateHash();
  std::vector<UniformBuffer*> buffers = {&time, &voxel, &is, &inputs};
  auto bindOutputs = [&](unsigned program) {
    BindImage(program, "_RadianceOut", 0, l.VolumeBack, 0, GL_RGBA16F);
    BindImage(program, "_IrradianceOut", 1, l.IrradianceBack, 0, GL_RGBA16F);
    BindImage(program, "_LightFieldDistanceImage", 2, l.DistanceVolume, 0, GL_R8, GL_READ_ONLY);
  };

  unsigned program = UseCompute(*LightInjection, "Select", &buffers);
  if (program == 0) return false;
  // One invocation per 2 x 2 x 2 voxels, 4 x 4 x 4 of them a work group.
  const auto groups = [](int n) { return static_cast<unsigned>((n + 7) / 8); };
  glDispatchCompute(groups(l.VolumeBack->Width), groups(l.VolumeBack->Height), groups(l.VolumeBack->Depth));
  Debug::_CheckGLError("RELEASE", __LINE__);
  // The voxels not relit this frame keep their light: the whole of last
  // frame's volumes first, the listed voxels written over them.
  glMemoryBarrier(GL_TEXTURE_UPDATE_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);
  for (auto [from, to] : {std::pair{l.Volume, l.VolumeBack}, std::pair{l.IrradianceVolume, l.IrradianceBack}}) {
    glCopyImageSubData(from->ID, GL_TEXTURE_3D, 0, 0, 0, 0, to->ID, GL_TEXTURE_3D, 0, 0, 0, 0, from->Width,
                       from->Height, from->Depth);
    Debug::_CheckGLError("RELEASE", __LINE__);
  }
  glMemoryBarrier(GL_COMMAND_BARRIER_BIT | GL_SHADER_STORAGE_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);

  program = UseCompute(*LightInjection, "Inject", &buffers);
  if (program == 0) return false;
  bindOutputs(program);
  UploadISArrays(program, is);
  DispatchIndirect(list.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);

  UniformBuffer filterInputs;
  filterInputs.SetTexture("_LightFieldIrradiance", l.IrradianceBack);
  filterInputs.SetTexture("_LightFieldMaterial", l.MaterialVolume);
  filterInputs.SetFloat("_InjectionShare", settling ? 1.0f : static_cast<float>(InjectionShare));
  std::vector<UniformBuffer*> filterBuffers = {&time, &voxel, &filterInputs};
  program = UseCompute(*LightInjection, "Filter", &filterBuffers);
  if (program != 0) {
    BindImage(program, "_FilteredOut", 0, l.IrradianceFiltered, 0, GL_RGBA16F);
    DispatchIndirect(list.Groups(), GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  }
  return true;
}

}  // namespace KestorEngine
