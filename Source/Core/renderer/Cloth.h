#pragma once
// The curtain: particles joined by distance constraints, simulated on the CPU
// with position-based dynamics and drawn as points by the renderer.
#include <SDL_stdinc.h>

#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <unordered_map>
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

// Tunables of the curtain, in one place.
namespace ClothConstants {
inline constexpr float Gravity = -9.81f;  // along z, the world's up axis
inline constexpr int Substeps = 3;
inline constexpr int SolverIterations = 10;
// Frames after creation whose velocities are divided by this instead of the
// step time, so a fresh curtain settles instead of snapping.
inline constexpr int DampedFrames = 20;
inline constexpr float DampedDivisor = 6.0f;
inline constexpr int Strands = 50;
inline constexpr int StrandParticles = 65;
inline constexpr float CurtainRadius = 0.025f;
inline constexpr float CurtainInverseMass = 0.5f;
inline constexpr float CameraRadius = 0.5f;
inline constexpr float SceneRadius = 0.0338f;
// Grid cells are 0.2 wide: coordinates are scaled by 5.
inline constexpr float CellsPerUnit = 5.0f;
// SDL scancodes of the hotkeys.
inline constexpr int KeyCreate = 6;   // C
inline constexpr int KeyBreak = 5;    // B
inline constexpr int KeyDelete = 12;  // I
inline constexpr int KeyDetach = 28;  // Y
}  // namespace ClothConstants

// Parallel arrays with a fixed capacity; index 0 is the camera particle, then
// the curtain, then the static scene particles. The arrays stay empty until
// the first particle is added and then hold the whole capacity (about
// 160 MB), so programs that never make a curtain do not pay for it.
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

using CollisionGrid = std::unordered_map<std::int32_t, std::vector<std::uint32_t>>;

// Everything else the curtain keeps between frames.
struct ClothState {
  // The curtain's own links; collision constraints live only inside a step.
  std::vector<DistanceConstraint> constraints;
  // Particles that were immovable when the scene particles were made.
  CollisionGrid staticcolgrid;
  bool staticonce = false;  // the scene particles have been made
  int simsteps = 0;         // frames simulated since the curtain was created
};

ClothState& Cloth();

// Writes the next free slot with zero velocity and returns its index. A full
// store refuses with a console line and returns ParticleArrays::Capacity.
std::uint32_t AddParticle(glm::vec3 position, float radius, float inverseMass);
// Links two particles at their current distance. The bool is not used.
void AddDistanceConstraint(std::uint32_t a, std::uint32_t b, float stiffness, bool);
void ResetParticles();
void ResetConstraints();
void ResetStaticCollisionGrid();
void ResetCollisionGrid();

// 50 strands of 65 particles hanging at y = -4.5, each pinned at its top.
void AddCloth();
// Turns every occupied texel of level 0 of `volume` into an immovable scene
// particle placed by `localToWorld`, then files every immovable particle in
// the static grid. Everything added from here on is not simulated. A null
// volume adds no scene particles.
void CreateCollisionStructureFromVoxels(Texbit* volume, const glm::mat4& localToWorld);
// One substep of length h over the simulated particles.
void Simulate(float h);
// One Gauss-Seidel sweep over `list`, moving predicted positions.
void SolveConstraints(std::vector<DistanceConstraint>* list, int iteration, bool pushOnly);

// Grid cell key; distant cells may share one, which only adds candidates.
std::int32_t CellKey(int x, int y, int z);
// Keys of every cell the sphere (p, r) covers, appended to `keys`. A sphere
// too far out (or not finite) to have integer cells covers none.
void CoveredCells(const glm::vec3& p, float r, std::vector<std::int32_t>& keys);

// Fills the display mesh from the simulated particles: points at x, normals
// carrying the position one frame earlier (x - v dt), then uploads it.
void UpdateParticlesDisplay(float dt);

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
