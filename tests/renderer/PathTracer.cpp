#include "renderer/PathTracer.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include <glm/geometric.hpp>
#include <glm/matrix.hpp>

#include "engine/Component.h"
#include "render/Material.h"
#include "render/Mesh.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"

using namespace KestorEngine;

namespace KestorTest {

namespace {

constexpr float Pi = 3.14159265f;
constexpr int MaxBounces = 16;
constexpr int RouletteAfter = 3;

// PCG32, one stream per pixel so the picture does not depend on threading.
struct Random {
  uint64_t state;
  explicit Random(uint64_t s) : state(s * 6364136223846793005ull + 1442695040888963407ull) { Next(); }
  uint32_t Next() {
    const uint64_t old = state;
    state = old * 6364136223846793005ull + 1442695040888963407ull;
    const uint32_t shifted = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
    const uint32_t rot = static_cast<uint32_t>(old >> 59u);
    return (shifted >> rot) | (shifted << ((32u - rot) & 31u));
  }
  float Uniform() { return static_cast<float>(Next() >> 8) * (1.0f / 16777216.0f); }
};

struct Hit {
  float T = 1e30f;
  int Index = -1;
};

// Moller-Trumbore against every triangle: the scenes have a few dozen.
Hit Intersect(const std::vector<TraceTriangle>& tris, glm::vec3 o, glm::vec3 d, float maxT) {
  Hit best;
  best.T = maxT;
  for (size_t i = 0; i < tris.size(); ++i) {
    const TraceTriangle& tri = tris[i];
    const glm::vec3 e1 = tri.B - tri.A, e2 = tri.C - tri.A;
    const glm::vec3 p = glm::cross(d, e2);
    const float det = glm::dot(e1, p);
    if (std::abs(det) < 1e-12f) continue;
    const float inv = 1.0f / det;
    const glm::vec3 s = o - tri.A;
    const float u = glm::dot(s, p) * inv;
    if (u < 0.0f || u > 1.0f) continue;
    const glm::vec3 q = glm::cross(s, e1);
    const float v = glm::dot(d, q) * inv;
    if (v < 0.0f || u + v > 1.0f) continue;
    const float t = glm::dot(e2, q) * inv;
    if (t > 1e-5f && t < best.T) {
      best.T = t;
      best.Index = static_cast<int>(i);
    }
  }
  return best;
}

glm::vec3 CosineAround(glm::vec3 n, Random& r) {
  const float a = 2.0f * Pi * r.Uniform();
  const float rad = std::sqrt(r.Uniform());
  const glm::vec3 t1 = glm::normalize(std::abs(n.z) < 0.9f ? glm::cross(n, glm::vec3(0, 0, 1))
                                                          : glm::cross(n, glm::vec3(1, 0, 0)));
  const glm::vec3 t2 = glm::cross(n, t1);
  return glm::normalize(t1 * (std::cos(a) * rad) + t2 * (std::sin(a) * rad) +
                        n * std::sqrt(std::max(0.0f, 1.0f - rad * rad)));
}

struct Emitters {
  std::vector<int> Index;
  std::vector<float> Cumulative;  // area
  float Area = 0.0f;
};

// Light from the emitters at `x` (normal `n`, facing the viewer), by one
// sample on the emitting surface, shadows included.
glm::vec3 SampleEmitters(const std::vector<TraceTriangle>& tris, const Emitters& e, glm::vec3 x, glm::vec3 n,
                         Random& r) {
  if (e.Index.empty()) return glm::vec3(0.0f);
  const float pick = r.Uniform() * e.Area;
  const size_t k = std::min(e.Index.size() - 1, static_cast<size_t>(std::upper_bound(e.Cumulative.begin(),
                                                                                      e.Cumulative.end(), pick) -
                                                                     e.Cumulative.begin()));
  const TraceTriangle& light = tris[e.Index[k]];
  float u = r.Uniform(), v = r.Uniform();
  if (u + v > 1.0f) u = 1.0f - u, v = 1.0f - v;
  const glm::vec3 y = light.A + (light.B - light.A) * u + (light.C - light.A) * v;
  const glm::vec3 o = x + n * 1e-4f;
  glm::vec3 l = y - o;
  const float d2 = glm::dot(l, l);
  const float d = std::sqrt(d2);
  l /= d;
  const float cosX = glm::dot(n, l);
  const float cosY = glm::dot(light.Normal, -l);
  if (cosX <= 0.0f || cosY <= 0.0f) return glm::vec3(0.0f);
  // Stop short of the light: its own surface is not in the way.
  if (Intersect(tris, o, l, d * (1.0f - 1e-3f)).Index >= 0) return glm::vec3(0.0f);
  return light.Emission * (cosX * cosY / d2 * e.Area);
}

}  // namespace

TraceScene TraceScene::FromLoadedThings() {
  TraceScene scene;
  for (Thing t : MeshRendererSystem::MeshyThings) {
    MeshRenderer* r = ComponentHandler<MeshRenderer>::Get(t);
    Transform* x = ComponentHandler<Transform>::Get(t);
    if (r == nullptr || x == nullptr || !r->Mesh || r->Materials.empty() || !r->Materials[0]) continue;
    if (!r->Visible && !r->ShadowCast) continue;
    UniformBuffer& m = r->Materials[0]->Buffer;
    auto vec = [&](const char* name) {
      auto f = m.Uniforms.find(name);
      return f != m.Uniforms.end() ? f->second.Vector3Value : glm::vec3(0.0f);
    };
    auto num = [&](const char* name) {
      auto f = m.Uniforms.find(name);
      return f != m.Uniforms.end() ? f->second.FloatValue : 0.0f;
    };
    const glm::vec3 albedo = glm::clamp(vec("Color"), glm::vec3(0.0f), glm::vec3(0.98f));
    const glm::vec3 emission = glm::max(vec("EmissionColor") * num("Strength"), glm::vec3(0.0f));
    const Mesh& mesh = *r->Mesh;
    const glm::mat3 normalMatrix = glm::transpose(glm::inverse(glm::mat3(x->World)));
    for (size_t f = 0; f + 2 < mesh.Faces.size(); f += 3) {
      TraceTriangle tri;
      glm::vec3 p[3], n(0.0f);
      for (int k = 0; k < 3; ++k) {
        const size_t i = mesh.Faces[f + k];
        p[k] = glm::vec3(x->World * glm::vec4(mesh.Vertices[i * 3], mesh.Vertices[i * 3 + 1],
                                              mesh.Vertices[i * 3 + 2], 1.0f));
        if (mesh.Normals.size() >= i * 3 + 3) {
          n += normalMatrix * glm::vec3(mesh.Normals[i * 3], mesh.Normals[i * 3 + 1], mesh.Normals[i * 3 + 2]);
        }
      }
      const glm::vec3 geometric = glm::cross(p[1] - p[0], p[2] - p[0]);
      if (glm::length(geometric) <= 0.0f) continue;
      tri.A = p[0], tri.B = p[1], tri.C = p[2];
      tri.Normal = glm::normalize(geometric);
      if (glm::dot(tri.Normal, n) < 0.0f) tri.Normal = -tri.Normal;
      tri.Albedo = albedo;
      tri.Emission = emission;
      scene.Triangles.push_back(tri);
    }
  }
  return scene;
}

TraceImages Trace(const TraceScene& scene, const glm::mat4& viewProjection, glm::vec3 eye, int width, int height,
                  int samples, uint64_t seed) {
  const std::vector<TraceTriangle>& tris = scene.Triangles;
  Emitters emitters;
  for (size_t i = 0; i < tris.size(); ++i) {
    if (tris[i].Emission == glm::vec3(0.0f)) continue;
    emitters.Area += 0.5f * glm::length(glm::cross(tris[i].B - tris[i].A, tris[i].C - tris[i].A));
    emitters.Index.push_back(static_cast<int>(i));
    emitters.Cumulative.push_back(emitters.Area);
  }
  const glm::mat4 inverse = glm::inverse(viewProjection);
  TraceImages out;
  for (LinearImage* image : {&out.Full, &out.Direct, &out.Seen}) {
    image->Width = width;
    image->Height = height;
    image->Pixels.assign(static_cast<size_t>(width) * height, glm::vec3(0.0f));
  }

  auto pixel = [&](int px, int py) {
    Random r(seed ^ (static_cast<uint64_t>(py) * width + px) * 0x9E3779B97F4A7C15ull);
    const glm::vec2 ndc((px + 0.5f) / width * 2.0f - 1.0f, (py + 0.5f) / height * 2.0f - 1.0f);
    const glm::vec4 far = inverse * glm::vec4(ndc, 1.0f, 1.0f);
    const glm::vec3 primary = glm::normalize(glm::vec3(far) / far.w - eye);
    glm::vec3 full(0.0f), direct(0.0f), seen(0.0f);
    for (int s = 0; s < samples; ++s) {
      glm::vec3 o = eye, d = primary, throughput(1.0f);
      for (int bounce = 0; bounce < MaxBounces; ++bounce) {
        const Hit hit = Intersect(tris, o, d, 1e30f);
        if (hit.Index < 0) break;
        const TraceTriangle& tri = tris[hit.Index];
        const glm::vec3 x = o + d * hit.T;
        // Emitters are counted when seen from the camera; after a bounce
        // their light came in through the emitter sampling already.
        if (bounce == 0 && glm::dot(tri.Normal, d) < 0.0f) {
          full += tri.Emission;
          direct += tri.Emission;
          seen += tri.Emission;
        }
        const glm::vec3 n = glm::dot(tri.Normal, d) < 0.0f ? tri.Normal : -tri.Normal;
        const glm::vec3 fromLights = throughput * tri.Albedo / Pi * SampleEmitters(tris, emitters, x, n, r);
        full += fromLights;
        if (bounce == 0) direct += fromLights;
        throughput *= tri.Albedo;
        if (bounce >= RouletteAfter) {
          const float keep = std::min(0.95f, std::max(throughput.x, std::max(throughput.y, throughput.z)));
          if (r.Uniform() >= keep) break;
          throughput /= keep;
        }
        o = x + n * 1e-4f;
        d = CosineAround(n, r);
      }
    }
    out.Full.Pixels[static_cast<size_t>(py) * width + px] = full / static_cast<float>(samples);
    out.Direct.Pixels[static_cast<size_t>(py) * width + px] = direct / static_cast<float>(samples);
    out.Seen.Pixels[static_cast<size_t>(py) * width + px] = seen / static_cast<float>(samples);
  };

  const int workers = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (int py = w; py < height; py += workers) {
        for (int px = 0; px < width; ++px) pixel(px, py);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  return out;
}

}  // namespace KestorTest
