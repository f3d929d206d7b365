#include "renderer/Cascade.h"

#include <algorithm>
#include <cmath>

#include <glm/common.hpp>
#include <glm/vector_relational.hpp>

namespace KestorEngine {

namespace Cascade {

namespace {

int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
int CeilDiv(int a, int b) { return -FloorDiv(-a, b); }

// Voxel indices stay far from int's limits: a scene within 1e6 m of the
// origin at a millimetre is 1e9 voxels.
int ToIndex(double v) { return static_cast<int>(std::clamp(v, -1.5e9, 1.5e9)); }

}  // namespace

bool Box::Empty() const { return glm::any(glm::lessThanEqual(Hi, Lo)); }

long long Box::Voxels() const {
  if (Empty()) return 0;
  const glm::ivec3 s = Hi - Lo;
  return static_cast<long long>(s.x) * s.y * s.z;
}

Box Intersect(const Box& a, const Box& b) { return {glm::max(a.Lo, b.Lo), glm::min(a.Hi, b.Hi)}; }

Box Grow(const Box& b, int voxels) { return {b.Lo - voxels, b.Hi + voxels}; }

Box AlignOut(const Box& b) {
  Box out;
  for (int axis = 0; axis < 3; ++axis) {
    out.Lo[axis] = FloorDiv(b.Lo[axis], Step) * Step;
    out.Hi[axis] = CeilDiv(b.Hi[axis], Step) * Step;
  }
  return out;
}

Box VoxelsOf(glm::vec3 lo, glm::vec3 hi, float voxel) {
  Box out;
  for (int axis = 0; axis < 3; ++axis) {
    out.Lo[axis] = ToIndex(std::floor(static_cast<double>(lo[axis]) / voxel)) - 1;
    out.Hi[axis] = ToIndex(std::floor(static_cast<double>(hi[axis]) / voxel)) + 2;
  }
  return out;
}

Box Window(glm::ivec3 origin, glm::ivec3 n) { return {origin, origin + n}; }

glm::ivec3 PlaceLevel(glm::vec3 camera, float voxel, glm::ivec3 n, const glm::ivec3* current) {
  glm::ivec3 out(0);
  for (int axis = 0; axis < 3; ++axis) {
    // The corner that would centre the window on the camera, in voxels.
    const double ideal = static_cast<double>(camera[axis]) / voxel - 0.5 * n[axis];
    if (current != nullptr && std::abs(ideal - (*current)[axis]) <= Slack) {
      out[axis] = (*current)[axis];
      continue;
    }
    out[axis] = ToIndex(std::round(ideal / Step)) * Step;
  }
  return out;
}

bool Nests(const Box& finer, const Box& coarser, int margin) {
  // The finer window in coarse voxels: its corners halved, outwards.
  const glm::ivec3 lo(FloorDiv(finer.Lo.x, 2), FloorDiv(finer.Lo.y, 2), FloorDiv(finer.Lo.z, 2));
  const glm::ivec3 hi(CeilDiv(finer.Hi.x, 2), CeilDiv(finer.Hi.y, 2), CeilDiv(finer.Hi.z, 2));
  return glm::all(glm::greaterThanEqual(lo - margin, coarser.Lo)) && glm::all(glm::lessThanEqual(hi + margin, coarser.Hi));
}

std::vector<glm::ivec3> PlaceLevels(glm::vec3 camera, float finestVoxel, glm::ivec3 n, int levels,
                                    const std::vector<glm::ivec3>& current) {
  std::vector<glm::ivec3> out;
  float voxel = finestVoxel;
  for (int k = 0; k < levels; ++k, voxel *= 2.0f) {
    const bool placed = static_cast<size_t>(k) < current.size();
    glm::ivec3 origin = PlaceLevel(camera, voxel, n, placed ? &current[k] : nullptr);
    if (k > 0) {
      // Whole steps towards the finer window until it fits; the levels are
      // large enough (LevelVoxels) that it always can.
      const Box finer = Window(out.back(), n);
      for (int axis = 0; axis < 3; ++axis) {
        const int lo = FloorDiv(finer.Lo[axis], 2) - NestMargin;
        const int hi = CeilDiv(finer.Hi[axis], 2) + NestMargin;
        if (origin[axis] > lo) origin[axis] = FloorDiv(lo, Step) * Step;
        if (origin[axis] + n[axis] < hi) origin[axis] = CeilDiv(hi - n[axis], Step) * Step;
      }
    }
    out.push_back(origin);
  }
  return out;
}

std::vector<Box> ScrolledIn(glm::ivec3 from, glm::ivec3 to, glm::ivec3 n) {
  const Box now = Window(to, n);
  const Box before = Window(from, n);
  if (Intersect(now, before).Empty()) return {now};
  // Peel one axis at a time: the slab along x that is new, then of what
  // remains the slab along y, then along z.
  std::vector<Box> out;
  Box rest = now;
  for (int axis = 0; axis < 3; ++axis) {
    Box slab = rest;
    if (to[axis] > from[axis]) {
      slab.Lo[axis] = before.Hi[axis];
      rest.Hi[axis] = before.Hi[axis];
    } else if (to[axis] < from[axis]) {
      slab.Hi[axis] = before.Lo[axis];
      rest.Lo[axis] = before.Lo[axis];
    } else {
      continue;
    }
    if (!slab.Empty()) out.push_back(slab);
  }
  return out;
}

glm::ivec3 Wrap(glm::ivec3 w, glm::ivec3 n) {
  glm::ivec3 out;
  for (int axis = 0; axis < 3; ++axis) {
    out[axis] = w[axis] % n[axis];
    if (out[axis] < 0) out[axis] += n[axis];
  }
  return out;
}

std::vector<Piece> Pieces(const Box& b, glm::ivec3 n) {
  if (b.Empty()) return {};
  // Per axis one or two runs: from the box's first texel to the texture's
  // end, then on from texel 0.
  struct Run {
    int World, Texel, Size;
  };
  std::vector<Run> runs[3];
  for (int axis = 0; axis < 3; ++axis) {
    const int size = std::min(b.Hi[axis] - b.Lo[axis], n[axis]);
    const int first = Wrap(b.Lo, n)[axis];
    const int head = std::min(size, n[axis] - first);
    runs[axis].push_back({b.Lo[axis], first, head});
    if (head < size) runs[axis].push_back({b.Lo[axis] + head, 0, size - head});
  }
  std::vector<Piece> out;
  for (const Run& x : runs[0]) {
    for (const Run& y : runs[1]) {
      for (const Run& z : runs[2]) {
        out.push_back({{x.World, y.World, z.World}, {x.Texel, y.Texel, z.Texel}, {x.Size, y.Size, z.Size}});
      }
    }
  }
  return out;
}

std::vector<Box> Merge(std::vector<Box> boxes, size_t most) {
  boxes.erase(std::remove_if(boxes.begin(), boxes.end(), [](const Box& b) { return b.Empty(); }), boxes.end());
  bool merged = true;
  while (merged) {
    merged = false;
    for (size_t i = 0; i < boxes.size() && !merged; ++i) {
      for (size_t j = i + 1; j < boxes.size() && !merged; ++j) {
        // Touching counts (two halves of a row are one box), but only where
        // the union's box is no larger than the two: an L of two slabs stays
        // two boxes rather than becoming the whole window.
        if (Intersect(Grow(boxes[i], 1), boxes[j]).Empty()) continue;
        const Box both{glm::min(boxes[i].Lo, boxes[j].Lo), glm::max(boxes[i].Hi, boxes[j].Hi)};
        if (both.Voxels() > boxes[i].Voxels() + boxes[j].Voxels()) continue;
        boxes[i] = both;
        boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(j));
        merged = true;
      }
    }
  }
  if (boxes.size() > most) {
    Box all = boxes.front();
    for (const Box& b : boxes) all = {glm::min(all.Lo, b.Lo), glm::max(all.Hi, b.Hi)};
    boxes = {all};
  }
  return boxes;
}

void FreshBoxes::Note(const std::vector<LevelWork>& work, glm::ivec3 n, int frames) {
  if (n != voxels) kept.clear();
  voxels = n;
  for (Kept& k : kept) k.Age += 1;
  kept.erase(std::remove_if(kept.begin(), kept.end(), [frames](const Kept& k) { return k.Age >= frames; }),
             kept.end());
  if (frames <= 0) return;
  std::vector<Kept> now;
  for (size_t level = 0; level < work.size(); ++level) {
    for (const Box& b : work[level].Boxes) now.push_back({static_cast<int>(level), b, 0});
  }
  // A box drawn anew again starts its light over: the older entry would
  // only take one of the few places the injection tests (a thing that keeps
  // moving redraws its box every frame, and pushed the slabs that scrolled
  // in out of the list within a frame or two).
  kept.erase(std::remove_if(kept.begin(), kept.end(),
                            [&now](const Kept& k) {
                              return std::any_of(now.begin(), now.end(), [&k](const Kept& y) {
                                return y.Level == k.Level && Intersect(k.B, y.B) == k.B;
                              });
                            }),
             kept.end());
  kept.insert(kept.begin(), now.begin(), now.end());
}

std::vector<FreshBoxes::Fresh> FreshBoxes::Pieces(size_t most) const {
  std::vector<Fresh> out;
  for (const Kept& k : kept) {
    for (const Piece& p : Cascade::Pieces(k.B, voxels)) {
      if (out.size() == most) return out;
      const glm::ivec3 lo = p.Texel + glm::ivec3(0, 0, k.Level * voxels.z);
      out.push_back({lo, lo + p.Size, k.Age});
    }
  }
  return out;
}

void Tracker::Reset() {
  origins.clear();
  pending.clear();
  held.clear();
}

std::vector<LevelWork> Tracker::Plan(glm::vec3 camera, float finestVoxel, glm::ivec3 n, int levels,
                                     const std::vector<Entry>& entries, bool rebuild) {
  if (rebuild || static_cast<int>(origins.size()) != levels) Reset();
  const bool first = origins.empty();
  const std::vector<glm::ivec3> placed = PlaceLevels(camera, finestVoxel, n, levels, origins);
  pending.resize(static_cast<size_t>(levels));

  // What changed since the volumes were drawn: an entry whose signature
  // came or went, where it is now or where it was.
  std::unordered_map<std::uint64_t, Held> now;
  for (const Entry& e : entries) {
    Held& h = now[e.Signature];
    h.Count += 1;
    h.Lo = e.Lo;
    h.Hi = e.Hi;
  }
  std::vector<std::pair<glm::vec3, glm::vec3>> changed;
  if (!first) {
    for (const auto& [signature, h] : now) {
      auto found = held.find(signature);
      if (found == held.end() || found->second.Count != h.Count) changed.emplace_back(h.Lo, h.Hi);
    }
    for (const auto& [signature, h] : held) {
      if (now.count(signature) == 0) changed.emplace_back(h.Lo, h.Hi);
    }
  }
  held = std::move(now);

  std::vector<LevelWork> work(static_cast<size_t>(levels));
  float voxel = finestVoxel;
  for (int k = 0; k < levels; ++k, voxel *= 2.0f) {
    LevelWork& w = work[static_cast<size_t>(k)];
    const Box window = Window(placed[static_cast<size_t>(k)], n);
    std::vector<Box>& waiting = pending[static_cast<size_t>(k)];
    for (const auto& [lo, hi] : changed) waiting.push_back(AlignOut(VoxelsOf(lo, hi, voxel)));
    if (first) {
      w.Whole = true;
      w.Boxes = {window};
      waiting.clear();
      continue;
    }
    w.Moved = placed[static_cast<size_t>(k)] != origins[static_cast<size_t>(k)];
    const bool turn = (frame + static_cast<unsigned>(k)) % (1u << (2 * k)) == 0u;
    if (w.Moved) w.Boxes = ScrolledIn(origins[static_cast<size_t>(k)], placed[static_cast<size_t>(k)], n);
    if (w.Moved || turn) {
      for (const Box& b : waiting) w.Boxes.push_back(Intersect(b, window));
      waiting.clear();
    }
    w.Boxes = Merge(w.Boxes);
  }
  origins = placed;
  frame += 1;
  return work;
}

}  // namespace Cascade

}  // namespace KestorEngine
