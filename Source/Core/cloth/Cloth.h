#pragma once
// The curtain: particles joined by distance constraints, simulated on the CPU
// with position-based dynamics at a fixed step, colliding with itself, with a
// particle that follows the camera and with the scene, given as the occupied
// texels of a volume. How it is drawn is the renderer's (renderer/Curtain.h);
// nothing here touches GL.
#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <vector>

namespace KestorEngine {

struct DistanceConstraint {
  std::uint32_t A = 0;
  std::uint32_t B = 0;
  float Stiffness = 1.0f;
  float RestLength = 0.0f;
};

// Tunables of the curtain, in one place.
namespace ClothConstants {
inline constexpr float Gravity = -9.81f;  // m/s^2 along z, the world's up axis
// Simulated seconds per step. A frame runs as many steps as the wall time
// since the last frame holds, so the curtain moves in real time whatever the
// frame rate.
inline constexpr float FixedStep = 1.0f / 60.0f;
// A slow frame runs at most this many steps (4 s of simulated time) and drops
// the rest, so a frame made slow by the cloth cannot demand ever more steps.
inline constexpr int MaxStepsPerFrame = 240;
inline constexpr int Substeps = 3;
inline constexpr int SolverIterations = 10;
// Steps after creation whose velocities are divided by this instead of the
// step time, so a fresh curtain settles instead of snapping.
inline constexpr int DampedSteps = 20;
inline constexpr float DampedDivisor = 6.0f;
// No particle moves faster than this (m/s): a particle squeezed hard between
// the camera particle and the scene is let go, not fired off.
inline constexpr float MaxSpeed = 20.0f;
inline constexpr int Strands = 50;
inline constexpr int StrandParticles = 65;
inline constexpr float Spacing = 0.0508f;  // m between neighbours, both ways
inline constexpr float CurtainRadius = 0.025f;
inline constexpr float CurtainInverseMass = 0.5f;
inline constexpr float CameraRadius = 0.5f;
// The rail the strands hang from: across the lane, low enough that the
// hanging curtain's hem rests on the street.
inline constexpr float RailHeight = 3.35f;
inline constexpr float RailY = -4.5f;
inline constexpr float RailCentreX = -0.035f;
// The tops are gathered into pleats along the rail: a wave of this many
// strands, this deep (m) either side of the rail.
inline constexpr int PleatStrands = 10;
inline constexpr float PleatDepth = 0.045f;
// Sideways sway (m) down each strand as it is made.
inline constexpr float Sway = 0.003f;
// Cloth gives way when pushed together: a link squeezed shorter than its
// rest length is restored by this share per sweep (stretching, fully).
inline constexpr float CompressionStiffness = 0.1f;
// Coulomb friction against the scene: a resting particle stays put while the
// push holding it up is large enough, otherwise it slides and slows.
inline constexpr float StaticFriction = 0.8f;
inline constexpr float KineticFriction = 0.6f;
// Particles wider than this (m; the camera particle) are tested against all
// others instead of being filed in the self-collision grid.
inline constexpr float WideRadius = 0.1f;
}  // namespace ClothConstants

// Parallel arrays with a fixed capacity; index 0 is the camera particle, then
// the curtain, then the static scene particles. The arrays stay empty until
// the first particle is added and then hold the whole capacity (about
// 160 MB), so programs that never make a curtain do not pay for it.
struct ParticleArrays {
  static constexpr std::uint32_t Capacity = 5000000;
  std::vector<glm::vec3> Position;
  // Velocity between steps; inside a step, the predicted position.
  std::vector<glm::vec3> Velocity;
  std::vector<float> InverseMass;  // 0: pinned or static
  std::vector<float> Radius;
  std::uint32_t Count = 0;
  // The first SimulatedCount particles are integrated; the rest are static.
  std::uint32_t SimulatedCount = 0;
};

ParticleArrays& Particles();

// The scene as the curtain collides with it: the occupied texels of the light
// field's occupancy volume, each a solid box the size of its texel (an
// exposed top only up to the texel's middle). A box pushes only through its
// exposed faces (those towards an empty texel), so a particle never squeezes
// between two boxes that share a face.
struct SceneVoxels {
  // Occupancy bits of Cells; the low six mark exposed faces, in the order
  // -x, +x, -y, +y, -z, +z of the volume's axes.
  static constexpr std::uint8_t Occupied = 0x40;

  glm::ivec3 Size{0};
  std::vector<std::uint8_t> Cells;  // x + W y + W H z
  glm::mat4 WorldToTexel{1.0f};     // world point to texel coordinates (texel k spans [k, k + 1))
  glm::vec3 Origin{0.0f};           // world centre of texel (0, 0, 0)
  glm::vec3 Axis[3];                // unit world directions of the volume's axes
  glm::vec3 HalfExtent{0.0f};       // half a texel along each axis (m)
  std::uint8_t UpFace = 6;          // the face (as in Cells) facing world up; 6: none

  bool Empty() const { return Cells.empty(); }
  // 0 outside the volume.
  std::uint8_t At(const glm::ivec3& texel) const;
  glm::vec3 Centre(const glm::ivec3& texel) const;
};

// Everything else the curtain keeps between frames.
struct ClothState {
  // The curtain's own links; collision constraints live only inside a step.
  std::vector<DistanceConstraint> constraints;
  SceneVoxels scene;
  bool staticonce = false;  // the scene particles have been made
  int simsteps = 0;         // steps simulated since the curtain was created
  std::uint32_t curtainFirst = 1;  // index of the curtain's first particle
  // Fixed-step clock: time of the last frame seen (negative before the first)
  // and simulated time owed to the curtain.
  float clock = -1.0f;
  float owed = 0.0f;
  // Curtain positions before the latest step: frames between steps show the
  // curtain part way from these to the current positions.
  std::vector<glm::vec3> stepStart;
};

ClothState& Cloth();

// Writes the next free slot with zero velocity and returns its index. A full
// store refuses with a console line and returns ParticleArrays::Capacity.
std::uint32_t AddParticle(glm::vec3 position, float radius, float inverseMass);
// Links two particles at their current distance. The bool is not used.
void AddDistanceConstraint(std::uint32_t a, std::uint32_t b, float stiffness, bool);
void ResetParticles();
void ResetConstraints();
// Both forget the scene's collision voxels.
void ResetStaticCollisionGrid();
void ResetCollisionGrid();

// 50 strands of 65 particles hanging in pleats from the rail, each pinned at
// its top.
void AddCloth();
// Every texel above 0 (x + W y + W H z) becomes an immovable scene particle
// at its centre, placed the way the voxeliser places texels: the volume spans
// local -1..1 on each axis and `localToWorld` places it. Everything added from
// here on is not simulated.
void CreateCollisionStructureFromTexels(const float* texels, const glm::ivec3& size,
                                        const glm::mat4& localToWorld);
// One substep of length h over the simulated particles, against the scene
// contacts and with the link shares StepCloth gathered for its step.
void Simulate(float h);
// One fixed step: Substeps substeps that carry the camera particle (particle
// 0) from `cameraFrom` to `cameraTo`.
void StepCloth(const glm::vec3& cameraFrom, const glm::vec3& cameraTo);
// One Gauss-Seidel sweep over `list`, moving predicted positions.
void SolveConstraints(std::vector<DistanceConstraint>* list, int iteration, bool pushOnly);
// Moves the fixed-step clock to `now` (seconds) and returns the steps this
// frame owes the curtain.
int AdvanceClock(float now);

// What the hotkeys ask of the curtain in a frame.
struct ClothCommands {
  bool Delete = false;  // every particle goes; the scene's collision voxels stay
  bool Break = false;   // every link goes; the particles still collide
  bool Create = false;  // a fresh curtain, only while there are no particles
  bool Detach = false;  // the pinned tops fall too
};
// Applies `c`, in that order; a curtain is created with the camera particle
// at `camera`. True when this made a curtain.
bool ApplyClothCommands(const ClothCommands& c, const glm::vec3& camera);
// The fixed steps owed at `now` (seconds since start), carrying the camera
// particle to `camera` by the last of them. False while there is no curtain.
bool AdvanceCloth(float now, const glm::vec3& camera);

}  // namespace KestorEngine
