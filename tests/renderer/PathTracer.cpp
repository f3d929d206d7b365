#include "renderer/PathTracer.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include <glm/geometric.hpp>
#include <glm/matrix.hpp>

#include "engine/Component.h"
#include "render/Material.h"
#include "render/Mesh.h"
#include "renderer/RenderSystem.h"
#include "scene/Lighting.h"
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

// The points in the square that a pixel's paths use for one choice (the
// direction of a bounce, the point on an emitter): for the first bounces
// each path takes its own cell of a k x k grid, the cells dealt out to the
// paths in a shuffled order per choice, so that the choices of one path do
// not line up; random beyond them. The indirect light, which a few hundred
// random paths leave grainy, settles much sooner.
class Strata {
 public:
  static constexpr int Choices = 9;  // direction, emitter, sun, for three bounces

  Strata(int samples, Random& r) : k(std::max(1, static_cast<int>(std::sqrt(static_cast<double>(samples))))) {
    for (std::vector<int>& order : cells) {
      order.resize(static_cast<size_t>(k) * k);
      for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
      for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[r.Next() % i]);
    }
  }
  // The point of path `path` for choice `choice` (beyond the grid's paths
  // and choices: random).
  glm::vec2 Point(int choice, int path, Random& r) const {
    if (choice >= Choices || path >= k * k) return {r.Uniform(), r.Uniform()};
    const int cell = cells[static_cast<size_t>(choice)][static_cast<size_t>(path)];
    return {std::min((cell % k + r.Uniform()) / k, 0.99999994f), std::min((cell / k + r.Uniform()) / k, 0.99999994f)};
  }

 private:
  int k;
  std::vector<int> cells[Choices];
};

glm::vec3 CosineAround(glm::vec3 n, glm::vec2 u) {
  const float a = 2.0f * Pi * u.x;
  const float rad = std::sqrt(u.y);
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
                         glm::vec2 point) {
  if (e.Index.empty()) return glm::vec3(0.0f);
  // The first number picks the triangle by its area and, rescaled within
  // the triangle's share, places the point along with the second.
  const float pick = point.x * e.Area;
  const size_t k = std::min(e.Index.size() - 1, static_cast<size_t>(std::upper_bound(e.Cumulative.begin(),
                                                                                      e.Cumulative.end(), pick) -
                                                                     e.Cumulative.begin()));
  const TraceTriangle& light = tris[e.Index[k]];
  const float before = k > 0 ? e.Cumulative[k - 1] : 0.0f;
  float u = std::clamp((pick - before) / std::max(e.Cumulative[k] - before, 1e-12f), 0.0f, 1.0f), v = point.y;
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

// Light from the sun at `x` (normal `n`) by one direction in its disc,
// its shadow included.
glm::vec3 SampleSun(const std::vector<TraceTriangle>& tris, const TraceSky& sky, glm::vec3 x, glm::vec3 n,
                    glm::vec2 point) {
  if (sky.SunRadiance == glm::vec3(0.0f)) return glm::vec3(0.0f);
  const float cosMax = std::cos(glm::radians(std::clamp(sky.SunAngle, 0.0f, 180.0f) * 0.5f));
  // Uniform in the cone around the sun's direction.
  const float c = 1.0f - point.x * (1.0f - cosMax);
  const float s = std::sqrt(std::max(0.0f, 1.0f - c * c));
  const float a = 2.0f * Pi * point.y;
  const glm::vec3 axis = sky.SunDirection;
  const glm::vec3 t1 = glm::normalize(std::abs(axis.z) < 0.9f ? glm::cross(axis, glm::vec3(0, 0, 1))
                                                             : glm::cross(axis, glm::vec3(1, 0, 0)));
  const glm::vec3 t2 = glm::cross(axis, t1);
  const glm::vec3 l = t1 * (std::cos(a) * s) + t2 * (std::sin(a) * s) + axis * c;
  const float cosX = glm::dot(n, l);
  if (cosX <= 0.0f || Intersect(tris, x + n * 1e-4f, l, 1e30f).Index >= 0) return glm::vec3(0.0f);
  return sky.SunRadiance * (2.0f * Pi * (1.0f - cosMax) * cosX);
}

bool InSunDisc(const TraceSky& sky, glm::vec3 d) {
  const float cosMax = std::cos(glm::radians(std::clamp(sky.SunAngle, 0.0f, 180.0f) * 0.5f));
  return glm::dot(d, sky.SunDirection) >= cosMax;
}

}  // namespace

// As the engine's Sky: the horizon blends into the zenith above and the
// ground below by the square root of the elevation's sine.
glm::vec3 TraceSky::Radiance(glm::vec3 d) const {
  const float up = std::clamp(d.z, -1.0f, 1.0f);
  return up >= 0.0f ? glm::mix(Horizon, Zenith, std::sqrt(up)) : glm::mix(Horizon, Ground, std::sqrt(-up));
}

TraceSky TraceSky::Uniform(glm::vec3 radiance) {
  TraceSky sky;
  sky.Zenith = sky.Horizon = sky.Ground = radiance;
  return sky;
}

TraceScene TraceScene::FromLoadedThings() {
  TraceScene scene;
  if (const KestorEngine::Sky* sky = RenderSystem::ActiveSky()) {
    scene.Sky.Zenith = sky->ZenithColor * sky->SkyStrength;
    scene.Sky.Horizon = sky->HorizonColor * sky->SkyStrength;
    scene.Sky.Ground = sky->GroundColor * sky->SkyStrength;
    if (glm::length(sky->SunDirection) > 0.0f && sky->SunStrength > 0.0f) {
      scene.Sky.SunDirection = glm::normalize(sky->SunDirection);
      scene.Sky.SunRadiance = sky->SunRadiance();
      scene.Sky.SunAngle = sky->SunAngle;
    }
  }
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

namespace {

Emitters FindEmitters(const std::vector<TraceTriangle>& tris) {
  Emitters emitters;
  for (size_t i = 0; i < tris.size(); ++i) {
    if (tris[i].Emission == glm::vec3(0.0f)) continue;
    emitters.Area += 0.5f * glm::length(glm::cross(tris[i].B - tris[i].A, tris[i].C - tris[i].A));
    emitters.Index.push_back(static_cast<int>(i));
    emitters.Cumulative.push_back(emitters.Area);
  }
  return emitters;
}

// What one path from `o` along `d` brings back: everything, what was seen
// directly or reached the first surface straight from a light, and what
// was seen directly alone.
struct PathLight {
  glm::vec3 Full{0.0f}, Direct{0.0f}, Seen{0.0f};
};

PathLight TracePath(const TraceScene& scene, const Emitters& emitters, glm::vec3 o, glm::vec3 d, const Strata& strata,
                    int path, Random& r) {
  const std::vector<TraceTriangle>& tris = scene.Triangles;
  const TraceSky& sky = scene.Sky;
  PathLight out;
  glm::vec3 throughput(1.0f);
  for (int bounce = 0; bounce < MaxBounces; ++bounce) {
    const Hit hit = Intersect(tris, o, d, 1e30f);
    if (hit.Index < 0) {
      // The sun disc was sampled at every surface; seen directly it counts
      // here.
      glm::vec3 L = sky.Radiance(d);
      if (bounce == 0 && InSunDisc(sky, d)) L += sky.SunRadiance;
      out.Full += throughput * L;
      if (bounce <= 1) out.Direct += throughput * L;
      if (bounce == 0) out.Seen += L;
      break;
    }
    const TraceTriangle& tri = tris[hit.Index];
    const glm::vec3 x = o + d * hit.T;
    // Emitters are counted when seen directly; after a bounce their light
    // came in through the emitter sampling already.
    if (bounce == 0 && glm::dot(tri.Normal, d) < 0.0f) {
      out.Full += tri.Emission;
      out.Direct += tri.Emission;
      out.Seen += tri.Emission;
    }
    const glm::vec3 n = glm::dot(tri.Normal, d) < 0.0f ? tri.Normal : -tri.Normal;
    const glm::vec3 fromLights = throughput * tri.Albedo / Pi *
                                 (SampleEmitters(tris, emitters, x, n, strata.Point(bounce * 3 + 1, path, r)) +
                                  SampleSun(tris, sky, x, n, strata.Point(bounce * 3 + 2, path, r)));
    out.Full += fromLights;
    if (bounce == 0) out.Direct += fromLights;
    throughput *= tri.Albedo;
    if (bounce >= RouletteAfter) {
      const float keep = std::min(0.95f, std::max(throughput.x, std::max(throughput.y, throughput.z)));
      if (r.Uniform() >= keep) break;
      throughput /= keep;
    }
    o = x + n * 1e-4f;
    d = CosineAround(n, strata.Point(bounce * 3, path, r));
  }
  return out;
}

// Runs `work(i)` for i in 0..count on a few threads, interleaved.
template <typename Work>
void InParallel(int count, Work work) {
  const int workers = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (int i = w; i < count; i += workers) work(i);
    });
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace

TraceImages Trace(const TraceScene& scene, const glm::mat4& viewProjection, glm::vec3 eye, int width, int height,
                  int samples, uint64_t seed) {
  const Emitters emitters = FindEmitters(scene.Triangles);
  const glm::mat4 inverse = glm::inverse(viewProjection);
  TraceImages out;
  for (LinearImage* image : {&out.Full, &out.Direct, &out.Seen}) {
    image->Width = width;
    image->Height = height;
    image->Pixels.assign(static_cast<size_t>(width) * height, glm::vec3(0.0f));
  }
  InParallel(height, [&](int py) {
    for (int px = 0; px < width; ++px) {
      Random r(seed ^ (static_cast<uint64_t>(py) * width + px) * 0x9E3779B97F4A7C15ull);
      const glm::vec2 ndc((px + 0.5f) / width * 2.0f - 1.0f, (py + 0.5f) / height * 2.0f - 1.0f);
      const glm::vec4 far = inverse * glm::vec4(ndc, 1.0f, 1.0f);
      const glm::vec3 primary = glm::normalize(glm::vec3(far) / far.w - eye);
      PathLight sum;
      const Strata strata(samples, r);
      for (int s = 0; s < samples; ++s) {
        const PathLight one = TracePath(scene, emitters, eye, primary, strata, s, r);
        sum.Full += one.Full;
        sum.Direct += one.Direct;
        sum.Seen += one.Seen;
      }
      const size_t i = static_cast<size_t>(py) * width + px;
      out.Full.Pixels[i] = sum.Full / static_cast<float>(samples);
      out.Direct.Pixels[i] = sum.Direct / static_cast<float>(samples);
      out.Seen.Pixels[i] = sum.Seen / static_cast<float>(samples);
    }
  });
  return out;
}

}  // namespace KestorTest
