#pragma once
// The curtain: particles joined by distance constraints, simulated on the CPU
// with position-based dynamics and drawn as points by the renderer.
#include <SDL_stdinc.h>

#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <vector>

#include "engine/Resource.h"

namespace KestorEngine {

class Mesh;
class Texbit;

struct DistanceConstraint {
  std::uint32_t A = 0;
  std::uint32_t B = 0;
  float Stiffness = 1.0f;
  float RestLength = 0.0f;
};

// Parallel arrays with a fixed capacity; index 0 is the camera particle, then
// the curtain, then the static scene particles.
struct ParticleArrays {
  static constexpr std::uint32_t Capacity = 5000000;
  std::vector<glm::vec3> Position;
  std::vector<glm::vec3> Velocity;
  std::vector<float> InverseMass;
  std::vector<float> Radius;
  std::uint32_t Count = 0;
  std::uint32_t SimulatedCount = 0;
};

ParticleArrays& Particles();

// The point mesh that shows the simulated particles; empty until the first
// curtain is made.
Resource<Mesh>& ParticlesDisplay();

// One frame of the curtain, run by the renderer before it draws: the I, B, C
// and Y hotkeys from `keys` (SDL scancode state), then three substeps of
// dt / 3 that drag the camera particle to `cameraPosition`. `skipVolume` and
// `fieldLocalToWorld` describe the first light field, from which the static
// scene particles are made on the first creation (null: no scene particles).
void ClothFrame(const Uint8* keys, float dt, const glm::vec3& cameraPosition, Texbit* skipVolume,
                const glm::mat4& fieldLocalToWorld);

}  // namespace KestorEngine
