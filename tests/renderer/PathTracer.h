#pragma once
// The lighting tests' reference: a small seeded CPU path tracer over the
// same triangles and materials the engine draws. Lambertian surfaces (seen
// from either side), emitters shining from their front face only, next-event
// estimation towards every emitting triangle, Russian roulette after a few
// bounces, nothing outside the scene (black). Its units are the engine's:
// an emitter's Strength x EmissionColor is radiance.
#include <cstdint>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "renderer/LevelRender.h"

namespace KestorTest {

struct TraceTriangle {
  glm::vec3 A, B, C;
  glm::vec3 Normal;    // the front, from the mesh's vertex normals
  glm::vec3 Albedo;
  glm::vec3 Emission;  // radiance leaving the front
};

struct TraceScene {
  std::vector<TraceTriangle> Triangles;
  // Every mesh renderer of the loaded Things (drawn or voxelised), with its
  // first material, placed by its Transform's World (run a frame first).
  static TraceScene FromLoadedThings();
};

struct TraceImages {
  LinearImage Full;    // everything the camera sees
  LinearImage Direct;  // emitters seen directly and light that bounced once
  LinearImage Seen;    // the emitters seen directly alone
};

// One ray through the centre of each pixel of a width x height image, as the
// rasteriser samples it; `samples` paths per pixel.
TraceImages Trace(const TraceScene& scene, const glm::mat4& viewProjection, glm::vec3 eye, int width, int height,
                  int samples, uint64_t seed);

}  // namespace KestorTest
