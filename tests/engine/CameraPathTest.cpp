// Guards scripted camera paths: what a path file may hold, the one line
// naming file and line for each mistake, and the pose between, before,
// after and across keyframes (the shorter way round, cuts, fields of view).
#include <gtest/gtest.h>

#include "engine/CameraPath.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

std::vector<CameraKey> Parsed(const std::string& text) {
  std::vector<CameraKey> keys;
  std::string problem;
  EXPECT_TRUE(ParseCameraPath(text, "tour.txt", keys, problem)) << problem;
  return keys;
}

}  // namespace

TEST(CameraPath, MistakesNameTheFileAndLineAndKeepNothing) {
  struct Case {
    const char* text;
    const char* says;
  };
  const Case cases[] = {
      {"", "tour.txt:1: no keyframes"},
      {"# only a comment\n\n", "tour.txt:2: no keyframes"},
      {"0 1 2 3 4\n", "tour.txt:1: expected t x y z yaw pitch [fov]"},
      {"0 1 2 3 4 5 6 7\n", "tour.txt:1: expected"},
      {"0 0 0 0 0 0\n1 0 0 zero 0 0\n", "tour.txt:2: \"zero\" is not a number"},
      {"0 0 0 0 0 0,\n", "\"0,\" is not a number"},
      {"0 nan 0 0 0 0\n", "\"nan\" is not a number"},
      {"-1 0 0 0 0 0\n", "before the start"},
      {"0 0 0 0 0 91\n", "pitch"},
      {"0 0 0 0 0 0 180\n", "field of view"},
      {"2 0 0 0 0 0\n1 0 0 0 0 0\n", "tour.txt:2: the time 1 comes before"},
      {"1 0 0 0 0 0\n1 0 0 0 0 0\n1 0 0 0 0 0\n", "tour.txt:3: a cut is two keyframes"},
  };
  for (const Case& c : cases) {
    std::vector<CameraKey> keys(1);
    std::string problem;
    EXPECT_FALSE(ParseCameraPath(c.text, "tour.txt", keys, problem)) << c.text;
    EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
    EXPECT_EQ(keys.size(), 1u) << "a refused path leaves the keys as they were";
  }
  std::vector<CameraKey> keys;
  std::string problem;
  EXPECT_FALSE(ReadCameraPath("/no/such/tour.txt", keys, problem));
  EXPECT_NE(problem.find("/no/such/tour.txt: cannot read"), std::string::npos) << problem;
}

TEST(CameraPath, PoseMovesStraightTurnsTheShortWayHoldsAtTheEndsAndCuts) {
  const std::vector<CameraKey> keys = Parsed(
      "# t x y z yaw pitch fov\n"
      "1   0 0 0   350 -10      # the first has no fov: it takes the first given\n"
      "3   2 4 6    10  30  40\n"
      "5   2 4 6    10  30\n"
      "5   9 9 9   180   0  80  # a cut\n");
  ASSERT_EQ(keys.size(), 4u);
  struct Case {
    float t;
    glm::vec3 position;
    float yaw, pitch, fov;
  };
  const Case cases[] = {
      {0.0f, {0, 0, 0}, 350.0f, -10.0f, 40.0f},  // before the first: holds
      {2.0f, {1, 2, 3}, 360.0f, 10.0f, 40.0f},   // through 0, not through 180
      {4.5f, {2, 4, 6}, 10.0f, 30.0f, 40.0f},    // up to the cut: the earlier key
      {5.0f, {9, 9, 9}, 180.0f, 0.0f, 80.0f},    // at the cut: the later one
      {60.0f, {9, 9, 9}, 180.0f, 0.0f, 80.0f},   // after the last: holds
  };
  for (const Case& c : cases) {
    const CameraKey k = CameraAt(keys, c.t);
    EXPECT_NEAR(glm::distance(k.Pose.Position, c.position), 0.0f, 1e-5f) << c.t;
    EXPECT_NEAR(std::remainder(k.Pose.Yaw - c.yaw, 360.0f), 0.0f, 1e-4f) << c.t;
    EXPECT_NEAR(k.Pose.Pitch, c.pitch, 1e-4f) << c.t;
    ASSERT_TRUE(k.FieldOfView) << c.t;
    EXPECT_NEAR(*k.FieldOfView, c.fov, 1e-4f) << c.t;
  }
  EXPECT_FALSE(CameraAt(Parsed("0 0 0 0 0 0\n"), 0.0f).FieldOfView) << "no fov given: the camera keeps its own";
}
