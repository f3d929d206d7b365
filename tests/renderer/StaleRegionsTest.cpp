// Where what moved or went away leaves stale light: the light injection
// relights it all, shadow included; the temporal pass drops its pixels'
// history only after a sudden change, not beside a thing that keeps moving.
#include <gtest/gtest.h>

#include <glm/geometric.hpp>

#include "renderer/StaleRegions.h"

using namespace KestorEngine;

namespace {

bool Inside(const std::vector<WorldBox>& boxes, const StaleRegions::Regions& r, glm::vec3 p) {
  const glm::vec3 q(glm::dot(p, r.U), glm::dot(p, r.V), glm::dot(p, r.L));
  for (const WorldBox& b : boxes) {
    if (glm::all(glm::lessThanEqual(b.Lo, q)) && glm::all(glm::lessThanEqual(q, b.Hi))) return true;
  }
  return false;
}

TEST(StaleRegions, ShadowsAreRelitAndOnlySuddenChangesDropPixelHistory) {
  const WorldBox cloth{{-1.0f, -1.0f, 2.0f}, {1.0f, 1.0f, 3.0f}};
  const glm::vec3 sun = glm::normalize(glm::vec3(1.0f, 0.0f, 1.0f));
  const glm::vec3 inShadow(-2.0f, 0.0f, 0.5f), lit(2.0f, 0.0f, 0.5f), far(10.0f, 10.0f, 2.5f);
  LightFieldState state;
  struct Step {
    bool moved, sudden;
    bool relit, dropped;  // in the shadow: for the injection, for the pixels
  };
  const Step steps[] = {
      {true, true, true, true},     // made
      {true, false, true, true},    // starts to fall
      {true, false, true, true},
      {true, false, true, true},    // the last frame's box is still kept
      {true, false, true, false},   // keeps moving: a streak
      {true, false, true, false},
      {false, false, true, false},  // came to rest: kept one frame more
      {false, false, false, false},
      {true, true, true, true},     // deleted where it lay
  };
  int frame = 0;
  for (const Step& s : steps) {
    StaleRegions::NoteChanges(state, {}, {}, s.moved ? &cloth : nullptr, s.sudden);
    const StaleRegions::Regions r = StaleRegions::InSunFrame(state.Changed, sun, 0.25f);
    EXPECT_EQ(Inside(r.Boxes, r, inShadow), s.relit) << "frame " << frame;
    EXPECT_EQ(Inside(r.Sudden, r, inShadow), s.dropped) << "frame " << frame;
    EXPECT_FALSE(Inside(r.Boxes, r, lit) || Inside(r.Boxes, r, far)) << "frame " << frame;
    ++frame;
  }
}

}  // namespace
