#include "scene/Camera.h"

#include <cmath>
#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/matrix.hpp>

#include "engine/Shutter.h"
#include "engine/MathChecks.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

// The radical inverse of `index` in `base`: the Halton sequence, whose
// first points spread evenly over 0..1 whatever their count.
float Halton(int index, int base) {
  float result = 0.0f;
  float f = 1.0f;
  while (index > 0) {
    f /= static_cast<float>(base);
    result += f * static_cast<float>(index % base);
    index /= base;
  }
  return result;
}

// Sub-pixel offsets repeat after this many frames: enough for the temporal
// pass to see every part of a pixel, few enough that a still picture settles.
constexpr int JitterCycle = 16;

// Column-major, [column][row]; right-handed view, clip depth -1 to 1.
glm::mat4 Perspective(float fovy, float aspect, float n, float f) {
  float h = std::tan(fovy / 2.0f);
  glm::mat4 m(0.0f);
  m[0][0] = 1.0f / (aspect * h);
  m[1][1] = 1.0f / h;
  m[2][2] = -(f + n) / (f - n);
  m[2][3] = -1.0f;
  m[3][2] = -2.0f * f * n / (f - n);
  return m;
}

const glm::mat4& ViewOf(const Transform* t) {
  static const glm::mat4 identity(1.0f);
  return t != nullptr ? t->WorldInverse : identity;
}

}  // namespace

glm::mat4 perspectiveJittered(float fovy, float aspect, float zNear, float zFar, glm::vec2 jitter) {
  float top = std::tan(fovy / 2.0f) * zNear;
  float bottom = -top;
  float right = aspect * top;
  float left = -right;
  float dx = (right - left) * jitter.x / Shutter::Width();
  float dy = (top - bottom) * jitter.y / Shutter::Height();
  return glm::frustum(left - dx, right - dx, bottom - dy, top - dy, zNear, zFar);
}

float Camera::FocalLength(float f) {
  FieldOfView = 2.0f * std::atan(SensorSize / (2.0f * f));
  FocalLengthValue = f;
  return FieldOfView;
}

void Camera::UpdatePerspectiveMatrix() {
  JitteredProjectionPast = JitteredProjection;
  ProjectionPast = Projection;
  ++FrameCount;

  // Offsets from a low-discrepancy sequence, not rand(): the renderer
  // reseeds rand() every frame, which would give the same offset each time.
  // Half a pixel either way of the camera's scaled targets, expressed in
  // drawable pixels (Shutter) like the projection shift below.
  // Halton(2) puts odd points in the right half of the pixel; taken in this
  // order, left and right fall on odd and even frames alike, so effects that
  // alternate every other frame (a checkerboard of rays) do not lock onto
  // one side and print a fixed pattern.
  static const int Order[JitterCycle] = {1, 2, 4, 3, 5, 6, 8, 7, 9, 10, 12, 11, 13, 14, 16, 15};
  const int i = Order[(FrameCount - 1) % JitterCycle];
  const float scale = RenderScale > 0.0f ? RenderScale : 1.0f;
  glm::vec2 jitter(Halton(i, 2) - 0.5f, Halton(i, 3) - 0.5f);
  jitter /= scale;
  JitterOffset = Jitter ? jitter : glm::vec2(0.0f);

  if (Orthographic != 0) {
    float left = OrthoRect.x, bottom = OrthoRect.y, right = OrthoRect.z, top = OrthoRect.w;
    if (right == left || top == bottom || Far == Near) return;
    glm::mat4 ortho = glm::ortho(left, right, bottom, top, Near, Far);
    if (AllFinite(ortho)) Projection = ortho;
    return;
  }

  float width = Shutter::Width();
  float height = Shutter::Height();
  // A minimised window reports a zero-height drawable; aspect would be inf
  // and the projection singular.
  if (!(width > 0.0f) || !(height > 0.0f) || Far == Near) return;
  float aspect = width / height;
  glm::mat4 projection = Perspective(FieldOfView, aspect, Near, Far);
  glm::mat4 jittered = perspectiveJittered(FieldOfView, aspect, Near, Far, jitter);
  if (!AllFinite(projection) || !AllFinite(jittered)) return;
  Projection = projection;
  JitteredProjection = jittered;
}

glm::vec3 Camera::ScreenToWorldPoint(glm::vec3 p, const glm::mat4& view) const {
  glm::vec4 clip(2.0f * p.x - 1.0f, 2.0f * p.y - 1.0f, 2.0f * p.z - 1.0f, 1.0f);
  glm::vec4 world = glm::inverse(Projection * view) * clip;
  return glm::vec3(world) / world.w;
}

glm::vec2 Camera::WorldPointToScreen(glm::vec3 p, const glm::mat4& view) const {
  glm::vec4 clip = Projection * view * glm::vec4(p, 1.0f);
  return glm::vec2((clip.x / clip.w + 1.0f) * 0.5f, (clip.y / clip.w + 1.0f) * 0.5f);
}

glm::vec3 Camera::PointToVector(glm::vec2 s, const Transform* t) const {
  const glm::mat4& view = ViewOf(t);
  glm::vec3 nearPoint = ScreenToWorldPoint(glm::vec3(s, 0.0f), view);
  glm::vec3 farPoint = ScreenToWorldPoint(glm::vec3(s, 1.0f), view);
  return glm::normalize(farPoint - nearPoint);
}

Ray Camera::PointToRay(glm::vec2 s, const Transform* t) const {
  Ray ray;
  if (Orthographic == 0) {
    ray.Direction = PointToVector(s, t);
    // The world position: Position is relative to the parent, if any.
    ray.Origin = t != nullptr ? glm::vec3(t->World[3]) : glm::vec3(0.0f);
    return ray;
  }
  float u = OrthoRect.x + (OrthoRect.z - OrthoRect.x) * s.x;
  float v = OrthoRect.y + (OrthoRect.w - OrthoRect.y) * s.y;
  glm::mat4 world = t != nullptr ? t->World : glm::mat4(1.0f);
  glm::vec4 a = world * glm::vec4(u, v, -2.0f, 1.0f);
  glm::vec4 b = world * glm::vec4(u, v, -3.0f, 1.0f);
  ray.Origin = glm::vec3(a);
  ray.Direction = glm::vec3((b - a) / glm::length(b - a));
  return ray;
}

}  // namespace KestorEngine
