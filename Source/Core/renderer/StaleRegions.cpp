#include "renderer/StaleRegions.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <glm/common.hpp>
#include <glm/geometric.hpp>
#include <glm/mat4x4.hpp>

#include "render/ShaderUniform.h"
#include "renderer/FramePasses.h"

namespace KestorEngine::StaleRegions {

namespace {

using Entry = std::pair<std::uint64_t, WorldBox>;

WorldBox Union(const WorldBox& a, const WorldBox& b) { return {glm::min(a.Lo, b.Lo), glm::max(a.Hi, b.Hi)}; }

float Volume(const WorldBox& b) {
  const glm::vec3 d = glm::max(b.Hi - b.Lo, glm::vec3(0.0f));
  return d.x * d.y * d.z;
}

bool Overlap(const WorldBox& a, const WorldBox& b) {
  return glm::all(glm::lessThanEqual(a.Lo, b.Hi)) && glm::all(glm::lessThanEqual(b.Lo, a.Hi));
}

// The queue's voxelised entries with the boxes they cover, by signature.
std::vector<Entry> EntryBoxes(const std::vector<std::uint64_t>& signatures, const std::vector<DrawEntry>& queue) {
  std::vector<Entry> out;
  for (size_t i = 0; i < signatures.size() && i < queue.size(); ++i) {
    WorldBox box;
    if (signatures[i] != 0 && EntryWorldBounds(queue[i], box.Lo, box.Hi)) out.emplace_back(signatures[i], box);
  }
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.first < b.first; });
  return out;
}

void Add(std::vector<WorldBox>& boxes, const WorldBox& box) {
  if (!glm::all(glm::lessThanEqual(box.Lo, box.Hi))) return;
  // A box far out (a thing thrown away, a broken number) would merge with
  // the others into one that covers everything.
  if (!glm::all(glm::lessThan(glm::abs(box.Lo) + glm::abs(box.Hi), glm::vec3(1e6f)))) return;
  boxes.push_back(box);
}

// Boxes that overlap become one; then, while more than MaxBoxes, the pair
// whose union grows least over the two.
void Merge(std::vector<WorldBox>& boxes) {
  for (bool merged = true; merged;) {
    merged = false;
    size_t a = 0, b = 0;
    float best = 1e30f;
    for (size_t i = 0; i < boxes.size(); ++i) {
      for (size_t j = i + 1; j < boxes.size(); ++j) {
        const WorldBox u = Union(boxes[i], boxes[j]);
        const float growth = Overlap(boxes[i], boxes[j]) ? -1.0f : Volume(u) - Volume(boxes[i]) - Volume(boxes[j]);
        if (growth < best) {
          best = growth;
          a = i;
          b = j;
        }
      }
    }
    if (best < 0.0f || (boxes.size() > static_cast<size_t>(MaxBoxes) && best < 1e30f)) {
      boxes[a] = Union(boxes[a], boxes[b]);
      boxes.erase(boxes.begin() + static_cast<std::ptrdiff_t>(b));
      merged = true;
    }
  }
}

// The longest streak among the first `count` of `changed` that came in the
// last frame and meet `box`; 0 where none does.
int StreakAt(const std::vector<ChangedBox>& changed, size_t count, const WorldBox& box) {
  int streak = 0;
  for (size_t k = 0; k < count; ++k) {
    if (changed[k].FramesLeft == KeptFrames - 1 && Overlap(changed[k].Box, box)) {
      streak = std::max(streak, changed[k].Streak);
    }
  }
  return streak;
}

}  // namespace

void NoteChanges(LightFieldState& state, const std::vector<std::uint64_t>& signatures,
                 const std::vector<DrawEntry>& queue, const WorldBox* curtain, bool sudden) {
  // Each frame's boxes age on their own: merged with younger ones, an old
  // change would stay as long as something kept moving beside it.
  std::vector<ChangedBox>& changed = state.Changed;
  for (ChangedBox& c : changed) c.FramesLeft -= 1;
  changed.erase(std::remove_if(changed.begin(), changed.end(), [](const ChangedBox& c) { return c.FramesLeft <= 0; }),
                changed.end());
  std::vector<Entry> now = EntryBoxes(signatures, queue);
  const std::vector<Entry>& then = state.LastBoxes;
  // Both sorted: what one holds and the other does not, counted as
  // multisets (an entry drawn twice alike is there twice).
  std::vector<WorldBox> fresh;
  size_t i = 0, j = 0;
  while (i < now.size() || j < then.size()) {
    if (j == then.size() || (i < now.size() && now[i].first < then[j].first)) {
      Add(fresh, now[i++].second);
    } else if (i == now.size() || then[j].first < now[i].first) {
      Add(fresh, then[j++].second);
    } else {
      ++i;
      ++j;
    }
  }
  Merge(fresh);
  const size_t older = changed.size();
  for (const WorldBox& b : fresh) changed.push_back({b, KeptFrames, StreakAt(changed, older, b) + 1});
  // The curtain's box on its own: merged with the scene's, a sudden change
  // would take up their streak.
  std::vector<WorldBox> cloth;
  if (curtain != nullptr) Add(cloth, *curtain);
  for (const WorldBox& b : cloth) changed.push_back({b, KeptFrames, (sudden ? 0 : StreakAt(changed, older, b)) + 1});
  state.LastBoxes = std::move(now);
}

namespace {

// `boxes` merged, in the sun's frame of `r`, grown by `margin` and, under
// a sun, stretched over their shadows.
std::vector<WorldBox> InFrame(std::vector<WorldBox> boxes, const Regions& r, bool sun, float margin) {
  std::vector<WorldBox> out;
  Merge(boxes);
  for (const WorldBox& box : boxes) {
    WorldBox b;
    for (int k = 0; k < 8; ++k) {
      const glm::vec3 p((k & 1) ? box.Hi.x : box.Lo.x, (k & 2) ? box.Hi.y : box.Lo.y, (k & 4) ? box.Hi.z : box.Lo.z);
      const glm::vec3 q(glm::dot(p, r.U), glm::dot(p, r.V), glm::dot(p, r.L));
      b.Lo = glm::min(b.Lo, q);
      b.Hi = glm::max(b.Hi, q);
    }
    b.Lo -= margin;
    b.Hi += margin;
    // Whatever lies away from the sun behind the box is in its shadow.
    if (sun) b.Lo.z = -1e30f;
    out.push_back(b);
  }
  return out;
}

}  // namespace

Regions InSunFrame(const std::vector<ChangedBox>& changed, glm::vec3 toSun, float margin) {
  Regions r;
  const bool sun = glm::length(toSun) > 0.0f && std::isfinite(glm::length(toSun));
  if (sun) {
    r.L = glm::normalize(toSun);
    r.U = glm::normalize(glm::cross(r.L, std::abs(r.L.z) < 0.9f ? glm::vec3(0.0f, 0.0f, 1.0f) : glm::vec3(1.0f, 0.0f, 0.0f)));
    r.V = glm::cross(r.L, r.U);
  }
  std::vector<WorldBox> boxes, sudden;
  for (const ChangedBox& c : changed) {
    boxes.push_back(c.Box);
    if (c.Streak <= SuddenFrames) sudden.push_back(c.Box);
  }
  r.Boxes = InFrame(boxes, r, sun, margin);
  r.Sudden = InFrame(sudden, r, sun, margin);
  return r;
}

namespace {

void SetBoxes(UniformBuffer& u, const std::vector<WorldBox>& boxes) {
  glm::mat4 lo(0.0f), hi(0.0f);
  for (size_t k = 0; k < boxes.size() && k < static_cast<size_t>(MaxBoxes); ++k) {
    lo[static_cast<int>(k)] = glm::vec4(boxes[k].Lo, 0.0f);
    hi[static_cast<int>(k)] = glm::vec4(boxes[k].Hi, 0.0f);
  }
  u.SetMatrix4("_StaleLo", lo);
  u.SetMatrix4("_StaleHi", hi);
}

void SetAxes(UniformBuffer& u, const Regions& r) {
  u.SetVector("_StaleAxisU", r.U);
  u.SetVector("_StaleAxisV", r.V);
  u.SetVector("_StaleAxisL", r.L);
}

float Count(const std::vector<WorldBox>& boxes) { return static_cast<float>(std::min<size_t>(boxes.size(), MaxBoxes)); }

}  // namespace

void SetFieldUniforms(UniformBuffer& u, const Regions& r) {
  u.SetFloat("_StaleCount", Count(r.Boxes));
  SetAxes(u, r);
  SetBoxes(u, r.Boxes);
}

void SetCameraUniforms(UniformBuffer& u, const Regions& r) {
  u.SetFloat("_StaleBoxes", Count(r.Sudden));
  SetAxes(u, r);
  SetBoxes(u, r.Sudden);
}

}  // namespace KestorEngine::StaleRegions
