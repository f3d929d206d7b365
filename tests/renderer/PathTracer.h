#pragma once
// The lighting tests' reference: a small seeded CPU path tracer over the
// same triangles and materials the engine draws. Lambertian surfaces (seen
// from either side), emitters shining from their front face only, next-event
// estimation towards every emitting triangle and the sun, Russian roulette
// after a few bounces, the sky where a path leaves the scene. Its units are
// the engine's: an emitter's Strength x EmissionColor, the sky's colours and
// the sun disc are radiance.
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

// The light from beyond the scene, as the engine's Sky defines it: radiance
// graded from the ground through the horizon to the zenith, and a sun disc
// of its own radiance and apparent diameter. All black: no light from
// outside.
struct TraceSky {
  glm::vec3 Zenith{0.0f}, Horizon{0.0f}, Ground{0.0f};
  glm::vec3 SunDirection{0.0f, 0.0f, 1.0f};  // towards the sun, unit length
  glm::vec3 SunRadiance{0.0f};
  float SunAngle = 0.53f;  // the disc's apparent diameter, degrees

  // The sky's radiance seen along unit direction `d` (the disc left out).
  glm::vec3 Radiance(glm::vec3 d) const;
  // A sky of one radiance everywhere.
  static TraceSky Uniform(glm::vec3 radiance);
};

struct TraceScene {
  std::vector<TraceTriangle> Triangles;
  TraceSky Sky;
  // Every mesh renderer of the loaded Things (drawn or voxelised), with its
  // first material, placed by its Transform's World (run a frame first), and
  // the level's sky (the one the renderer uses), if it has one.
  static TraceScene FromLoadedThings();
};

struct TraceImages {
  LinearImage Full;    // everything the camera sees
  // What is seen directly (emitters, the sky and the sun) and light that
  // reached the first surface straight from an emitter, the sun or the sky.
  LinearImage Direct;
  LinearImage Seen;    // the emitters, the sky and the sun seen directly alone
};

// One ray through the centre of each pixel of a width x height image, as the
// rasteriser samples it; `samples` paths per pixel.
TraceImages Trace(const TraceScene& scene, const glm::mat4& viewProjection, glm::vec3 eye, int width, int height,
                  int samples, uint64_t seed);

}  // namespace KestorTest
