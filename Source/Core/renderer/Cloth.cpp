// The curtain's simulation and display.
//
//   Storage ........ the particle store, the state, the solver's scratch
//   Building ....... particles, links, the curtain
//   Scene .......... collision voxels from the light field's occupancy
//   Collision search  self-collision pairs, scene contacts
//   Solver ......... links, pushes, scene contacts, substeps, fixed steps
//   Display ........ the cloth surface mesh
//   Frame .......... hotkeys, the fixed-step clock, stepping
#include "renderer/Cloth.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <string>

#include <glm/common.hpp>
#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/vec4.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/Debug.h"
#include "gui/IMGUI.h"
#include "render/Mesh.h"
#include "render/Texbit.h"
#include "sanegl/GL.h"
#include "scene/InputSystem.h"

namespace KestorEngine {

using namespace ClothConstants;

// ---------------------------------------------------------------------------
// Storage

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
std::uint8_t TakeColour(std::vector<std::uint32_t>& taken, std::uint32_t a, std::uint32_t b) {
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

constexpr std::uint32_t CurtainParticles = Strands * StrandParticles;

// Past this far from the origin (m) a particle has flown off; it collides
// with nothing rather than overflow a cell index.
constexpr float FarthestPoint = 1.0e6f;

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
  state.shown = state.stepStart;
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

void CreateCollisionStructureFromVoxels(Texbit* volume, const glm::mat4& localToWorld) {
  if (volume == nullptr || volume->Width <= 0 || volume->Height <= 0 || volume->Depth <= 0) {
    CreateCollisionStructureFromTexels(nullptr, glm::ivec3(0), localToWorld);
    return;
  }
  const glm::ivec3 size(volume->Width, volume->Height, volume->Depth);
  std::vector<float> texels(static_cast<std::size_t>(size.x) * size.y * size.z);
  volume->ToGPU();
  // ToGPU leaves the unit alone when the texture already holds one, so
  // select and bind explicitly before reading back.
  glActiveTexture(Texbit::GetBindEnum(volume->CurrentBind));
  Debug::_CheckGLError("RELEASE", __LINE__);
  glBindTexture(GL_TEXTURE_3D, volume->ID);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glGetTexImage(GL_TEXTURE_3D, 0, GL_RED, GL_FLOAT, texels.data());
  Debug::_CheckGLError("RELEASE", __LINE__);
  CreateCollisionStructureFromTexels(texels.data(), size, localToWorld);
}

// ---------------------------------------------------------------------------
// Collision search

namespace {

Link MakeLink(const float* inverseMass, std::uint32_t a, std::uint32_t b, float rest, float stiffness) {
  const float s = inverseMass[a] + inverseMass[b];
  return {a, b, rest, inverseMass[a] / s, inverseMass[b] / s, stiffness};
}

// Pairs of simulated particles whose predicted spheres overlap. Each particle
// is filed once, by its centre, in a dense grid of cells one diameter wide
// over the particles' bounds (counting-sorted); an overlapping partner then
// lies in the same cell or one of the 26 around it, and each pair is taken
// once: within a cell from the entry filed first, between cells from the
// cell first in x, y, z order. Particles wider than WideRadius (the camera particle)
// are tested against every other.
void FindSelfCollisions(std::uint32_t n, Scratch& w) {
  const ParticleArrays& P = Particles();
  const glm::vec3* p = P.Velocity.data();
  const float* radius = P.Radius.data();
  const float* inverseMass = P.InverseMass.data();
  auto touching = [&](std::uint32_t k, std::uint32_t l, float distance2) {
    const float s = inverseMass[k] + inverseMass[l];
    if (s == 0.0f) return;
    const float reach = radius[k] + radius[l];
    w.pushes.push_back({k, l, reach, inverseMass[k] / s, inverseMass[l] / s, 1.0f});
    w.pushDepths.push_back(reach - std::sqrt(distance2));
  };

  w.wide.clear();
  w.filed.clear();
  float widest = 0.0f;
  glm::vec3 low(std::numeric_limits<float>::max()), high(-std::numeric_limits<float>::max());
  for (std::uint32_t i = 0; i < n; ++i) {
    if (radius[i] > WideRadius) {
      w.wide.push_back(i);
      continue;
    }
    // A particle gone far off or bad collides with nothing.
    if (!(std::fabs(p[i].x) < FarthestPoint && std::fabs(p[i].y) < FarthestPoint && std::fabs(p[i].z) < FarthestPoint)) {
      continue;
    }
    widest = std::max(widest, radius[i]);
    low = glm::min(low, p[i]);
    high = glm::max(high, p[i]);
    w.filed.push_back(i);
  }

  if (!w.filed.empty()) {
    // Wider cells when the particles are spread far apart: slower, still
    // right, and the grid stays small.
    float cell = std::max(2.0f * widest, 1e-3f);
    glm::ivec3 dims;
    for (;;) {
      dims = glm::ivec3((high - low) / cell) + 1;
      if (static_cast<double>(dims.x) * dims.y * dims.z <= std::max<double>(8.0 * n, 1 << 18)) break;
      cell *= 2.0f;
    }
    const std::uint32_t strideY = dims.x, strideZ = dims.x * dims.y;
    w.cellStart.assign(static_cast<std::size_t>(strideZ) * dims.z + 1, 0);
    w.filedCell.resize(w.filed.size());
    for (std::size_t f = 0; f < w.filed.size(); ++f) {
      const glm::ivec3 c = glm::min(glm::ivec3((p[w.filed[f]] - low) / cell), dims - 1);
      w.filedCell[f] = c;
      ++w.cellStart[c.x + strideY * c.y + strideZ * c.z + 1];
    }
    for (std::size_t c = 1; c < w.cellStart.size(); ++c) w.cellStart[c] += w.cellStart[c - 1];
    w.cellNext.assign(w.cellStart.begin(), w.cellStart.end() - 1);
    // Positions and radii copied in cell order, so the candidates of a cell
    // row are read one after another.
    w.inCell.resize(w.filed.size());
    w.cellPosition.resize(w.filed.size());
    w.cellRadius.resize(w.filed.size());
    w.cellCoord.resize(w.filed.size());
    for (std::size_t f = 0; f < w.filed.size(); ++f) {
      const glm::ivec3 c = w.filedCell[f];
      const std::uint32_t slot = w.cellNext[c.x + strideY * c.y + strideZ * c.z]++;
      const std::uint32_t i = w.filed[f];
      w.inCell[slot] = i;
      w.cellPosition[slot] = p[i];
      w.cellRadius[slot] = radius[i];
      w.cellCoord[slot] = c;
    }
    auto against = [&](std::uint32_t s, std::uint32_t from, std::uint32_t to) {
      const glm::vec3 ps = w.cellPosition[s];
      const float rs = w.cellRadius[s];
      for (std::uint32_t t = from; t < to; ++t) {
        const glm::vec3 d = ps - w.cellPosition[t];
        const float reach = rs + w.cellRadius[t];
        const float distance2 = glm::dot(d, d);
        if (reach * reach > distance2) touching(w.inCell[s], w.inCell[t], distance2);
      }
    };
    const std::uint32_t filed = static_cast<std::uint32_t>(w.filed.size());
    for (std::uint32_t s = 0; s < filed; ++s) {
      const glm::ivec3 c = w.cellCoord[s];
      const std::uint32_t own = c.x + strideY * c.y + strideZ * c.z;
      against(s, s + 1, w.cellStart[own + 1]);
      if (c.x + 1 < dims.x) against(s, w.cellStart[own + 1], w.cellStart[own + 2]);
      // The rows after this one in y, z order: (y + 1, z), then (y - 1 .. y + 1, z + 1);
      // the three cells of a row lie one after another.
      const int fromX = std::max(c.x - 1, 0), toX = std::min(c.x + 1, dims.x - 1);
      const int rows[4][2] = {{1, 0}, {-1, 1}, {0, 1}, {1, 1}};
      for (const auto& row : rows) {
        const int y = c.y + row[0], z = c.z + row[1];
        if (y < 0 || y >= dims.y || z >= dims.z) continue;
        const std::uint32_t first = fromX + strideY * y + strideZ * z;
        against(s, w.cellStart[first], w.cellStart[first + (toX - fromX) + 1]);
      }
    }
  }

  for (std::uint32_t big : w.wide) {
    for (std::uint32_t i = 0; i < n; ++i) {
      if (i == big || (radius[i] > WideRadius && i < big)) continue;
      const glm::vec3 d = p[big] - p[i];
      const float reach = radius[big] + radius[i];
      const float distance2 = glm::dot(d, d);
      if (reach * reach > distance2) touching(big, i, distance2);
    }
  }
}

glm::vec3 ToBox(const SceneVoxels& scene, const glm::vec3& v) {
  return glm::vec3(glm::dot(v, scene.Axis[0]), glm::dot(v, scene.Axis[1]), glm::dot(v, scene.Axis[2]));
}

glm::vec3 FromBox(const SceneVoxels& scene, const glm::vec3& v) {
  return v.x * scene.Axis[0] + v.y * scene.Axis[1] + v.z * scene.Axis[2];
}

// Where a particle (`a`: its centre relative to the texel's, in the box's
// frame) meets a texel's box: the unit normal to push along, in the box's
// frame, and how far; false when they do not meet.
// A box pushes only through its exposed faces; a particle inside leaves by
// the exposed face it came in through (`before`, its position at the start
// of the substep, lies beyond it), else by the nearest one.
bool BoxContact(const SceneVoxels& scene, const glm::vec3& a, const glm::vec3& beforeWorld, float r,
                std::uint8_t faces, glm::vec3& normal, float& depth) {
  // The box, in its own frame. A surface lies somewhere inside its texel;
  // exposed upward, it is taken at the texel's middle, so what rests on the
  // scene sits half a texel nearer the true floor than the texel's top.
  glm::vec3 low = -scene.HalfExtent, high = scene.HalfExtent;
  if (scene.UpFace < 6 && (faces & (1u << scene.UpFace))) {
    (scene.UpFace & 1 ? high : low)[scene.UpFace / 2] = 0.0f;
  }
  if (glm::any(glm::lessThan(a, low)) || glm::any(glm::greaterThan(a, high))) {
    const glm::vec3 gap = a - glm::clamp(a, low, high);
    const float gap2 = glm::dot(gap, gap);
    if (gap2 >= r * r) return false;
    // Through a face shared with another solid texel lies that texel: it
    // does the pushing.
    for (int k = 0; k < 3; ++k) {
      if (gap[k] != 0.0f && !(faces & (1u << (2 * k + (gap[k] > 0.0f ? 1 : 0))))) return false;
    }
    const float distance = std::sqrt(gap2);
    normal = gap / distance;
    depth = r - distance;
    return true;
  }
  const glm::vec3 before = ToBox(scene, beforeWorld);
  float best = std::numeric_limits<float>::max();
  bool bestCameThrough = false;
  for (int k = 0; k < 3; ++k) {
    for (int side = 0; side < 2; ++side) {
      if (!(faces & (1u << (2 * k + side)))) continue;
      const float face = side == 1 ? high[k] : low[k];
      const float sign = side == 1 ? 1.0f : -1.0f;
      const float needed = sign * (face - a[k]) + r;
      const bool cameThrough = sign * (before[k] - face) > 0.0f;
      if ((cameThrough && !bestCameThrough) || (cameThrough == bestCameThrough && needed < best)) {
        best = needed;
        bestCameThrough = cameThrough;
        normal = glm::vec3(0.0f);
        normal[k] = sign;
      }
    }
  }
  depth = best;
  return best != std::numeric_limits<float>::max();
}

// The occupied scene texels each simulated particle could meet during the
// coming step, looked up directly in the texel grid: those within the
// particle's reach, which is its radius, twice over for what the solver may
// push it by, plus how far its velocity and gravity carry it in a step.
void FindSceneContacts(std::uint32_t n, Scratch& w) {
  w.contacts.clear();
  const SceneVoxels& scene = Cloth().scene;
  if (scene.Empty()) return;
  const ParticleArrays& P = Particles();
  const glm::vec3 texelsPerMetre = 0.5f / glm::max(scene.HalfExtent, glm::vec3(1e-9f));
  const glm::mat3 toTexel(scene.WorldToTexel);
  const glm::vec3 shift(scene.WorldToTexel[3]);
  const std::size_t W = scene.Size.x, H = scene.Size.y;
  const float fall = -Gravity * FixedStep * FixedStep;
  for (std::uint32_t i = 0; i < n; ++i) {
    if (P.InverseMass[i] == 0.0f) continue;
    const glm::vec3 q = toTexel * P.Position[i] + shift;
    if (!(std::fabs(q.x) < FarthestPoint && std::fabs(q.y) < FarthestPoint && std::fabs(q.z) < FarthestPoint)) continue;
    const float reach = 2.0f * P.Radius[i] + glm::length(P.Velocity[i]) * FixedStep + fall;
    const glm::vec3 r = reach * texelsPerMetre;
    const glm::ivec3 low = glm::max(glm::ivec3(glm::floor(q - r)), glm::ivec3(0));
    const glm::ivec3 high = glm::min(glm::ivec3(glm::floor(q + r)), scene.Size - 1);
    for (int z = low.z; z <= high.z; ++z) {
      for (int y = low.y; y <= high.y; ++y) {
        for (int x = low.x; x <= high.x; ++x) {
          const std::uint8_t cell = scene.Cells[x + W * (y + H * z)];
          if (cell & SceneVoxels::Occupied) {
            w.contacts.push_back({i, scene.Centre(glm::ivec3(x, y, z)), cell, glm::vec3(0.0f), 0.0f});
          }
        }
      }
    }
  }
}

// Links that share no particle do not wait on each other: sweeping one colour
// after another lets the processor overlap their square roots instead of
// running one long dependent chain down each strand.
void ColourLinks(const std::vector<DistanceConstraint>& constraints, Scratch& w) {
  std::uint32_t highest = 0;
  for (const DistanceConstraint& c : constraints) highest = std::max({highest, c.A, c.B});
  std::vector<std::uint32_t> taken(constraints.empty() ? 0 : highest + 1, 0);
  std::vector<std::uint8_t> colour(constraints.size());
  std::uint32_t perColour[32] = {};
  for (std::size_t k = 0; k < constraints.size(); ++k) {
    colour[k] = TakeColour(taken, constraints[k].A, constraints[k].B);
    ++perColour[colour[k]];
  }
  std::uint32_t start[32];
  std::uint32_t running = 0;
  for (int c = 0; c < 32; ++c) {
    start[c] = running;
    running += perColour[c];
  }
  w.linkOrder.resize(constraints.size());
  for (std::size_t k = 0; k < constraints.size(); ++k) w.linkOrder[start[colour[k]]++] = static_cast<std::uint32_t>(k);
  w.colourEnd.assign(start, start + 32);
  w.orderedFrom = constraints.size();
}

glm::vec3 At(const glm::vec3& p) { return p; }
glm::vec3 At(const glm::vec4& p) { return glm::vec3(p); }
void Move(glm::vec3& p, const glm::vec3& by) { p += by; }
void Move(glm::vec4& p, const glm::vec3& by) { p += glm::vec4(by, 0.0f); }

// One link between predicted positions: full stiffness pulls the ends to the
// rest length (squeezed ones back by CompressionStiffness only), each end by
// its share; a push only ever pushes apart.
template <bool PushOnly, typename Point>
void SolveLink(Point* p, std::uint32_t a, std::uint32_t b, float rest, float shareA, float shareB, float k) {
  const Point d = p[a] - p[b];
  const float length2 = glm::dot(d, d);
  // Coincident particles give no direction to move along; leave them for
  // another constraint to separate rather than spread NaN.
  if (!(length2 > 0.0f)) return;
  const float length = std::sqrt(length2);
  const float e0 = (length - rest) / length;
  // Written without branches: in a heap, stretched and squeezed links
  // alternate at random and a mispredicted branch costs more than both.
  const float e = k * (PushOnly ? std::min(e0, 0.0f) : std::max(e0, 0.0f) + CompressionStiffness * std::min(e0, 0.0f));
  p[a] -= shareA * e * d;
  p[b] += shareB * e * d;
}

// A stiffness k below 1 takes 1 - (1 - k)^(1 / (iteration + 1)) of the
// correction at each sweep.
float SweepStiffness(float stiffness, int iteration) {
  if (stiffness >= 1.0f) return 1.0f;
  return 1.0f - std::pow(1.0f - std::max(stiffness, 0.0f), 1.0f / static_cast<float>(iteration + 1));
}

template <bool PushOnly, typename Point>
void SolveLinks(const std::vector<Link>& links, Point* p, int iteration) {
  for (const Link& link : links) {
    SolveLink<PushOnly>(p, link.A, link.B, link.RestLength, link.ShareA, link.ShareB,
                        SweepStiffness(link.Stiffness, iteration));
  }
}

#if defined(__SSE2__)
// Lane L of a four-link batch: its ends moved by their shares along d.
template <int L>
inline void MoveEnds(float* base, std::uint32_t a, std::uint32_t b, __m128 d, __m128 ea, __m128 eb) {
  constexpr int lane = L | (L << 2) | (L << 4) | (L << 6);
  float* pa = base + 4 * std::size_t{a};
  float* pb = base + 4 * std::size_t{b};
  _mm_storeu_ps(pa, _mm_sub_ps(_mm_loadu_ps(pa), _mm_mul_ps(_mm_shuffle_ps(ea, ea, lane), d)));
  _mm_storeu_ps(pb, _mm_add_ps(_mm_loadu_ps(pb), _mm_mul_ps(_mm_shuffle_ps(eb, eb, lane), d)));
}
#endif

// Full-stiffness links (or pushes), run by run, four at a time where no
// particle appears twice.
template <bool PushOnly>
void SolveRuns(const LinkRuns& r, glm::vec4* p) {
  std::uint32_t k = 0;
  for (std::uint32_t end : r.End) {
#if defined(__SSE2__)
    const std::uint32_t together = std::min(end, r.Shared);
    float* base = &p[0].x;
    const __m128 zero = _mm_setzero_ps();
    const __m128 squeeze = _mm_set1_ps(CompressionStiffness);
    for (; k + 4 <= together; k += 4) {
      const std::uint32_t* A = &r.A[k];
      const std::uint32_t* B = &r.B[k];
      const __m128 d0 = _mm_sub_ps(_mm_loadu_ps(base + 4 * std::size_t{A[0]}), _mm_loadu_ps(base + 4 * std::size_t{B[0]}));
      const __m128 d1 = _mm_sub_ps(_mm_loadu_ps(base + 4 * std::size_t{A[1]}), _mm_loadu_ps(base + 4 * std::size_t{B[1]}));
      const __m128 d2 = _mm_sub_ps(_mm_loadu_ps(base + 4 * std::size_t{A[2]}), _mm_loadu_ps(base + 4 * std::size_t{B[2]}));
      const __m128 d3 = _mm_sub_ps(_mm_loadu_ps(base + 4 * std::size_t{A[3]}), _mm_loadu_ps(base + 4 * std::size_t{B[3]}));
      // Lanes to links: x, y, z of the four differences.
      const __m128 t0 = _mm_unpacklo_ps(d0, d1), t1 = _mm_unpacklo_ps(d2, d3);
      const __m128 t2 = _mm_unpackhi_ps(d0, d1), t3 = _mm_unpackhi_ps(d2, d3);
      const __m128 dx = _mm_movelh_ps(t0, t1), dy = _mm_movehl_ps(t1, t0), dz = _mm_movelh_ps(t2, t3);
      const __m128 length2 =
          _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
      const __m128 length = _mm_sqrt_ps(length2);
      const __m128 e0 = _mm_div_ps(_mm_sub_ps(length, _mm_loadu_ps(&r.Rest[k])), length);
      __m128 e = PushOnly ? _mm_min_ps(e0, zero) : _mm_add_ps(_mm_max_ps(e0, zero), _mm_mul_ps(squeeze, _mm_min_ps(e0, zero)));
      e = _mm_and_ps(e, _mm_cmpgt_ps(length2, zero));  // coincident (or NaN): no move
      const __m128 ea = _mm_mul_ps(e, _mm_loadu_ps(&r.ShareA[k]));
      const __m128 eb = _mm_mul_ps(e, _mm_loadu_ps(&r.ShareB[k]));
      MoveEnds<0>(base, A[0], B[0], d0, ea, eb);
      MoveEnds<1>(base, A[1], B[1], d1, ea, eb);
      MoveEnds<2>(base, A[2], B[2], d2, ea, eb);
      MoveEnds<3>(base, A[3], B[3], d3, ea, eb);
    }
#endif
    for (; k < end; ++k) SolveLink<PushOnly>(p, r.A[k], r.B[k], r.Rest[k], r.ShareA[k], r.ShareB[k], 1.0f);
  }
}

// Coulomb friction, once a substep: of what has moved a particle (or a pair,
// relative to each other) along a contact's face, as much is taken back as
// the contact's push allows. A contact that pushed by `depth` holds a slide
// of up to StaticFriction x depth, and slows a longer one by KineticFriction
// x depth.
glm::vec3 FrictionHold(const glm::vec3& moved, const glm::vec3& normal, float depth) {
  const glm::vec3 slide = moved - glm::dot(moved, normal) * normal;
  const float slide2 = glm::dot(slide, slide);
  if (!(slide2 > 0.0f) || !(depth > 0.0f)) return glm::vec3(0.0f);
  const float length = std::sqrt(slide2);
  if (length <= StaticFriction * depth) return slide;
  return slide * std::min(1.0f, KineticFriction * depth / length);
}

// For self-collisions: layers of a heap of cloth stop sliding over each other.
void PushFriction(const std::vector<Link>& pushes, const std::vector<float>& depths, glm::vec3* p,
                  const glm::vec3* start) {
  for (std::size_t k = 0; k < pushes.size(); ++k) {
    const Link& push = pushes[k];
    const glm::vec3 d = p[push.A] - p[push.B];
    const float length2 = glm::dot(d, d);
    if (!(length2 > 0.0f)) continue;
    const glm::vec3 kept = FrictionHold((p[push.A] - start[push.A]) - (p[push.B] - start[push.B]),
                                        d / std::sqrt(length2), depths[k]);
    p[push.A] -= push.ShareA * kept;
    p[push.B] += push.ShareB * kept;
  }
}

// For the scene: a particle lying on the street stays put.
void ContactFriction(const std::vector<Contact>& contacts, glm::vec3* p, const glm::vec3* start) {
  for (const Contact& c : contacts) {
    if (c.Depth > 0.0f) p[c.Particle] -= FrictionHold(p[c.Particle] - start[c.Particle], c.Normal, c.Depth);
  }
}

// Pushes each particle out of the boxes it has gone into. `first` records
// each meeting's depth and push for the friction; `last` records the push of
// those touching (or all but) for the velocities.
template <typename Point>
void SolveContacts(std::vector<Contact>& contacts, Point* p, bool first, bool last) {
  const ParticleArrays& P = Particles();
  const SceneVoxels& scene = Cloth().scene;
  const glm::vec3* start = P.Position.data();
  const float* radius = P.Radius.data();
  // A particle just pushed out sits at exactly its radius from the box.
  constexpr float TouchSlack = 1.05f;
  for (Contact& c : contacts) {
    const std::uint32_t i = c.Particle;
    const float r = last ? radius[i] * TouchSlack : radius[i];
    glm::vec3 normal;
    float depth;
    if (!BoxContact(scene, ToBox(scene, At(p[i]) - c.Centre), start[i] - c.Centre, r, c.Faces, normal, depth)) {
      if (first) c.Depth = 0.0f;
      continue;
    }
    const glm::vec3 push = FromBox(scene, normal);
    if (last) {
      c.Normal = push;
      depth -= r - radius[i];
      if (depth <= 0.0f) continue;
    }
    Move(p[i], push * depth);
    if (first) {
      c.Depth = depth;
      c.Normal = push;
    }
  }
}

// The self-collisions of a substep as the sweeps read them.
void ColourPushes(std::uint32_t n, Scratch& w) {
  w.taken.assign(n, 0);
  w.colour.resize(w.pushes.size());
  std::uint32_t perColour[32] = {};
  for (std::size_t k = 0; k < w.pushes.size(); ++k) {
    w.colour[k] = TakeColour(w.taken, w.pushes[k].A, w.pushes[k].B);
    ++perColour[w.colour[k]];
  }
  std::uint32_t next[32];
  std::uint32_t running = 0;
  for (int c = 0; c < 32; ++c) {
    next[c] = running;
    running += perColour[c];
  }
  w.order.resize(w.pushes.size());
  for (std::size_t k = 0; k < w.pushes.size(); ++k) w.order[next[w.colour[k]]++] = static_cast<std::uint32_t>(k);
  w.pushRuns.Clear();
  std::uint32_t k = 0;
  for (int c = 0; c < 32; ++c) {
    for (; k < next[c]; ++k) {
      const Link& push = w.pushes[w.order[k]];
      w.pushRuns.Add(push.A, push.B, push.RestLength, push.ShareA, push.ShareB);
    }
    w.pushRuns.EndRun(c);
  }
}

// The links as the sweeps read them, in colour runs with each end's share
// worked out; once a step, as inverse masses change only between frames.
// Only links between the first n (simulated) particles take part.
void PrepareLinks(const std::vector<DistanceConstraint>& constraints, std::uint32_t n, Scratch& w) {
  if (w.orderedFrom != constraints.size()) ColourLinks(constraints, w);
  const float* inverseMass = Particles().InverseMass.data();
  w.links.Clear();
  w.softLinks.clear();
  std::uint32_t k = 0;
  for (int colour = 0; colour < static_cast<int>(w.colourEnd.size()); ++colour) {
    for (; k < w.colourEnd[colour]; ++k) {
      const DistanceConstraint& c = constraints[w.linkOrder[k]];
      if (c.A >= n || c.B >= n) continue;
      const float s = inverseMass[c.A] + inverseMass[c.B];
      if (s == 0.0f) continue;
      if (c.Stiffness < 1.0f) {
        w.softLinks.push_back(MakeLink(inverseMass, c.A, c.B, c.RestLength, c.Stiffness));
        continue;
      }
      w.links.Add(c.A, c.B, c.RestLength, inverseMass[c.A] / s, inverseMass[c.B] / s);
    }
    w.links.EndRun(colour);
  }
  w.preparedFrom = constraints.size();
  w.preparedCount = n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Solver

void SolveConstraints(std::vector<DistanceConstraint>* list, int iteration, bool pushOnly) {
  if (list == nullptr) return;
  ParticleArrays& P = Particles();
  std::vector<Link> links;
  links.reserve(list->size());
  for (const DistanceConstraint& c : *list) {
    if (P.InverseMass[c.A] + P.InverseMass[c.B] == 0.0f) continue;
    links.push_back(MakeLink(P.InverseMass.data(), c.A, c.B, c.RestLength, c.Stiffness));
  }
  if (pushOnly) {
    SolveLinks<true>(links, P.Velocity.data(), iteration);
  } else {
    SolveLinks<false>(links, P.Velocity.data(), iteration);
  }
}

void Simulate(float h) {
  // A zero step would divide the velocity update by zero.
  if (!(h > 0.0f) || !std::isfinite(h)) return;
  ParticleArrays& P = Particles();
  ClothState& state = Cloth();
  Scratch& w = Work();
  const std::uint32_t n = SimulatedInStore();
  glm::vec3* p = P.Velocity.data();

  for (std::uint32_t i = 0; i < n; ++i) {
    P.Velocity[i].z += P.InverseMass[i] * Gravity * h;
    P.Velocity[i] = P.Position[i] + P.Velocity[i] * h;
  }

  if (w.preparedFrom != state.constraints.size() || w.preparedCount != n) PrepareLinks(state.constraints, n, w);
  w.pushes.clear();
  w.pushDepths.clear();
  FindSelfCollisions(n, w);
  ColourPushes(n, w);

  w.points.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) w.points[i] = glm::vec4(p[i], 0.0f);
  glm::vec4* q = w.points.data();
  // The scene is met in the first sweep and once more at the end: sweeping
  // it every time costs much and settles a heap no better.
  for (int iteration = 0; iteration < SolverIterations; ++iteration) {
    SolveRuns<false>(w.links, q);
    SolveLinks<false>(w.softLinks, q, iteration);
    SolveRuns<true>(w.pushRuns, q);
    if (iteration == 0) SolveContacts(w.contacts, q, true, false);
  }
  for (std::uint32_t i = 0; i < n; ++i) p[i] = glm::vec3(q[i]);
  PushFriction(w.pushes, w.pushDepths, p, P.Position.data());
  ContactFriction(w.contacts, p, P.Position.data());
  // What the sweeps and the friction moved last may have gone into the
  // scene again. No substep ends inside it: the next could no longer tell
  // which side a particle came from.
  for (Contact& c : w.contacts) c.Normal = glm::vec3(0.0f);
  SolveContacts(w.contacts, p, false, true);

  const float divisor = state.simsteps < DampedSteps ? DampedDivisor : h;
  glm::vec3* v = P.Velocity.data();
  for (std::uint32_t i = 0; i < n; ++i) {
    const glm::vec3 predicted = p[i];
    v[i] = (predicted - P.Position[i]) / divisor;
    P.Position[i] = predicted;
  }
  // Collisions are inelastic. Pushing overlapping particles apart in a
  // substep leaves them moving apart at overlap / h, which a pile landing
  // at speed would turn into a fountain; what touched stops separating.
  const glm::vec3* x = P.Position.data();
  for (const Link& push : w.pushes) {
    const glm::vec3 d = x[push.A] - x[push.B];
    const float length2 = glm::dot(d, d);
    if (!(length2 > 0.0f)) continue;
    const glm::vec3 normal = d / std::sqrt(length2);
    const float apart = glm::dot(v[push.A] - v[push.B], normal);
    if (apart <= 0.0f) continue;
    v[push.A] -= push.ShareA * apart * normal;
    v[push.B] += push.ShareB * apart * normal;
  }
  for (const Contact& c : w.contacts) {
    // Normal is zero for a contact not touching at the end.
    const float away = glm::dot(v[c.Particle], c.Normal);
    if (away > 0.0f) v[c.Particle] -= away * c.Normal;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    const float speed2 = glm::dot(v[i], v[i]);
    if (speed2 > MaxSpeed * MaxSpeed) v[i] *= MaxSpeed / std::sqrt(speed2);
  }
}

void StepCloth(const glm::vec3& cameraFrom, const glm::vec3& cameraTo) {
  ParticleArrays& P = Particles();
  if (P.Count == 0) return;
  ClothState& state = Cloth();
  const std::uint32_t first = state.curtainFirst;
  if (state.stepStart.size() == CurtainParticles && first + CurtainParticles <= P.Count) {
    std::copy(P.Position.begin() + first, P.Position.begin() + first + CurtainParticles, state.stepStart.begin());
  }
  FindSceneContacts(SimulatedInStore(), Work());
  PrepareLinks(state.constraints, SimulatedInStore(), Work());
  for (int k = 1; k <= Substeps; ++k) {
    const float f = static_cast<float>(k) / Substeps;
    P.Velocity[0] = glm::vec3(0.0f);
    P.Position[0] = f * cameraTo + (1.0f - f) * cameraFrom;
    Simulate(FixedStep / Substeps);
  }
  state.simsteps += 1;
}

int AdvanceClock(float now) {
  ClothState& state = Cloth();
  if (!std::isfinite(now)) return 0;
  if (state.clock < 0.0f || now < state.clock) {
    state.clock = now;
    return 0;
  }
  state.owed += now - state.clock;
  state.clock = now;
  int steps = static_cast<int>(state.owed / FixedStep);
  if (steps > MaxStepsPerFrame) {
    steps = MaxStepsPerFrame;
    state.owed = 0.0f;
  } else {
    state.owed -= static_cast<float>(steps) * FixedStep;
  }
  return steps;
}

// ---------------------------------------------------------------------------
// Display

void UpdateParticlesDisplay(float alpha) {
  Resource<Mesh>& display = ParticlesDisplay();
  if (!display) return;
  const ParticleArrays& P = Particles();
  ClothState& state = Cloth();
  const std::uint32_t first = state.curtainFirst;
  if (first + CurtainParticles > P.Count) return;
  if (state.stepStart.size() != CurtainParticles) {
    state.stepStart.assign(P.Position.begin() + first, P.Position.begin() + first + CurtainParticles);
  }
  if (state.shown.size() != CurtainParticles) state.shown = state.stepStart;

  Mesh& mesh = *display;
  const float t = glm::clamp(alpha, 0.0f, 1.0f);
  std::vector<glm::vec3> now(CurtainParticles);
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) now[v] = glm::mix(state.stepStart[v], P.Position[first + v], t);

  std::vector<glm::vec3> normals(CurtainParticles, glm::vec3(0.0f));
  mesh.Faces.clear();
  const float tear = TearStretch * TearStretch * Spacing * Spacing;
  // Corners wound so that the face normal of the fresh curtain points at -y,
  // the street side the demo's camera starts on.
  auto triangle = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, int diagonal) {
    const glm::vec3 edges[3] = {now[b] - now[a], now[c] - now[b], now[a] - now[c]};
    for (int k = 0; k < 3; ++k) {
      // The diagonal's rest length is sqrt(2) Spacing.
      if (glm::dot(edges[k], edges[k]) > (k == diagonal ? 2.0f * tear : tear)) return;
    }
    const glm::vec3 n = glm::cross(edges[0], -edges[2]);
    normals[a] += n;
    normals[b] += n;
    normals[c] += n;
    mesh.Faces.insert(mesh.Faces.end(), {a, b, c});
  };
  for (int i = 0; i + 1 < Strands; ++i) {
    for (int j = 0; j + 1 < StrandParticles; ++j) {
      const std::uint32_t a = StrandParticles * i + j;  // (i, j)
      const std::uint32_t b = a + StrandParticles;      // (i + 1, j)
      const std::uint32_t c = a + 1;                    // (i, j + 1)
      const std::uint32_t d = b + 1;                    // (i + 1, j + 1)
      // Diagonals alternate so the folds have no grain.
      if (((i + j) & 1) == 0) {
        triangle(a, b, c, 1);
        triangle(b, d, c, 2);
      } else {
        triangle(a, b, d, 2);
        triangle(a, d, c, 0);
      }
    }
  }

  mesh.Vertices.resize(3 * static_cast<std::size_t>(CurtainParticles));
  mesh.Normals.resize(3 * static_cast<std::size_t>(CurtainParticles));
  mesh.UV1.resize(2 * static_cast<std::size_t>(CurtainParticles));
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    const float length = glm::length(normals[v]);
    // A particle torn loose from every triangle is not drawn; any unit
    // normal will do.
    const glm::vec3 n = length > 0.0f ? normals[v] / length : glm::vec3(0.0f, -1.0f, 0.0f);
    for (int k = 0; k < 3; ++k) {
      mesh.Vertices[3 * static_cast<std::size_t>(v) + k] = now[v][k];
      mesh.Normals[3 * static_cast<std::size_t>(v) + k] = n[k];
    }
    // Metres along the fabric: across the strands, then down them.
    mesh.UV1[2 * static_cast<std::size_t>(v)] = Spacing * static_cast<float>(v / StrandParticles);
    mesh.UV1[2 * static_cast<std::size_t>(v) + 1] = Spacing * static_cast<float>(v % StrandParticles);
  }
  mesh.Topology = 2;
  mesh.HasNormals = true;
  mesh.HasUV1 = true;
  mesh.ToGPU();

  // The past positions ride in a stream of their own beside the mesh's.
  if (state.pastPositions.Empty()) state.pastPositions = SaneGL::Buffer::Create(SaneGL::BufferType::ArrayBuffer);
  state.pastPositions.BufferData(static_cast<unsigned>(state.shown.size() * sizeof(glm::vec3)), state.shown.data(),
                                 SaneGL::BufferUsage::StreamDraw);
  mesh.VertexArray.VertexAttribPointer(state.pastPositions, PastPositionAttribute, 3, SaneGL::DataType::Float,
                                       false, 0, nullptr);
  mesh.VertexArray.EnableVertexAttribArray(PastPositionAttribute);
  state.shown = std::move(now);
}

// ---------------------------------------------------------------------------
// Frame

void ClothFrame(const Uint8* keys, float now, const glm::vec3& cameraPosition, Texbit* skipVolume,
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
    state.owed = 0.0f;
    // The camera particle: immovable, so it shoves the curtain aside. Made
    // where the camera is, so it does not sweep through the scene to get there.
    AddParticle(cameraPosition, CameraRadius, 0.0f);
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
      const std::uint32_t top = state.curtainFirst + StrandParticles * k;
      if (top < P.Count) P.InverseMass[top] = CurtainInverseMass;
    }
  }

  const int steps = AdvanceClock(now);
  if (P.Count == 0) return;

  // The camera particle reaches the camera at the end of the frame's steps.
  const glm::vec3 start = P.Position[0];
  for (int k = 0; k < steps; ++k) {
    StepCloth(glm::mix(start, cameraPosition, static_cast<float>(k) / steps),
              glm::mix(start, cameraPosition, static_cast<float>(k + 1) / steps));
  }
  UpdateParticlesDisplay(state.owed / FixedStep);
}

}  // namespace KestorEngine
