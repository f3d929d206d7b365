// The global-illumination inputs: area lights for importance sampling, the
// fixed ray frames, the one-time textures and the per-frame voxelisation of
// each light field into its colour, occupancy and distance volumes.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>

#include <glm/geometric.hpp>

#include "engine/Component.h"
#include "engine/Debug.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/RenderTextureGuy.h"
#include "render/ShaderVariant.h"
#include "render/Texbit.h"
#include "renderer/Cloth.h"
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

unsigned CurrentProgram() {
  ShaderVariant* v = ShaderVariant::Current;
  if (v == nullptr || v->Failed()) return 0;
  return v->Program.glID();
}

void BindImage(unsigned program, const char* name, int unit, Texbit* t, int level, unsigned format) {
  glProgramUniform1i(program, glGetUniformLocation(program, name), unit);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glBindImageTexture(static_cast<unsigned>(unit), t->ID, level, GL_TRUE, 0, GL_WRITE_ONLY, format);
  Debug::_CheckGLError("RELEASE", __LINE__);
}

void BindColourImages(unsigned program, LightField& first) {
  BindImage(program, "_RayTexImage", 0, first.VolumeBack, 0, GL_RGBA16F);
  BindImage(program, "_RayTexImageM2", 2, first.VolumeBack, 1, GL_RGBA16F);
  BindImage(program, "_RayTexImageAlpM2", 4, first.SkipVolume, 1, GL_R8);
  BindImage(program, "_RayTexImageAlpM3", 1, first.SkipVolume, 2, GL_R8);
  BindImage(program, "_RayTexImageAlpM4", 3, first.SkipVolume, 3, GL_R8);
  BindImage(program, "_RayTexImageAlpM5", 5, first.SkipVolume, 4, GL_R8);
  BindImage(program, "_RayTexImageAlpM6", 6, first.SkipVolume, 5, GL_R8);
  BindImage(program, "_RayTexImageAlpM7", 7, first.SkipVolume, 6, GL_R8);
}

void BindDetailImages(unsigned program, LightField& first) {
  BindImage(program, "_RayTexImageAlp", 0, first.SkipVolume, 0, GL_R8);
  BindImage(program, "fieldskipBinaryAWrite", 1, first.SkipBits, 0, GL_R32UI);
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
  field.SetTexture("RandomUVs", RandomUVs);
  field.SetFloat("_HQReflections", Flag(HQReflections));
  field.SetFloat("_VisualizeVoxels", Flag(VisualizeVoxels));
  field.SetFloat("_CastGI", Flag(CastGI));
  field.SetFloat("_CastSpecular", Flag(CastSpecular));
  field.SetFloat("_CastIS", Flag(CastIS));
  field.SetFloat("_NoiseStyle", static_cast<float>(NoiseStyle->value));
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

void RenderSystem::SetupRandomUVs() {
  if (RandomUVs != nullptr) return;
  const int W = std::max(1, static_cast<int>(Shutter::Width()));
  const int H = std::max(1, static_cast<int>(Shutter::Height()));
  RandomUVsData.assign(static_cast<size_t>(W) * H * 2, 0u);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const size_t i = (static_cast<size_t>(x) + static_cast<size_t>(y) * W) * 2;
      RandomUVsData[i] = static_cast<unsigned>(x);
      RandomUVsData[i + 1] = static_cast<unsigned>(y);
    }
  }
  for (int x = 0; x < W; ++x) {
    for (int y = 0; y < H; ++y) {
      const int a = std::rand() % W;
      const int b = std::rand() % H;
      const size_t i = (static_cast<size_t>(x) + static_cast<size_t>(y) * W) * 2;
      const size_t j = (static_cast<size_t>(a) + static_cast<size_t>(b) * W) * 2;
      std::swap(RandomUVsData[i], RandomUVsData[j]);
      std::swap(RandomUVsData[i + 1], RandomUVsData[j + 1]);
    }
  }
  RandomUVs = new Texbit(W, H, TextureFormats::RG32UI);
  RandomUVs->Data = reinterpret_cast<unsigned char*>(RandomUVsData.data());
  RandomUVs->Mipmaps = false;
  RandomUVs->FilterMode = 0;
  RandomUVs->WrapMode = 1;
  RandomUVs->ToGPU();
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
  }
  LightField* first = ComponentHandler<LightField>::Get(LitThings.front());
  if (first == nullptr || first->VolumeBack == nullptr) first = l;

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

  if (l->VoxelPhase == 1 && ClearVoxels->value) {
    std::cout << "CLEARING DISTANCE STUFF" << std::endl;
    SaneGL::ClearColor(glm::vec4(0.0f));
    auto* skip = static_cast<RenderTexture*>(l->SkipVolume);
    for (int k = 0; k <= 6; ++k) {
      if ((skip->Width >> k) < 1 || (skip->Height >> k) < 1 || (skip->Depth >> k) < 1) break;
      RenderTextureGuy::UseTexs({skip}, {}, {k}, nullptr);
      SaneGL::Clear(GL_COLOR_BUFFER_BIT);
      RenderTextureGuy::UseTexDone();
    }
  }

  l->WorldToLocal = T->WorldInverse;
  voxel.SetMatrix4("_LightFieldWorldToLocal", l->WorldToLocal);
  UniformBuffer voxelView;
  voxelView.SetMatrix4("_WorldToView", T->WorldInverse);

  const int maxSamples = MaxSamples();
  Resource<Mesh>& display = ParticlesDisplay();
  const bool particles = display && Particles().Count != 0 && particlesRender;

  if (UpdateVoxels->value) {
    PassScope timer("Voxels");
    // This frame's scene replaces the last but one: without the clear a
    // moved object, or a lamp switched off, would stay in the volume.
    SaneGL::ClearColor(glm::vec4(0.0f));
    auto* back = static_cast<RenderTexture*>(l->VolumeBack);
    for (int k = 0; k <= 1; ++k) {
      RenderTextureGuy::UseTexs({back}, {}, {k}, nullptr);
      SaneGL::Clear(GL_COLOR_BUFFER_BIT);
      RenderTextureGuy::UseTexDone();
    }
    SaneGL::StatePush();
    RenderTextureGuy::UseTex(l->VolumeBack->Width, l->VolumeBack->Height, std::min(maxSamples, 16));
    voxel.SetTexture("_RayTex", first->VolumeBack);
    voxel.CalculateHash();
    SaneGL::DepthTest(SaneGL::ValueComparison::Always);
    SaneGL::CullFace(SaneGL::FaceSide::None);
    SaneGL::Multisample(true);
    for (DrawEntry& e : queue) {
      if (!std::get<8>(e) || !std::get<4>(e)) continue;
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
    }
    if (particles) {
      std::vector<UniformBuffer*> list = {&time, &voxelView, &voxel, &is};
      glEnable(GL_PROGRAM_POINT_SIZE);
      Debug::_CheckGLError("RELEASE", __LINE__);
      SaneGL::PolygonMode(SaneGL::FaceSide::FrontAndBack, SaneGL::PolygonModes::Point);
      particlesRender->Use("VoxelizeMidAndColor", &list);
      SaneGL::StateSync();
      if (unsigned program = CurrentProgram()) BindColourImages(program, *first);
      Draw::DrawMesh(display, glm::mat4(1.0f), -1);
      SaneGL::PolygonMode(SaneGL::FaceSide::FrontAndBack, SaneGL::PolygonModes::Fill);
    }
    RenderTextureGuy::UseTexDone();
    SaneGL::StatePop();
  }

  voxel.SetTexture("_LightFieldDistanceMips", l->SkipVolume);
  voxel.SetTexture("_LightField", l->Volume);
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);

  if (UpdateAcceleration->value && FieldDistanceGenerateAccurate) {
    PassScope timer("Distance");
    // The image writes above must land before the distance pass samples them.
    glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
    Debug::_CheckGLError("RELEASE", __LINE__);
    RenderTextureGuy::UseTexs({static_cast<RenderTexture*>(l->DistanceVolume)}, {}, {0}, nullptr);
    std::vector<UniformBuffer*> list = {&time, &voxel};
    FieldDistanceGenerateAccurate->Use(&list);
    Draw::Blit(l->SkipVolume);
    RenderTextureGuy::UseTexDone();
  }

  PassTimers::Begin("Voxel detail");
  SaneGL::StatePush();
  RenderTextureGuy::UseTex(l->SkipVolume->Width, l->SkipVolume->Height, std::min(maxSamples, 8));
  SaneGL::DepthTest(SaneGL::ValueComparison::Always);
  SaneGL::CullFace(SaneGL::FaceSide::None);
  SaneGL::Multisample(true);
  if (UpdateVoxelsHQ->value) {
    for (DrawEntry& e : queue) {
      if (!std::get<8>(e) || !std::get<4>(e)) continue;
      std::vector<UniformBuffer*> list = {&time, &voxelView, &voxel, &std::get<6>(e)};
      if (std::get<5>(e) != nullptr) list.push_back(std::get<5>(e));
      list.push_back(&is);
      list.push_back(&quickray);
      std::get<4>(e)->Use("VoxelizeDetail", &list);
      SaneGL::StateSync();
      if (unsigned program = CurrentProgram()) BindDetailImages(program, *first);
      Draw::DrawMesh(std::get<0>(e), std::get<2>(e), std::get<1>(e));
    }
    if (particles) {
      std::vector<UniformBuffer*> list = {&time, &voxelView, &voxel, &is, &quickray};
      glEnable(GL_PROGRAM_POINT_SIZE);
      Debug::_CheckGLError("RELEASE", __LINE__);
      SaneGL::PolygonMode(SaneGL::FaceSide::FrontAndBack, SaneGL::PolygonModes::Point);
      particlesRender->Use("VoxelizeDetail", &list);
      SaneGL::StateSync();
      if (unsigned program = CurrentProgram()) BindDetailImages(program, *first);
      Draw::DrawMesh(display, glm::mat4(1.0f), -1);
      SaneGL::PolygonMode(SaneGL::FaceSide::FrontAndBack, SaneGL::PolygonModes::Fill);
    }
  }
  RenderTextureGuy::UseTexDone();
  SaneGL::StatePop();
  PassTimers::End();
  // Make this frame's image writes visible to the lighting passes that follow.
  glMemoryBarrier(GL_TEXTURE_FETCH_BARRIER_BIT | GL_SHADER_IMAGE_ACCESS_BARRIER_BIT);
  Debug::_CheckGLError("RELEASE", __LINE__);

  std::swap(l->Volume, l->VolumeBack);
  l->VoxelPhase += 1;
  if (l->VoxelPhase == 256) l->VoxelPhase = 1;
  SaneGL::DepthTest(SaneGL::ValueComparison::LEqual);
}

}  // namespace KestorEngine
