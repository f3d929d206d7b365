// Guards the camera's numbers: projections against hand-worked values, the
// jitter's range and shift, point and ray conversions that round-trip, and
// degenerate sizes that must never leave inf or NaN in a projection.
#include <gtest/gtest.h>

#include <vector>

#include <cmath>
#include <cstdlib>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtx/string_cast.hpp>

#include "engine/Shutter.h"
#include "scene/Camera.h"
#include "scene/Transform.h"

using namespace KestorEngine;

namespace {

::testing::AssertionResult Near(glm::vec3 a, glm::vec3 b, float tolerance = 1e-4f) {
  if (glm::all(glm::lessThanEqual(glm::abs(a - b), glm::vec3(tolerance)))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << glm::to_string(a) << " vs " << glm::to_string(b);
}

bool AllFinite(const glm::mat4& m) {
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r)
      if (!std::isfinite(m[c][r])) return false;
  return true;
}

class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Shutter::Width(1280);
    Shutter::Height(720);
    camera.FocalLength(24);
    camera.UpdatePerspectiveMatrix();
  }

  // A root transform placed and turned, with its matrices computed.
  Transform& Place(glm::vec3 position, glm::quat rotation) {
    transform.Position = position;
    transform.Rotation = rotation;
    TransformSystem::TraverseTransforms(&transform);
    return transform;
  }

  Camera camera;
  Transform transform;
};

}  // namespace

TEST_F(CameraTest, FocalLength24At1280x720) {
  EXPECT_NEAR(camera.FieldOfView, 1.2600678f, 1e-6f);
  EXPECT_EQ(camera.FocalLength(), 24.0f);
  const glm::mat4& p = camera.Projection;
  EXPECT_NEAR(p[0][0], 0.77142859f, 1e-6f);  // (48/35) / (16/9)
  EXPECT_NEAR(p[1][1], 1.3714286f, 1e-6f);   // 48/35
  EXPECT_NEAR(p[2][2], -300.01f / 299.99f, 1e-6f);
  EXPECT_NEAR(p[3][2], -6.0f / 299.99f, 1e-7f);
  EXPECT_EQ(p[2][3], -1.0f);
  EXPECT_EQ(p[3][3], 0.0f);
  EXPECT_EQ(p[2][0], 0.0f);
}

TEST_F(CameraTest, JitterCoversThePixelEvenlyWithinHalfAScaledPixelAndIsPublishedOnlyWhenAsked) {
  glm::mat4 previous = camera.Projection;
  glm::mat4 previousJittered = camera.JitteredProjection;
  camera.UpdatePerspectiveMatrix();
  EXPECT_EQ(camera.FrameCount, 2);
  EXPECT_EQ(camera.JitterOffset, glm::vec2(0.0f));
  EXPECT_EQ(camera.ProjectionPast, previous);
  EXPECT_EQ(camera.JitteredProjectionPast, previousJittered);
  EXPECT_NE(camera.JitteredProjection, camera.Projection) << "the jittered matrix is built either way";

  camera.Jitter = true;
  for (float scale : {1.0f, 0.5f}) {
    camera.RenderScale = scale;
    std::srand(7);  // the renderer reseeds every frame: the offsets must still move
    glm::vec2 sum(0.0f);
    std::vector<glm::vec2> seen;
    for (int i = 0; i < 16; ++i) {
      camera.UpdatePerspectiveMatrix();
      const glm::vec2 j = camera.JitterOffset;
      ASSERT_LE(std::fabs(j.x), 0.5f / scale) << i;
      ASSERT_LE(std::fabs(j.y), 0.5f / scale) << i;
      // Off-centre terms of a frustum moved by j pixels: -2 j / size.
      ASSERT_NEAR(camera.JitteredProjection[2][0], -2.0f * j.x / 1280.0f, 1e-6f);
      ASSERT_NEAR(camera.JitteredProjection[2][1], -2.0f * j.y / 720.0f, 1e-6f);
      ASSERT_NEAR(camera.JitteredProjection[0][0], camera.Projection[0][0], 1e-5f);
      for (glm::vec2 s : seen) ASSERT_NE(s, j) << "offsets repeat only after a full cycle";
      seen.push_back(j);
      sum += j * scale;
    }
    EXPECT_NEAR(sum.x / 16.0f, 0.0f, 0.04f) << "centred on the pixel";
    EXPECT_NEAR(sum.y / 16.0f, 0.0f, 0.04f);
  }
}

TEST_F(CameraTest, OrthographicBuildsItsRectangleAndLeavesTheJitteredMatrix) {
  glm::mat4 jittered = camera.JitteredProjection;
  camera.Orthographic = 1;
  camera.OrthoRect = glm::vec4(0, 0, 200, 100);
  camera.Near = 1;
  camera.Far = 11;
  camera.UpdatePerspectiveMatrix();
  const glm::mat4& p = camera.Projection;
  EXPECT_FLOAT_EQ(p[0][0], 0.01f);
  EXPECT_FLOAT_EQ(p[1][1], 0.02f);
  EXPECT_FLOAT_EQ(p[2][2], -0.2f);
  EXPECT_FLOAT_EQ(p[3][0], -1.0f);
  EXPECT_FLOAT_EQ(p[3][1], -1.0f);
  EXPECT_FLOAT_EQ(p[3][2], -1.2f);
  EXPECT_EQ(p[3][3], 1.0f);
  EXPECT_EQ(camera.JitteredProjection, jittered);
}

TEST_F(CameraTest, DegenerateSizesKeepTheLastGoodProjection) {
  const glm::mat4 good = camera.Projection;
  const glm::mat4 goodJittered = camera.JitteredProjection;
  auto expectKept = [&](const char* what) {
    SCOPED_TRACE(what);
    camera.UpdatePerspectiveMatrix();
    EXPECT_EQ(camera.Projection, good);
    EXPECT_EQ(camera.JitteredProjection, goodJittered);
    EXPECT_EQ(camera.ProjectionPast, good) << "the past still advances";
  };

  Shutter::Height(0);  // minimised window
  expectKept("zero-height drawable");
  Shutter::Height(720);
  Shutter::Width(0);
  expectKept("zero-width drawable");
  Shutter::Width(1280);

  camera.Near = camera.Far = 5;
  expectKept("equal clip planes");
  camera.Near = 0.01f;
  camera.Far = 300;

  camera.FieldOfView = 0;
  expectKept("zero field of view");
  camera.FocalLength(24);

  camera.Orthographic = 1;
  for (glm::vec4 rect : {glm::vec4(0), glm::vec4(1, 0, 1, 5), glm::vec4(0, 2, 5, 2)}) {
    camera.OrthoRect = rect;
    expectKept("empty orthographic rectangle");
  }
  camera.OrthoRect = glm::vec4(0, 0, 4, 4);
  camera.UpdatePerspectiveMatrix();
  EXPECT_NE(camera.Projection, good) << "a sound size is used again at once";
  EXPECT_TRUE(AllFinite(camera.Projection));
}

TEST_F(CameraTest, StraightAheadIsTheScreenCentreAtAnyDistance) {
  Transform& t = Place({0, 0, 0}, glm::quat(1, 0, 0, 0));
  for (float distance : {0.02f, 1.0f, 37.0f, 299.0f}) {
    glm::vec2 s = camera.WorldPointToScreen(glm::vec3(0, 0, -distance), t.WorldInverse);
    EXPECT_NEAR(s.x, 0.5f, 1e-5f) << distance;
    EXPECT_NEAR(s.y, 0.5f, 1e-5f) << distance;
  }
  EXPECT_TRUE(Near(camera.ScreenToWorldPoint({0.5f, 0.5f, 0.0f}, t.WorldInverse), {0, 0, -0.01f}, 1e-6f));
  EXPECT_TRUE(Near(camera.PointToVector({0.5f, 0.5f}, &t), {0, 0, -1}, 1e-6f));

  // The top-right corner lies on the frustum's edge: (aspect h, h, -1).
  float h = std::tan(camera.FieldOfView / 2);
  EXPECT_TRUE(Near(camera.PointToVector({1, 1}, &t), glm::normalize(glm::vec3(h * 16 / 9, h, -1))));
}

TEST_F(CameraTest, ScreenAndWorldPointsRoundTripForAMovedCamera) {
  glm::quat turn = glm::angleAxis(0.6f, glm::vec3(0, 0, 1)) * glm::angleAxis(1.2f, glm::vec3(1, 0, 0));
  Transform& t = Place({2.66f, -5.22f, 1.23f}, turn);
  for (glm::vec3 screen : {glm::vec3(0.5f, 0.5f, 0.3f), glm::vec3(0.1f, 0.8f, 0.9f), glm::vec3(0.95f, 0.05f, 0.5f)}) {
    glm::vec3 world = camera.ScreenToWorldPoint(screen, t.WorldInverse);
    glm::vec2 back = camera.WorldPointToScreen(world, t.WorldInverse);
    EXPECT_NEAR(back.x, screen.x, 1e-4f);
    EXPECT_NEAR(back.y, screen.y, 1e-4f);
    // The ray through the point passes through it.
    Ray ray = camera.PointToRay(glm::vec2(screen), &t);
    glm::vec3 toPoint = glm::normalize(world - ray.Origin);
    EXPECT_TRUE(Near(toPoint, ray.Direction, 1e-3f));
  }
  // Float inverses over a 30000:1 clip range carry about 1e-5 of error.
  EXPECT_TRUE(Near(camera.PointToVector({0.5f, 0.5f}, &t), -(turn * glm::vec3(0, 0, 1)), 1e-4f));
  EXPECT_EQ(camera.PointToRay({0.5f, 0.5f}, &t).Origin, t.Position);
}

TEST_F(CameraTest, PerspectiveRayOfAChildCameraStartsAtItsWorldPosition) {
  Transform parent;
  parent.Position = glm::vec3(10, 0, 0);
  parent.Rotation = glm::angleAxis(glm::half_pi<float>(), glm::vec3(0, 0, 1));
  ASSERT_TRUE(transform.SetParent(&parent));
  Transform& t = Place({2, 0, 0}, glm::quat(1, 0, 0, 0));
  // Two units along the parent's x, which the quarter turn points along +Y.
  EXPECT_TRUE(Near(camera.PointToRay({0.5f, 0.5f}, &t).Origin, {10, 2, 0}));
}

TEST_F(CameraTest, OrthographicRaysStartTwoUnitsAheadAndPointDownMinusZ) {
  camera.Orthographic = 1;
  camera.OrthoRect = glm::vec4(-4, -2, 4, 2);
  camera.UpdatePerspectiveMatrix();
  glm::quat turn = glm::angleAxis(glm::half_pi<float>(), glm::vec3(1, 0, 0));  // looks along +Y
  Transform& t = Place({10, 0, 0}, turn);

  Ray ray = camera.PointToRay({0.75f, 1.0f}, &t);
  // Local (2, 2, -2) turned about X: (2, 2, 2) after the quarter turn.
  EXPECT_TRUE(Near(ray.Origin, {12, 2, 2}));
  EXPECT_TRUE(Near(ray.Direction, {0, 1, 0}));

  // A scaled camera still gives a unit direction.
  t.Scale = glm::vec3(3);
  TransformSystem::TraverseTransforms(&t);
  EXPECT_NEAR(glm::length(camera.PointToRay({0.5f, 0.5f}, &t).Direction), 1.0f, 1e-6f);
}
