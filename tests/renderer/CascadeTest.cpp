// Where a cascaded light field's levels go as the camera moves and what
// scrolls in: levels nest, move only in whole steps and only when the
// camera has left their centre, and the work boxes cover exactly the new
// voxels, cut where the texture wraps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include <glm/vector_relational.hpp>

#include "renderer/Cascade.h"

using namespace KestorEngine;
using namespace KestorEngine::Cascade;

namespace {

const glm::ivec3 N(48, 40, 32);

bool Aligned(glm::ivec3 v) { return v.x % Step == 0 && v.y % Step == 0 && v.z % Step == 0; }

}  // namespace

TEST(Cascade, LevelsNestAndMoveInWholeStepsOnlyWhenTheCameraLeavesTheirCentre) {
  std::vector<glm::ivec3> levels;
  glm::vec3 camera(-3.3f, 117.9f, 1.7f);
  int moves = 0;
  // A flight at 10 m/s, 30 frames a second, with a turn and a hover that
  // wobbles a few centimetres each frame.
  for (int frame = 0; frame < 600; ++frame) {
    const glm::vec3 velocity = frame < 300 ? glm::vec3(10.0f, 2.0f, 0.5f) : glm::vec3(-4.0f, -9.0f, 0.0f);
    if (frame < 450) {
      camera += velocity / 30.0f;
    } else {
      camera.x += (frame % 2 == 0 ? 0.04f : -0.04f);
    }
    const std::vector<glm::ivec3> next = PlaceLevels(camera, 0.25f, N, 4, levels);
    ASSERT_EQ(next.size(), 4u);
    for (size_t k = 0; k < next.size(); ++k) {
      const float voxel = 0.25f * static_cast<float>(1 << k);
      EXPECT_TRUE(Aligned(next[k])) << "frame " << frame << " level " << k;
      // Centred on the camera within the slack (the finest exactly so; a
      // coarser one may be pushed a step further to hold the finer).
      const glm::vec3 off = camera / voxel - (glm::vec3(next[k]) + glm::vec3(N) * 0.5f);
      const float most = k == 0 ? Slack + 0.01f : Slack + Step + 0.01f;
      EXPECT_LE(std::abs(off.x), most) << "frame " << frame << " level " << k;
      EXPECT_LE(std::abs(off.z), most) << "frame " << frame << " level " << k;
      if (k > 0) {
        EXPECT_TRUE(Nests(Window(next[k - 1], N), Window(next[k], N), NestMargin)) << "frame " << frame;
      }
      if (!levels.empty() && next[k] != levels[k]) {
        ++moves;
        EXPECT_GE(frame, 1);
        EXPECT_LT(frame, 451) << "the hover moved level " << k;
      }
    }
    levels = next;
  }
  // Level 0 (12 m across x) is crossed every step of 2 m.
  EXPECT_GT(moves, 50);
}

TEST(Cascade, ScrolledInCoversTheNewVoxelsOnceAndNothingElse) {
  struct Case {
    glm::ivec3 From, To;
    long long Expected;
  };
  const long long all = static_cast<long long>(N.x) * N.y * N.z;
  const Case cases[] = {
      {{0, 0, 0}, {0, 0, 0}, 0},
      {{0, 0, 0}, {8, 0, 0}, 8LL * N.y * N.z},
      {{16, -8, 0}, {8, -8, 0}, 8LL * N.y * N.z},
      {{0, 0, 0}, {8, -16, 8}, all - 40LL * 24 * 24},
      {{0, 0, 0}, {800, 0, 0}, all},
  };
  for (const Case& c : cases) {
    const std::vector<Box> boxes = ScrolledIn(c.From, c.To, N);
    long long sum = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      sum += boxes[i].Voxels();
      EXPECT_TRUE(Intersect(boxes[i], Window(c.From, N)).Empty());
      EXPECT_EQ(Intersect(boxes[i], Window(c.To, N)), boxes[i]);
      for (size_t j = 0; j < i; ++j) EXPECT_TRUE(Intersect(boxes[i], boxes[j]).Empty());
    }
    EXPECT_EQ(sum, c.Expected) << c.To.x << "," << c.To.y << "," << c.To.z;
  }
}

TEST(Cascade, PiecesMapEveryVoxelToItsWrappedTexelOnce) {
  const Box boxes[] = {{{-20, 3, 0}, {4, 40, 32}}, {{40, 77, -9}, {88, 80, 23}}, {{8, 8, 8}, {16, 16, 16}}};
  for (const Box& b : boxes) {
    std::vector<int> seen(static_cast<size_t>(N.x * N.y * N.z), 0);
    long long sum = 0;
    for (const Piece& p : Pieces(b, N)) {
      sum += static_cast<long long>(p.Size.x) * p.Size.y * p.Size.z;
      EXPECT_EQ(Wrap(p.World, N), p.Texel);
      EXPECT_TRUE(glm::all(glm::lessThanEqual(p.Texel + p.Size, N)));
      for (int z = 0; z < p.Size.z; ++z)
        for (int y = 0; y < p.Size.y; ++y)
          for (int x = 0; x < p.Size.x; ++x) {
            const glm::ivec3 t = p.Texel + glm::ivec3(x, y, z);
            seen[static_cast<size_t>((t.z * N.y + t.y) * N.x + t.x)] += 1;
          }
    }
    EXPECT_EQ(sum, b.Voxels());
    for (int s : seen) EXPECT_LE(s, 1);
  }
}

TEST(Cascade, WorkBoxesAndSizesRoundOutwards) {
  EXPECT_EQ(AlignOut({{-9, 0, 7}, {1, 8, 9}}), (Box{{-16, 0, 0}, {8, 8, 16}}));
  // A surface on a voxel face marks the voxels on both sides of it.
  EXPECT_EQ(VoxelsOf(glm::vec3(-0.5f, 0.0f, 1.0f), glm::vec3(0.5f, 0.1f, 1.0f), 0.5f), (Box{{-2, -1, 1}, {3, 2, 4}}));
  EXPECT_EQ(LevelVoxels(glm::vec3(64.0f, 90.0f, 1e9f)), glm::ivec3(64, 96, MaxVoxels));
  EXPECT_EQ(LevelVoxels(glm::vec3(NAN, 0.0f, 33.0f)), glm::ivec3(32, 32, 40));
  struct Levels {
    float Extent, Voxel;
    int Voxels, Expected;
  };
  for (const Levels& c : {Levels{1.5f, 0.05f, 64, 1}, Levels{3.3f, 0.05f, 64, 3}, Levels{160.0f, 0.25f, 64, 6},
                          Levels{1e6f, 0.01f, 64, MaxLevels}, Levels{NAN, 0.25f, 64, 1}}) {
    EXPECT_EQ(LevelsFor(c.Extent, c.Voxel, c.Voxels), c.Expected) << c.Extent;
  }
}

TEST(Cascade, MergeJoinsOverlapsButKeepsAnLOfSlabsApart) {
  const Box a{{0, 0, 0}, {8, 8, 8}}, b{{4, 0, 0}, {12, 8, 8}}, slabX{{40, 0, 0}, {48, 40, 32}},
      slabY{{0, 32, 0}, {40, 40, 32}}, far{{100, 100, 100}, {108, 108, 108}};
  EXPECT_EQ(Merge({a, b, far}), (std::vector<Box>{{{0, 0, 0}, {12, 8, 8}}, far}));
  EXPECT_EQ(Merge({slabX, slabY}).size(), 2u);
  EXPECT_EQ(Merge({a, far, slabX, b}, 2).size(), 1u);
  EXPECT_TRUE(Merge({Box{{0, 0, 0}, {0, 8, 8}}}).empty());
}

// Frame by frame, with call counts of the work each level is given.
TEST(Cascade, TrackerRedrawsWhatScrollsInAndWhatMovedEachLevelOnItsTurn) {
  Tracker t;
  const float voxel = 0.25f;
  std::vector<Entry> still = {{11, glm::vec3(-6, -6, 0), glm::vec3(6, 6, 9)}, {12, glm::vec3(-90, -90, -1), glm::vec3(90, 90, 0)}};
  auto boxes = [](const std::vector<LevelWork>& w) {
    std::vector<size_t> out;
    for (const LevelWork& l : w) out.push_back(l.Boxes.size());
    return out;
  };
  const glm::vec3 camera(1.0f, 2.0f, 1.6f);
  std::vector<LevelWork> w = t.Plan(camera, voxel, N, 3, still, false);
  for (const LevelWork& l : w) {
    EXPECT_TRUE(l.Whole);
    ASSERT_EQ(l.Boxes.size(), 1u);
    EXPECT_EQ(l.Boxes[0].Voxels(), static_cast<long long>(N.x) * N.y * N.z);
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(boxes(t.Plan(camera, voxel, N, 3, still, false)), (std::vector<size_t>{0, 0, 0}));

  // A vane turning a step on the roof: level 0 at once, where it was and
  // where it is (one box of whole cells), the coarser ones on their turns
  // (level k every 4^k frames).
  std::vector<Entry> turned = still;
  turned.push_back({13, glm::vec3(0.2f, 0.2f, 4), glm::vec3(0.8f, 0.8f, 5)});
  std::vector<size_t> total(3, 0);
  for (int i = 0; i < 16; ++i) {
    const std::vector<LevelWork> now = t.Plan(camera, voxel, N, 3, turned, false);
    for (size_t k = 0; k < 3; ++k) {
      total[k] += now[k].Boxes.size();
      for (const Box& b : now[k].Boxes) EXPECT_EQ(AlignOut(b), b);
    }
    if (i == 0) {
      ASSERT_EQ(now[0].Boxes.size(), 1u);
      const Box vane = AlignOut(VoxelsOf(glm::vec3(0.2f, 0.2f, 4), glm::vec3(0.8f, 0.8f, 5), voxel));
      EXPECT_EQ(now[0].Boxes[0], vane);
    }
  }
  EXPECT_EQ(total, (std::vector<size_t>{1, 1, 1})) << "each level catches up once within its turn";

  // Something far outside the finer levels changes: only the coarsest sees it.
  std::vector<Entry> far = turned;
  far.push_back({14, glm::vec3(20, 20, 0), glm::vec3(21, 21, 1)});
  std::vector<size_t> seen(3, 0);
  for (int i = 0; i < 16; ++i) {
    const std::vector<LevelWork> now = t.Plan(camera, voxel, N, 3, far, false);
    for (size_t k = 0; k < 3; ++k) seen[k] += now[k].Boxes.size();
  }
  EXPECT_EQ(seen, (std::vector<size_t>{0, 0, 1}));

  // Flying a step along +x: level 0 moves and redraws the slab it gained.
  const std::vector<LevelWork> moved = t.Plan(camera + glm::vec3(2.5f, 0, 0), voxel, N, 3, far, false);
  EXPECT_TRUE(moved[0].Moved);
  ASSERT_EQ(moved[0].Boxes.size(), 1u);
  EXPECT_EQ(moved[0].Boxes[0].Voxels(), static_cast<long long>(2 * Step) * N.y * N.z);
  EXPECT_FALSE(moved[2].Moved);

  // A switch that changes what is voxelised makes everything whole again.
  for (const LevelWork& l : t.Plan(camera, voxel, N, 3, far, true)) EXPECT_TRUE(l.Whole);
}

// The boxes a level drew anew stay fresh for as many frames as asked, the
// youngest first and each as the stacked volumes' texels it covers (a box
// that wraps round its level in pieces, level k from k N.z up); past the
// cap the oldest wait for their level's turns; a box drawn again replaces
// what it covers of its level.
TEST(Cascade, FreshBoxesAgeOutYoungestFirstInTheirLevelsTexels) {
  FreshBoxes fresh;
  std::vector<LevelWork> work(2);
  work[1].Boxes = {Box{glm::ivec3(-8, 0, 0), glm::ivec3(8, 8, 8)}};
  fresh.Note(work, N, 3);
  std::vector<FreshBoxes::Fresh> p = fresh.Pieces(16);
  ASSERT_EQ(p.size(), 2u) << "the box wraps round x";
  EXPECT_EQ(p[0].Lo, glm::ivec3(N.x - 8, 0, N.z));
  EXPECT_EQ(p[0].Hi, glm::ivec3(N.x, 8, N.z + 8));
  EXPECT_EQ(p[1].Lo, glm::ivec3(0, 0, N.z));
  EXPECT_EQ(p[1].Age, 0);

  std::vector<LevelWork> next(2);
  next[0].Boxes = {Box{glm::ivec3(16, 16, 0), glm::ivec3(24, 24, 8)}};
  fresh.Note(next, N, 3);
  p = fresh.Pieces(16);
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].Age, 0);
  EXPECT_EQ(p[0].Lo, glm::ivec3(16, 16, 0));
  EXPECT_EQ(p[2].Age, 1);
  EXPECT_EQ(fresh.Pieces(1).size(), 1u) << "the cap keeps the youngest";

  const std::vector<LevelWork> none(2);
  fresh.Note(none, N, 3);
  EXPECT_EQ(fresh.Pieces(16).size(), 3u);
  fresh.Note(none, N, 3);
  p = fresh.Pieces(16);
  ASSERT_EQ(p.size(), 1u) << "three frames old: no longer fresh";
  EXPECT_EQ(p[0].Age, 2);
  fresh.Note(work, N, 0);
  EXPECT_TRUE(fresh.Pieces(16).empty()) << "no frames: nothing is fresh";

  // A thing that keeps moving redraws its box every frame: one entry, the
  // youngest, not one a frame crowding the slabs out of the cap.
  std::vector<LevelWork> again(2);
  again[0].Boxes = next[0].Boxes;
  again[1].Boxes = next[0].Boxes;
  fresh.Note(next, N, 3);
  fresh.Note(next, N, 3);
  fresh.Note(again, N, 3);
  p = fresh.Pieces(16);
  ASSERT_EQ(p.size(), 2u) << "the box once at level 0 and once at level 1";
  EXPECT_EQ(p[0].Age + p[1].Age, 0);
}
