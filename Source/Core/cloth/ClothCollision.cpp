// Collision search: pairs of curtain particles that overlap, and the scene
// texels each particle could meet in a step.
#include <algorithm>
#include <cmath>
#include <limits>

#include <glm/common.hpp>
#include <glm/geometric.hpp>

#include "cloth/Cloth.h"
#include "cloth/ClothWork.h"

namespace KestorEngine {
namespace ClothDetail {

using namespace ClothConstants;

namespace {

// Appends the push between particles k and l, `distance2` apart squared.
void Touching(Scratch& w, std::uint32_t k, std::uint32_t l, float distance2) {
  const float* radius = Particles().Radius.data();
  const float* inverseMass = Particles().InverseMass.data();
  const float s = inverseMass[k] + inverseMass[l];
  if (s == 0.0f) return;
  const float reach = radius[k] + radius[l];
  w.pushes.push_back({k, l, reach, inverseMass[k] / s, inverseMass[l] / s, 1.0f});
  w.pushDepths.push_back(reach - std::sqrt(distance2));
}

// The grid the particles are filed in: its corner, cell side and size.
struct Grid {
  glm::vec3 Low{0.0f};
  float Cell = 0.0f;
  glm::ivec3 Dims{0};
  std::uint32_t Index(glm::ivec3 c) const { return c.x + Dims.x * (c.y + Dims.y * c.z); }
};

// Sorts the first n particles into the wide ones and those to file, and
// sizes the grid over the filed ones' bounds.
Grid ChooseGrid(std::uint32_t n, Scratch& w) {
  const glm::vec3* p = Particles().Velocity.data();
  const float* radius = Particles().Radius.data();
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
  Grid g;
  if (w.filed.empty()) return g;
  g.Low = low;
  // Wider cells when the particles are spread far apart: slower, still
  // right, and the grid stays small.
  g.Cell = std::max(2.0f * widest, 1e-3f);
  for (;;) {
    g.Dims = glm::ivec3((high - low) / g.Cell) + 1;
    if (static_cast<double>(g.Dims.x) * g.Dims.y * g.Dims.z <= std::max<double>(8.0 * n, 1 << 18)) break;
    g.Cell *= 2.0f;
  }
  return g;
}

// Files the particles by cell (a counting sort), with their positions and
// radii copied in cell order, so the candidates of a cell row are read one
// after another.
void FileParticles(const Grid& g, Scratch& w) {
  const glm::vec3* p = Particles().Velocity.data();
  const float* radius = Particles().Radius.data();
  w.cellStart.assign(static_cast<std::size_t>(g.Dims.x) * g.Dims.y * g.Dims.z + 1, 0);
  w.filedCell.resize(w.filed.size());
  for (std::size_t f = 0; f < w.filed.size(); ++f) {
    const glm::ivec3 c = glm::min(glm::ivec3((p[w.filed[f]] - g.Low) / g.Cell), g.Dims - 1);
    w.filedCell[f] = c;
    ++w.cellStart[g.Index(c) + 1];
  }
  for (std::size_t c = 1; c < w.cellStart.size(); ++c) w.cellStart[c] += w.cellStart[c - 1];
  w.cellNext.assign(w.cellStart.begin(), w.cellStart.end() - 1);
  w.inCell.resize(w.filed.size());
  w.cellPosition.resize(w.filed.size());
  w.cellRadius.resize(w.filed.size());
  w.cellCoord.resize(w.filed.size());
  for (std::size_t f = 0; f < w.filed.size(); ++f) {
    const glm::ivec3 c = w.filedCell[f];
    const std::uint32_t slot = w.cellNext[g.Index(c)]++;
    const std::uint32_t i = w.filed[f];
    w.inCell[slot] = i;
    w.cellPosition[slot] = p[i];
    w.cellRadius[slot] = radius[i];
    w.cellCoord[slot] = c;
  }
}

// Entry s against the filed entries from `from` to `to`.
void Against(Scratch& w, std::uint32_t s, std::uint32_t from, std::uint32_t to) {
  const glm::vec3 ps = w.cellPosition[s];
  const float rs = w.cellRadius[s];
  for (std::uint32_t t = from; t < to; ++t) {
    const glm::vec3 d = ps - w.cellPosition[t];
    const float reach = rs + w.cellRadius[t];
    const float distance2 = glm::dot(d, d);
    if (reach * reach > distance2) Touching(w, w.inCell[s], w.inCell[t], distance2);
  }
}

void GridPairs(const Grid& g, Scratch& w) {
  const std::uint32_t filed = static_cast<std::uint32_t>(w.filed.size());
  const std::uint32_t strideY = g.Dims.x, strideZ = g.Dims.x * g.Dims.y;
  for (std::uint32_t s = 0; s < filed; ++s) {
    const glm::ivec3 c = w.cellCoord[s];
    const std::uint32_t own = g.Index(c);
    Against(w, s, s + 1, w.cellStart[own + 1]);
    if (c.x + 1 < g.Dims.x) Against(w, s, w.cellStart[own + 1], w.cellStart[own + 2]);
    // The rows after this one in y, z order: (y + 1, z), then (y - 1 .. y + 1, z + 1);
    // the three cells of a row lie one after another.
    const int fromX = std::max(c.x - 1, 0), toX = std::min(c.x + 1, g.Dims.x - 1);
    const int rows[4][2] = {{1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    for (const auto& row : rows) {
      const int y = c.y + row[0], z = c.z + row[1];
      if (y < 0 || y >= g.Dims.y || z >= g.Dims.z) continue;
      const std::uint32_t first = fromX + strideY * y + strideZ * z;
      Against(w, s, w.cellStart[first], w.cellStart[first + (toX - fromX) + 1]);
    }
  }
}

void WidePairs(std::uint32_t n, Scratch& w) {
  const glm::vec3* p = Particles().Velocity.data();
  const float* radius = Particles().Radius.data();
  for (std::uint32_t big : w.wide) {
    for (std::uint32_t i = 0; i < n; ++i) {
      if (i == big || (radius[i] > WideRadius && i < big)) continue;
      const glm::vec3 d = p[big] - p[i];
      const float reach = radius[big] + radius[i];
      const float distance2 = glm::dot(d, d);
      if (reach * reach > distance2) Touching(w, big, i, distance2);
    }
  }
}

}  // namespace

// Pairs of simulated particles whose predicted spheres overlap. Each particle
// is filed once, by its centre, in a dense grid of cells one diameter wide
// over the particles' bounds (counting-sorted); an overlapping partner then
// lies in the same cell or one of the 26 around it, and each pair is taken
// once: within a cell from the entry filed first, between cells from the
// cell first in x, y, z order. Particles wider than WideRadius (the camera
// particle) are tested against every other.
void FindSelfCollisions(std::uint32_t n, Scratch& w) {
  const Grid g = ChooseGrid(n, w);
  if (!w.filed.empty()) {
    FileParticles(g, w);
    GridPairs(g, w);
  }
  WidePairs(n, w);
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

}  // namespace ClothDetail
}  // namespace KestorEngine
