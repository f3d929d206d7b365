// The curtain's particles and links, the scene it collides with, and what
// the hotkeys ask of it.
//
//   Storage ........ the particle store, the state, the solver's scratch
//   Building ....... particles, links, the curtain
//   Scene .......... collision voxels from an occupancy volume's texels
//   Commands ....... the hotkeys' requests and the frame's fixed steps
#include <algorithm>
#include <cmath>
#include <iostream>

#include <glm/common.hpp>
#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "cloth/Cloth.h"
#include "cloth/ClothWork.h"

namespace KestorEngine {

using namespace ClothConstants;
using namespace ClothDetail;

// ---------------------------------------------------------------------------
// Storage

ParticleArrays& Particles() {
  static ParticleArrays* particles = new ParticleArrays();
  return *particles;
}

ClothState& Cloth() {
  static ClothState* state = new ClothState();
  return *state;
}

namespace ClothDetail {

Scratch& Work() {
  static Scratch* scratch = new Scratch();
  return *scratch;
}

// The whole capacity at once, on first use: indices handed out before stay
// valid, and the scene particles behind the curtain survive its deletion.
void EnsureParticleStorage() {
  ParticleArrays& P = Particles();
  if (!P.Position.empty()) return;
  P.Position.resize(ParticleArrays::Capacity);
  P.Velocity.resize(ParticleArrays::Capacity);
  P.InverseMass.resize(ParticleArrays::Capacity);
  P.Radius.resize(ParticleArrays::Capacity);
}

// Simulated particles that the store actually holds (none before the first
// particle is added).
std::uint32_t SimulatedInStore() {
  const ParticleArrays& P = Particles();
  return std::min<std::uint32_t>(P.SimulatedCount, static_cast<std::uint32_t>(P.Position.size()));
}

Link MakeLink(const float* inverseMass, std::uint32_t a, std::uint32_t b, float rest, float stiffness) {
  const float s = inverseMass[a] + inverseMass[b];
  return {a, b, rest, inverseMass[a] / s, inverseMass[b] / s, stiffness};
}

}  // namespace ClothDetail

// ---------------------------------------------------------------------------
// Building

std::uint32_t AddParticle(glm::vec3 position, float radius, float inverseMass) {
  EnsureParticleStorage();
  ParticleArrays& P = Particles();
  if (P.Count >= ParticleArrays::Capacity) {
    std::cout << "Cloth: all " << ParticleArrays::Capacity << " particles are in use, particle not added"
              << std::endl;
    return ParticleArrays::Capacity;
  }
  const std::uint32_t i = P.Count++;
  P.Position[i] = position;
  P.Velocity[i] = glm::vec3(0.0f);
  P.InverseMass[i] = inverseMass;
  P.Radius[i] = radius;
  return i;
}

void AddDistanceConstraint(std::uint32_t a, std::uint32_t b, float stiffness, bool) {
  const ParticleArrays& P = Particles();
  if (a >= P.Count || b >= P.Count) {
    std::cout << "Cloth: constraint between particles " << a << " and " << b
              << " names a particle that does not exist, not added" << std::endl;
    return;
  }
  Cloth().constraints.push_back({a, b, stiffness, glm::length(P.Position[a] - P.Position[b])});
}

void ResetParticles() { Particles().Count = 0; }

void ResetConstraints() { Cloth().constraints.clear(); }

void ResetStaticCollisionGrid() { Cloth().scene = SceneVoxels(); }

void ResetCollisionGrid() { ResetStaticCollisionGrid(); }

void AddCloth() {
  if (Particles().Count > ParticleArrays::Capacity - CurtainParticles) {
    std::cout << "Cloth: no room for the curtain's " << CurtainParticles << " particles, curtain not added"
              << std::endl;
    return;
  }
  // The tops follow a wave along the rail, each Spacing from the last, so the
  // fabric between strands is at rest while the curtain hangs gathered. The
  // depth drifts a little along the rail so the folds are not all alike.
  glm::vec2 tops[Strands];
  float sumX = 0.0f;
  for (int i = 0; i < Strands; ++i) {
    const float phase = 6.2831853f * static_cast<float>(i) / PleatStrands;
    const float depth = PleatDepth * (1.0f + 0.3f * std::sin(0.37f * static_cast<float>(i)));
    tops[i].y = RailY + depth * std::sin(phase);
    if (i == 0) {
      tops[i].x = 0.0f;
    } else {
      const float dy = tops[i].y - tops[i - 1].y;
      tops[i].x = tops[i - 1].x - std::sqrt(Spacing * Spacing - dy * dy);
    }
    sumX += tops[i].x;
  }
  const float shiftX = RailCentreX - sumX / Strands;

  ClothState& state = Cloth();
  const std::uint32_t first = Particles().Count;
  state.curtainFirst = first;
  for (int i = 0; i < Strands; ++i) {
    for (int j = 0; j < StrandParticles; ++j) {
      // Fabric never hangs dead straight: a few millimetres of sway down each
      // strand, so that a strand pressed end-on buckles instead of standing.
      // The same for every strand, so neighbours stay Spacing apart, clear of
      // each other's collision radius.
      const float sway = Sway * std::sin(0.9f * static_cast<float>(j));
      const glm::vec3 position(tops[i].x + shiftX, tops[i].y + sway, RailHeight - Spacing * static_cast<float>(j));
      AddParticle(position, CurtainRadius, j == 0 ? 0.0f : CurtainInverseMass);
      if (j == 0) continue;
      const std::uint32_t here = first + StrandParticles * i + j;
      AddDistanceConstraint(here - 1, here, 1.0f, false);
      if (i > 0) AddDistanceConstraint(here - StrandParticles, here, 1.0f, false);
    }
  }
  const ParticleArrays& P = Particles();
  state.stepStart.assign(P.Position.begin() + first, P.Position.begin() + first + CurtainParticles);
}

// ---------------------------------------------------------------------------
// Scene

std::uint8_t SceneVoxels::At(const glm::ivec3& t) const {
  if (t.x < 0 || t.y < 0 || t.z < 0 || t.x >= Size.x || t.y >= Size.y || t.z >= Size.z) return 0;
  return Cells[t.x + static_cast<std::size_t>(Size.x) * (t.y + static_cast<std::size_t>(Size.y) * t.z)];
}

glm::vec3 SceneVoxels::Centre(const glm::ivec3& t) const {
  glm::vec3 c = Origin;
  for (int k = 0; k < 3; ++k) c += Axis[k] * (2.0f * HalfExtent[k] * static_cast<float>(t[k]));
  return c;
}

void CreateCollisionStructureFromTexels(const float* texels, const glm::ivec3& size,
                                        const glm::mat4& localToWorld) {
  EnsureParticleStorage();
  ParticleArrays& P = Particles();
  P.SimulatedCount = P.Count;
  SceneVoxels& scene = Cloth().scene;
  scene = SceneVoxels();
  if (texels == nullptr || size.x <= 0 || size.y <= 0 || size.z <= 0) return;

  // The voxeliser puts local point l into texel floor((l * 0.5 + 0.5) * size),
  // so texel k spans local [2k / size - 1, 2(k + 1) / size - 1].
  const glm::vec3 sizeF(size);
  scene.Size = size;
  scene.WorldToTexel = glm::translate(glm::mat4(1.0f), sizeF * 0.5f) * glm::scale(glm::mat4(1.0f), sizeF * 0.5f) *
                       glm::inverse(localToWorld);
  scene.Origin = glm::vec3(localToWorld * glm::vec4(1.0f / sizeF - 1.0f, 1.0f));
  for (int k = 0; k < 3; ++k) {
    const glm::vec3 column(localToWorld[k]);
    const float length = glm::length(column);
    scene.Axis[k] = length > 0.0f ? column / length : glm::vec3(0.0f);
    scene.HalfExtent[k] = length / sizeF[k];
  }
  const float radius = std::min({scene.HalfExtent.x, scene.HalfExtent.y, scene.HalfExtent.z});
  // The face whose outward normal points most nearly up, if any does.
  scene.UpFace = 6;
  float upmost = 0.7f;
  for (int k = 0; k < 3; ++k) {
    if (std::fabs(scene.Axis[k].z) > upmost) {
      upmost = std::fabs(scene.Axis[k].z);
      scene.UpFace = static_cast<std::uint8_t>(2 * k + (scene.Axis[k].z > 0.0f ? 1 : 0));
    }
  }

  const std::size_t W = size.x, H = size.y;
  scene.Cells.assign(W * H * size.z, 0);
  auto solid = [&](int x, int y, int z) {
    return x >= 0 && y >= 0 && z >= 0 && x < size.x && y < size.y && z < size.z &&
           texels[x + W * (y + H * z)] > 0.0f;
  };
  // Outer x, then y, then z: the order the scene particles are added in.
  for (int x = 0; x < size.x; ++x) {
    for (int y = 0; y < size.y; ++y) {
      for (int z = 0; z < size.z; ++z) {
        if (!solid(x, y, z)) continue;
        const glm::ivec3 t(x, y, z);
        if (AddParticle(scene.Centre(t), radius, 0.0f) == ParticleArrays::Capacity) {
          // Refused and reported once; the scene keeps the texels it got.
          return;
        }
        // Scene particles are never integrated, so their slot permanently
        // holds the predicted position.
        P.Velocity[P.Count - 1] = P.Position[P.Count - 1];
        std::uint8_t cell = SceneVoxels::Occupied;
        const glm::ivec3 steps[6] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
        for (int f = 0; f < 6; ++f) {
          const glm::ivec3 n = t + steps[f];
          if (!solid(n.x, n.y, n.z)) cell |= static_cast<std::uint8_t>(1u << f);
        }
        scene.Cells[x + W * (y + H * z)] = cell;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Commands

bool ApplyClothCommands(const ClothCommands& c, const glm::vec3& camera) {
  ParticleArrays& P = Particles();
  ClothState& state = Cloth();
  if (c.Delete) {
    ResetParticles();
    ResetConstraints();
  } else if (c.Break) {
    ResetConstraints();
  }
  const bool create = P.Count == 0 && c.Create;
  if (create) {
    state.simsteps = 0;
    state.owed = 0.0f;
    // The camera particle: immovable, so it shoves the curtain aside. Made
    // where the camera is, so it does not sweep through the scene to get there.
    AddParticle(camera, CameraRadius, 0.0f);
    AddCloth();
  }
  if (c.Detach) {
    for (int k = 0; k < Strands; ++k) {
      const std::uint32_t top = state.curtainFirst + StrandParticles * k;
      if (top < P.Count) P.InverseMass[top] = CurtainInverseMass;
    }
  }
  return create;
}

bool AdvanceCloth(float now, const glm::vec3& camera) {
  ParticleArrays& P = Particles();
  const int steps = AdvanceClock(now);
  if (P.Count == 0) return false;
  // The camera particle reaches the camera at the end of the frame's steps.
  const glm::vec3 start = P.Position[0];
  for (int k = 0; k < steps; ++k) {
    StepCloth(glm::mix(start, camera, static_cast<float>(k) / steps),
              glm::mix(start, camera, static_cast<float>(k + 1) / steps));
  }
  return true;
}

}  // namespace KestorEngine
