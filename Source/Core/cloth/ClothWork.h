#pragma once
// The cloth module's own: the solver's working records and scratch, shared
// by its building, collision search and solver files. Not for other modules.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "cloth/Cloth.h"

namespace KestorEngine {
namespace ClothDetail {

// A link or a collision as the solver sweeps it: the ends' shares of the
// correction are worked out once per substep instead of once per sweep.
struct Link {
  std::uint32_t A;
  std::uint32_t B;
  float RestLength;
  float ShareA;  // w_a / (w_a + w_b)
  float ShareB;
  float Stiffness;
};

// Links as the sweeps read them: parallel arrays in runs of one colour, in
// which no particle appears twice, so four at a time can be solved together;
// from Shared on (the last colour, which takes what no other could), links
// may share particles.
struct LinkRuns {
  std::vector<std::uint32_t> A, B, End;
  std::vector<float> Rest, ShareA, ShareB;
  std::uint32_t Shared = std::numeric_limits<std::uint32_t>::max();

  void Clear() {
    A.clear();
    B.clear();
    End.clear();
    Rest.clear();
    ShareA.clear();
    ShareB.clear();
    Shared = std::numeric_limits<std::uint32_t>::max();
  }
  void Add(std::uint32_t a, std::uint32_t b, float rest, float shareA, float shareB) {
    A.push_back(a);
    B.push_back(b);
    Rest.push_back(rest);
    ShareA.push_back(shareA);
    ShareB.push_back(shareB);
  }
  // Closes the run of colour c.
  void EndRun(int c) {
    const std::uint32_t size = static_cast<std::uint32_t>(A.size());
    if (c == 31) Shared = End.empty() ? 0 : End.back();
    if (End.empty() || End.back() != size) End.push_back(size);
  }
};

// Greedy colouring: each pair takes the lowest colour neither of its
// particles has yet; 31 takes all the rest.
inline std::uint8_t TakeColour(std::vector<std::uint32_t>& taken, std::uint32_t a, std::uint32_t b) {
  const std::uint32_t used = taken[a] | taken[b];
  std::uint8_t c = 0;
  while (c < 31 && (used & (1u << c))) ++c;
  taken[a] |= 1u << c;
  taken[b] |= 1u << c;
  return c;
}

// A simulated particle that may meet an occupied scene texel during a step.
struct Contact {
  std::uint32_t Particle;
  glm::vec3 Centre;  // of the texel's box, world
  std::uint8_t Faces;
  // Of the latest substep: the push out of the box, world, and how deep it
  // went at the first sweep (0: they did not meet).
  glm::vec3 Normal;
  float Depth;
};

// Reused from substep to substep, so steady stepping allocates nothing.
struct Scratch {
  std::vector<std::uint32_t> linkOrder;  // indices into the constraints, by colour
  std::vector<std::uint32_t> colourEnd;  // where each colour's run in linkOrder ends
  std::size_t orderedFrom = std::numeric_limits<std::size_t>::max();
  std::size_t preparedFrom = std::numeric_limits<std::size_t>::max();
  std::uint32_t preparedCount = 0;
  // The full-stiffness links as the sweeps read them (the rest as they
  // are), and the self-collisions likewise, coloured every substep.
  LinkRuns links;
  LinkRuns pushRuns;
  std::vector<std::uint32_t> taken;  // per particle: colours used so far
  std::vector<std::uint8_t> colour;
  std::vector<std::uint32_t> order;
  std::vector<Link> softLinks;
  // Predicted positions while the sweeps run, each padded to four floats
  // (the fourth 0) so a particle moves with one vector load and store.
  std::vector<glm::vec4> points;
  std::vector<Link> pushes;
  std::vector<float> pushDepths;  // overlap of each push as found
  std::vector<Contact> contacts;
  // Self-collision grid: the particles filed and their cells, each cell's
  // first entry in inCell, a fill cursor per cell, per entry the particle's
  // position, radius and cell; and the particles too wide to file.
  std::vector<std::uint32_t> filed;
  std::vector<std::uint32_t> cellStart;
  std::vector<std::uint32_t> cellNext;
  std::vector<std::uint32_t> inCell;
  std::vector<glm::vec3> cellPosition;
  std::vector<float> cellRadius;
  std::vector<glm::ivec3> cellCoord;
  std::vector<glm::ivec3> filedCell;
  std::vector<std::uint32_t> wide;
};

Scratch& Work();

// The whole capacity at once, on first use: indices handed out before stay
// valid, and the scene particles behind the curtain survive its deletion.
void EnsureParticleStorage();
// Simulated particles that the store actually holds (none before the first
// particle is added).
std::uint32_t SimulatedInStore();

Link MakeLink(const float* inverseMass, std::uint32_t a, std::uint32_t b, float rest, float stiffness);

constexpr std::uint32_t CurtainParticles = ClothConstants::Strands * ClothConstants::StrandParticles;

// Past this far from the origin (m) a particle has flown off; it collides
// with nothing rather than overflow a cell index.
constexpr float FarthestPoint = 1.0e6f;

// Collision search (ClothCollision.cpp).
void FindSelfCollisions(std::uint32_t n, Scratch& w);
void FindSceneContacts(std::uint32_t n, Scratch& w);
glm::vec3 ToBox(const SceneVoxels& scene, const glm::vec3& v);
glm::vec3 FromBox(const SceneVoxels& scene, const glm::vec3& v);
bool BoxContact(const SceneVoxels& scene, const glm::vec3& a, const glm::vec3& beforeWorld, float r,
                std::uint8_t faces, glm::vec3& normal, float& depth);

}  // namespace ClothDetail
}  // namespace KestorEngine
