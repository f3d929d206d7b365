#include "renderer/LevelRender.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>

#include <stb/stb_image_write.h>

#include "engine/Component.h"
#include "engine/Engine.h"
#include "engine/File.h"
#include "engine/Resource.h"
#include "engine/Scene.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/RenderTextureGuy.h"
#include "render/Texbit.h"
#include "render/TextureReadback.h"
#include "renderer/DemoComposition.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "sanegl/GL.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"
#include "scene/Viewpoint.h"

using namespace KestorEngine;

namespace KestorTest {

glm::vec3 LinearImage::Mean(int x0, int y0, int x1, int y1) const {
  glm::dvec3 sum(0.0);
  int n = 0;
  for (int y = std::max(0, y0); y < std::min(Height, y1); ++y) {
    for (int x = std::max(0, x0); x < std::min(Width, x1); ++x) {
      sum += glm::dvec3(At(x, y));
      ++n;
    }
  }
  return n > 0 ? glm::vec3(sum / static_cast<double>(n)) : glm::vec3(0.0f);
}

bool LinearImage::WritePng(const std::string& path, int scale) const {
  scale = std::max(scale, 1);
  const int w = Width * scale, h = Height * scale;
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  auto curve = [](float x) {
    x = std::max(x, 0.0f) * 1.1f;
    x = std::clamp((x * (2.51f * x + 0.03f)) / (x * (2.43f * x + 0.59f) + 0.14f), 0.0f, 1.0f);
    return static_cast<unsigned char>(std::lround(std::pow(x, 1.0f / 2.2f) * 255.0f));
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const glm::vec3 c = At(x / scale, Height - 1 - y / scale);
      for (int k = 0; k < 3; ++k) rgb[(static_cast<size_t>(y) * w + x) * 3 + k] = curve(c[k]);
    }
  }
  return stbi_write_png(path.c_str(), w, h, 3, rgb.data(), w * 3) != 0;
}

void AddQuad(std::vector<Tri>& tris, glm::vec3 a, glm::vec3 b, glm::vec3 c, glm::vec3 d) {
  tris.push_back({a, b, c});
  tris.push_back({a, c, d});
}

void AddBox(std::vector<Tri>& tris, glm::vec3 lo, glm::vec3 hi, bool inward) {
  auto corner = [&](int i) {
    return glm::vec3((i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z);
  };
  // Faces counter-clockwise seen from outside.
  const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (const auto& f : faces) {
    if (inward) {
      AddQuad(tris, corner(f[3]), corner(f[2]), corner(f[1]), corner(f[0]));
    } else {
      AddQuad(tris, corner(f[0]), corner(f[1]), corner(f[2]), corner(f[3]));
    }
  }
}

namespace {

std::string Numbers(const std::vector<float>& values) {
  std::ostringstream out;
  out.precision(9);
  for (size_t i = 0; i < values.size(); ++i) out << (i ? "," : "") << values[i];
  return out.str();
}

}  // namespace

ScratchAssets::ScratchAssets() : shipped(File::AssetsPath) {
  namespace fs = std::filesystem;
  for (const char* folder : {"Shaders", "Textures"}) {
    fs::create_directory_symlink(fs::absolute(fs::path(shipped) / folder), fs::path(dir.Path()) / folder);
  }
  fs::create_directories(fs::path(dir.Path()) / "Materials");
  // Mesh renderers start from the fallback material.
  fs::copy_file(fs::path(shipped) / "Materials" / "ErrorMat.xml", fs::path(dir.Path()) / "Materials" / "ErrorMat.xml");
  File::AssetsPath = dir.Path() + File::PathSeparator;
}

ScratchAssets::~ScratchAssets() { File::AssetsPath = shipped; }

void ScratchAssets::Mesh(const std::string& name, const std::vector<Tri>& tris) {
  std::vector<float> vertices, normals, uv;
  std::vector<float> faces;
  for (const Tri& t : tris) {
    const glm::vec3 n = glm::normalize(glm::cross(t.B - t.A, t.C - t.A));
    for (glm::vec3 p : {t.A, t.B, t.C}) {
      faces.push_back(static_cast<float>(vertices.size() / 3));
      vertices.insert(vertices.end(), {p.x, p.y, p.z});
      normals.insert(normals.end(), {n.x, n.y, n.z});
      uv.insert(uv.end(), {0.0f, 0.0f});
    }
  }
  dir.Write("Meshes/" + name + ".fml", "<Mesh><Base><Vertices>" + Numbers(vertices) + "</Vertices><Normals>" +
                                           Numbers(normals) + "</Normals><UV1>" + Numbers(uv) +
                                           "</UV1><Faces>" + Numbers(faces) + "</Faces></Base></Mesh>\n");
}

void ScratchAssets::Material(const std::string& name, glm::vec3 colour, glm::vec3 emission, float strength,
                             float roughness) {
  auto v = [](glm::vec3 c) { return Numbers({c.x, c.y, c.z}); };
  dir.Write("Materials/" + name + ".xml", "<Material Shader=\"Standard\"><Settings Color=\"" + v(colour) +
                                              "\" Roughness=\"" + Numbers({roughness}) +
                                              "\" Metallic=\"0\" EmissionColor=\"" + v(emission) +
                                              "\" Strength=\"" + Numbers({strength}) + "\"/></Material>\n");
}

void ScratchAssets::Level(const std::string& name, const std::string& things) {
  dir.Write("Levels/" + name + ".xml", "<Level><Things>\n" + things + "\n</Things></Level>\n");
}

#if KESTOR_TEST_IMPORT
bool ScratchAssets::Import(const std::string& name, const std::string& obj, const std::string& mtl,
                           KestorTools::ImportOptions options) {
  dir.Write("Sources/" + name + ".mtl", mtl);
  options.Source = dir.Write("Sources/" + name + ".obj", "mtllib " + name + ".mtl\n" + obj);
  options.OutDir = dir.Path();
  options.Name = name;
  const KestorTools::ImportResult result = KestorTools::ImportScene(options);
  for (const std::string& problem : result.Problems) ADD_FAILURE() << problem;
  return result.Ok;
}
#endif

struct LevelRender::Held {
  KestorEngineFlyHahaJk* engine = nullptr;
  std::vector<Resource<Scene>> levels;
};

LevelRender::LevelRender(int w, int h) : width(w), height(h), held(new Held) {
  held->engine = new KestorEngineFlyHahaJk();
  RegisterLevelComponents();
  held->engine->PrepareStageLists();
  RenderSystem::Attach(held->engine);
  TransformSystem::Attach(held->engine);
  MeshRendererSystem::Attach(held->engine);
  Draw::Initialize();
  Shutter::Width(static_cast<float>(w));
  Shutter::Height(static_cast<float>(h));
  ScreenResolution->value = glm::vec2(w, h);
  FlyCamSystem::pause = false;
  // Only the lit colour is read: the passes after it would only cost time.
  TemporalSS->value = false;
  FinalBlitEn->value = false;
  RenderSystem::ReadAfterFrame = {"Layer1"};
  UpdateGI->value = true;

  camera = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(camera);
  ComponentHandler<Camera>::Gimmoo(camera);
}

LevelRender::~LevelRender() {
  DrawSystem::ClearCache();
  // Component storage outlives the level: its mesh renderers would keep the
  // level's meshes and materials cached (as a test left them, under names
  // the next test's scratch assets reuse) for the rest of the process.
  for (const Resource<Scene>& level : held->levels) {
    for (const auto& named : level->Things) {
      if (MeshRenderer* m = ComponentHandler<MeshRenderer>::Get(named.second)) {
        m->Mesh = Resource<Mesh>();
        m->Materials.clear();
      }
      ComponentHandler<MeshRenderer>::HereItsBunk(named.second);
      // A field, sky or area light left behind would light the next level
      // rendered.
      ComponentHandler<LightField>::HereItsBunk(named.second);
      ComponentHandler<Sky>::HereItsBunk(named.second);
      ComponentHandler<ISArea>::HereItsBunk(named.second);
    }
  }
  held->levels.clear();
  // The renderer follows the first camera it knows (a cascade's levels
  // too): this one must not outlive the render.
  ComponentHandler<Camera>::HereItsBunk(camera);
  auto& cameras = RenderSystem::CameraThings;
  cameras.erase(std::remove(cameras.begin(), cameras.end(), camera), cameras.end());
  delete held;
}

void LevelRender::Load(const std::string& level) { held->levels.push_back(Resources<Scene>::Get(level)); }

Thing LevelRender::Find(const std::string& name) const {
  for (const Resource<Scene>& level : held->levels) {
    auto found = level->Things.find(name);
    if (found != level->Things.end()) return found->second;
  }
  return Thing::GimmeDud();
}

void LevelRender::Look(glm::vec3 from, glm::vec3 at, float verticalFovDegrees) {
  Transform* t = ComponentHandler<Transform>::Get(camera);
  Camera* c = ComponentHandler<Camera>::Get(camera);
  t->Position = from;
  // The camera looks along its local -Z with +Y up.
  const glm::mat4 view = glm::lookAt(from, at, glm::vec3(0.0f, 0.0f, 1.0f));
  t->Rotation = glm::quat_cast(glm::mat3(glm::inverse(view)));
  c->FieldOfView = glm::radians(verticalFovDegrees);
  c->Near = 0.01f;
  c->Far = 100.0f;
}

void LevelRender::LookFromViewpoint(const std::string& name) {
  const Viewpoint* v = ComponentHandler<Viewpoint>::Get(Find(name));
  if (v == nullptr) {
    ADD_FAILURE() << "the level has no Viewpoint on \"" << name << "\"";
    return;
  }
  const float yaw = glm::radians(v->Yaw), pitch = glm::radians(v->Pitch);
  const glm::vec3 forward(std::sin(yaw) * std::cos(pitch), std::cos(yaw) * std::cos(pitch), std::sin(pitch));
  Look(v->Position, v->Position + forward, v->FieldOfView > 0.0f ? v->FieldOfView : 60.0f);
}

void LevelRender::Frame() {
  TransformSystem::MAKETHEMATERIALREALITY(held->engine);
  MeshRendererSystem::MAKEITpretty(held->engine);
  RenderSystem::RenderFrame(held->engine);
  DrawSystem::ClearCache();
}

LinearImage LevelRender::Lit() const {
  LinearImage image;
  RenderTexture* layer = RenderSystem::Layer1;
  if (layer == nullptr) return image;
  image.Width = layer->Width;
  image.Height = layer->Height;
  const size_t count = static_cast<size_t>(image.Width) * image.Height;
  std::vector<uint8_t> bytes = ReadTexels(*layer, GL_RGBA, GL_FLOAT, count * 16);
  const float* f = reinterpret_cast<const float*>(bytes.data());
  image.Pixels.resize(count);
  for (size_t i = 0; i < count; ++i) image.Pixels[i] = glm::vec3(f[i * 4], f[i * 4 + 1], f[i * 4 + 2]);
  return image;
}

LinearImage LevelRender::Average(int n) {
  LinearImage sum;
  for (int i = 0; i < n; ++i) {
    Frame();
    LinearImage one = Lit();
    if (sum.Pixels.empty()) {
      sum = one;
    } else {
      for (size_t k = 0; k < sum.Pixels.size() && k < one.Pixels.size(); ++k) sum.Pixels[k] += one.Pixels[k];
    }
  }
  for (glm::vec3& p : sum.Pixels) p /= static_cast<float>(std::max(n, 1));
  return sum;
}

glm::mat4 LevelRender::ViewProjection() const {
  Transform* t = ComponentHandler<Transform>::Get(camera);
  Camera* c = ComponentHandler<Camera>::Get(camera);
  return c->Matrix(t->WorldInverse);
}

glm::vec3 LevelRender::CameraPosition() const { return ComponentHandler<Transform>::Get(camera)->Position; }

}  // namespace KestorTest

namespace KestorTest {

std::string MeshThing(const std::string& name, const std::string& mesh, const std::string& material,
                      const std::string& position, bool voxelised) {
  return "<Thing Name=\"" + name + "\"><Transform Position=\"" + position +
         "\" Rotation=\"1,0,0,0\" Scale=\"1,1,1\"/><MeshRenderer Mesh=\"" + mesh + "\" Materials=\"" + material +
         "\" Visible=\"True\" ShadowCast=\"" + (voxelised ? "True" : "False") + "\" BounceCast=\"True\"/></Thing>\n";
}

std::string FieldThing(const std::string& position, const std::string& scale, const std::string& resolution) {
  return "<Thing Name=\"Field\"><Transform Position=\"" + position + "\" Rotation=\"1,0,0,0\" Scale=\"" + scale +
         "\"/><LightField Resolution=\"" + resolution + "\"/></Thing>\n";
}

}  // namespace KestorTest
