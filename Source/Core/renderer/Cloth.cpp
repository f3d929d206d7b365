#include "renderer/Cloth.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>

#include <glm/geometric.hpp>
#include <glm/vec4.hpp>

#include "engine/Debug.h"
#include "gui/IMGUI.h"
#include "render/Mesh.h"
#include "render/Texbit.h"
#include "sanegl/GL.h"
#include "scene/InputSystem.h"

namespace KestorEngine {

using namespace ClothConstants;

ParticleArrays& Particles() {
  static ParticleArrays* particles = new ParticleArrays();
  return *particles;
}

Resource<Mesh>& ParticlesDisplay() {
  static Resource<Mesh>* display = new Resource<Mesh>();
  return *display;
}

ClothState& Cloth() {
  static ClothState* state = new ClothState();
  return *state;
}

namespace {

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

// Past this many cells from the origin a coordinate no longer converts to an
// int cell; such a particle has flown off and collides with nothing.
constexpr float FarthestCell = 1.0e8f;

void FileInGrid(CollisionGrid& grid, std::uint32_t index, const glm::vec3& p, float r,
                std::vector<std::int32_t>& scratch) {
  scratch.clear();
  CoveredCells(p, r, scratch);
  for (std::int32_t key : scratch) grid[key].push_back(index);
}

}  // namespace

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

void ResetStaticCollisionGrid() { Cloth().staticcolgrid.clear(); }

void ResetCollisionGrid() { Cloth().staticcolgrid.clear(); }

void AddCloth() {
  const std::uint32_t needed = Strands * StrandParticles;
  if (Particles().Count > ParticleArrays::Capacity - needed) {
    std::cout << "Cloth: no room for the curtain's " << needed << " particles, curtain not added"
              << std::endl;
    return;
  }
  const std::uint32_t first = Particles().Count;
  for (int i = 0; i < Strands; ++i) {
    const float t = static_cast<float>(i) / Strands;
    for (int j = 0; j < StrandParticles; ++j) {
      const float u = static_cast<float>(j) / StrandParticles;
      const glm::vec3 position(1.91f * (1.0f - t) - 0.63f * t - 0.7f, -4.5f,
                               3.16f * (1.0f - u) - 0.142f * u - 0.2f);
      AddParticle(position, CurtainRadius, j == 0 ? 0.0f : CurtainInverseMass);
      if (j == 0) continue;
      const std::uint32_t here = first + StrandParticles * i + j;
      AddDistanceConstraint(here - 1, here, 1.0f, false);
      if (i > 0) AddDistanceConstraint(here - StrandParticles, here, 1.0f, false);
    }
  }
}

void CreateCollisionStructureFromVoxels(Texbit* volume, const glm::mat4& localToWorld) {
  EnsureParticleStorage();
  ParticleArrays& P = Particles();
  P.SimulatedCount = P.Count;

  if (volume != nullptr && volume->Width > 0 && volume->Height > 0 && volume->Depth > 0) {
    const int W = volume->Width, H = volume->Height, D = volume->Depth;
    std::vector<float> texels(static_cast<size_t>(W) * H * D);
    volume->ToGPU();
    // ToGPU leaves the unit alone when the texture already holds one, so
    // select and bind explicitly before reading back.
    glActiveTexture(Texbit::GetBindEnum(volume->CurrentBind));
    Debug::_CheckGLError("RELEASE", __LINE__);
    glBindTexture(GL_TEXTURE_3D, volume->ID);
    Debug::_CheckGLError("RELEASE", __LINE__);
    glGetTexImage(GL_TEXTURE_3D, 0, GL_RED, GL_FLOAT, texels.data());
    Debug::_CheckGLError("RELEASE", __LINE__);

    bool full = false;
    for (int x = 0; x < W && !full; ++x) {
      for (int y = 0; y < H && !full; ++y) {
        for (int z = 0; z < D; ++z) {
          const float value = texels[x + static_cast<size_t>(W) * y + static_cast<size_t>(W) * H * z];
          if (!(value > 0.0f)) continue;
          const glm::vec4 local(static_cast<float>(x) / W - 0.5f, static_cast<float>(y) / H - 0.5f,
                                static_cast<float>(z) / D - 0.5f, 1.0f);
          if (AddParticle(glm::vec3(localToWorld * local), SceneRadius, 0.0f) == ParticleArrays::Capacity) {
            // Refused and reported once; the scene keeps the particles it got.
            full = true;
            break;
          }
        }
      }
    }
  }

  std::vector<std::int32_t> scratch;
  CollisionGrid& grid = Cloth().staticcolgrid;
  for (std::uint32_t i = 0; i < P.Count; ++i) {
    if (P.InverseMass[i] != 0.0f) continue;
    // Scene particles are never integrated, so their slot permanently holds
    // the predicted position collisions read. Simulated pinned particles
    // (camera, strand tops) keep a true velocity there: a position in it
    // would be integrated as a velocity and shift the pins.
    if (i >= P.SimulatedCount) P.Velocity[i] = P.Position[i];
    FileInGrid(grid, i, P.Position[i], P.Radius[i], scratch);
  }
}

// ---------------------------------------------------------------------------
// Spatial grid

std::int32_t CellKey(int x, int y, int z) {
  // Wrapping arithmetic on purpose, done unsigned so that it is defined.
  const std::uint32_t key = static_cast<std::uint32_t>(x) + 1000u * static_cast<std::uint32_t>(y) +
                            1000000u * static_cast<std::uint32_t>(z);
  return static_cast<std::int32_t>(key);
}

void CoveredCells(const glm::vec3& p, float r, std::vector<std::int32_t>& keys) {
  const glm::vec3 low = (p - r) * CellsPerUnit;
  const glm::vec3 high = (p + r) * CellsPerUnit;
  for (int axis = 0; axis < 3; ++axis) {
    if (!(std::fabs(low[axis]) < FarthestCell) || !(std::fabs(high[axis]) < FarthestCell)) return;
  }
  const glm::ivec3 from(std::floor(low.x), std::floor(low.y), std::floor(low.z));
  const glm::ivec3 to(std::ceil(high.x), std::ceil(high.y), std::ceil(high.z));
  for (int x = from.x; x < to.x; ++x) {
    for (int y = from.y; y < to.y; ++y) {
      for (int z = from.z; z < to.z; ++z) keys.push_back(CellKey(x, y, z));
    }
  }
}

// ---------------------------------------------------------------------------
// Solver

void SolveConstraints(std::vector<DistanceConstraint>* list, int iteration, bool pushOnly) {
  if (list == nullptr) return;
  ParticleArrays& P = Particles();
  const float exponent = 1.0f / static_cast<float>(iteration + 1);
  for (const DistanceConstraint& constraint : *list) {
    const float wa = P.InverseMass[constraint.A];
    const float wb = P.InverseMass[constraint.B];
    const float s = wa + wb;
    if (s == 0.0f) continue;
    // Full stiffness (every constraint the curtain makes) needs no power;
    // above 1 the base would go negative and the power NaN.
    const float kPrime =
        constraint.Stiffness >= 1.0f ? 0.0f : std::pow(1.0f - std::max(constraint.Stiffness, 0.0f), exponent);
    const float c = (1.0f - kPrime) / s;
    glm::vec3& pa = P.Velocity[constraint.A];
    glm::vec3& pb = P.Velocity[constraint.B];
    const glm::vec3 d = pa - pb;
    const float length = glm::length(d);
    // Coincident particles give no direction to move along; leave them for
    // another constraint to separate rather than spread NaN through the list.
    if (!(length > 0.0f) || !std::isfinite(length)) continue;
    const glm::vec3 n = d / length;
    float e = length - constraint.RestLength;
    if (pushOnly) e = std::min(e, 0.0f);
    pa -= wa * c * e * n;
    pb += wb * c * e * n;
  }
}

void Simulate(float h) {
  // A zero step would divide the velocity update by zero.
  if (!(h > 0.0f) || !std::isfinite(h)) return;
  ParticleArrays& P = Particles();
  ClothState& state = Cloth();
  const std::uint32_t n = SimulatedInStore();

  for (std::uint32_t i = 0; i < n; ++i) {
    P.Velocity[i].z += P.InverseMass[i] * Gravity * h;
    P.Velocity[i] = P.Position[i] + P.Velocity[i] * h;
  }

  CollisionGrid grid;
  std::vector<std::int32_t> scratch;
  for (std::uint32_t i = 0; i < n; ++i) FileInGrid(grid, i, P.Velocity[i], P.Radius[i], scratch);

  std::vector<DistanceConstraint> collisions;
  for (const auto& cell : grid) {
    const std::vector<std::uint32_t>& list = cell.second;
    const auto statics = state.staticcolgrid.find(cell.first);
    for (size_t a = 0; a < list.size(); ++a) {
      const std::uint32_t k = list[a];
      const glm::vec3& pk = P.Velocity[k];
      const float rk = P.Radius[k];
      for (size_t b = a + 1; b < list.size(); ++b) {
        const std::uint32_t l = list[b];
        if (l == k) continue;
        const glm::vec3 d = pk - P.Velocity[l];
        const float reach = rk + P.Radius[l];
        if (reach * reach > glm::dot(d, d)) collisions.push_back({k, l, 1.0f, reach});
      }
      if (statics == state.staticcolgrid.end()) continue;
      for (std::uint32_t s : statics->second) {
        if (s == k) continue;
        const glm::vec3 d = pk - P.Velocity[s];
        const float reach = rk + P.Radius[s];
        if (reach * reach > glm::dot(d, d)) collisions.push_back({k, s, 1.0f, reach});
      }
    }
  }

  for (int iteration = 0; iteration < SolverIterations; ++iteration) {
    SolveConstraints(&state.constraints, iteration, false);
    SolveConstraints(&collisions, iteration, true);
  }

  const float divisor = state.simsteps < DampedFrames ? DampedDivisor : h;
  for (std::uint32_t i = 0; i < n; ++i) {
    const glm::vec3 predicted = P.Velocity[i];
    P.Velocity[i] = (predicted - P.Position[i]) / divisor;
    P.Position[i] = predicted;
  }
}

// ---------------------------------------------------------------------------
// Display and the frame

void UpdateParticlesDisplay(float dt) {
  Resource<Mesh>& display = ParticlesDisplay();
  if (!display) return;
  const ParticleArrays& P = Particles();
  const std::uint32_t n = SimulatedInStore();
  Mesh& mesh = *display;
  mesh.Vertices.resize(3 * static_cast<size_t>(n));
  mesh.Normals.resize(3 * static_cast<size_t>(n));
  mesh.Faces.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const glm::vec3 x = P.Position[i];
    const glm::vec3 before = x - P.Velocity[i] * dt;
    for (int c = 0; c < 3; ++c) {
      mesh.Vertices[3 * static_cast<size_t>(i) + c] = x[c];
      mesh.Normals[3 * static_cast<size_t>(i) + c] = before[c];
    }
    mesh.Faces[i] = i;
  }
  mesh.Topology = 0;
  mesh.HasNormals = true;
  mesh.ToGPU();
}

void ClothFrame(const Uint8* keys, float dt, const glm::vec3& cameraPosition, Texbit* skipVolume,
                const glm::mat4& fieldLocalToWorld) {
  ParticleArrays& P = Particles();
  ClothState& state = Cloth();
  // A hotkey acts in every frame it is held and in the frame of a tap too
  // short to be seen held; typed into a panel field, it is text.
  const bool typing = IMGUI::CurrentlyPreoccupied();
  auto held = [keys, typing](int scancode) {
    return !typing && InputSystem::PressedThisFrame(static_cast<SDL_Scancode>(scancode), keys);
  };

  if (held(KeyDelete)) {
    ResetParticles();
    ResetConstraints();
  } else if (held(KeyBreak)) {
    ResetConstraints();
  }

  if (P.Count == 0 && held(KeyCreate)) {
    state.simsteps = 0;
    // The camera particle: immovable, so it shoves the curtain aside.
    AddParticle(glm::vec3(0.0f), CameraRadius, 0.0f);
    AddCloth();
    ParticlesDisplay() = Resources<Mesh>::Make("particlesDisplay");
    if (!state.staticonce) {
      ResetStaticCollisionGrid();
      CreateCollisionStructureFromVoxels(skipVolume, fieldLocalToWorld);
      state.staticonce = true;
    }
  }

  if (held(KeyDetach)) {
    for (int k = 0; k < Strands; ++k) {
      const std::uint32_t top = 1 + StrandParticles * k;
      if (top < P.Count) P.InverseMass[top] = CurtainInverseMass;
    }
  }

  if (P.Count == 0) return;

  const glm::vec3 start = P.Position[0];
  for (int k = 1; k <= Substeps; ++k) {
    const float f = static_cast<float>(k) / Substeps;
    P.Velocity[0] = glm::vec3(0.0f);
    P.Position[0] = f * cameraPosition + (1.0f - f) * start;
    Simulate(dt / Substeps);
  }
  UpdateParticlesDisplay(dt);
  state.simsteps += 1;
}

}  // namespace KestorEngine
