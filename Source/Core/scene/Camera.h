#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "engine/Component.h"
#include "scene/Ray.h"

namespace KestorEngine {

class Texbit;
class Transform;

// What a pass carries from frame to frame besides its targets (a shadow
// map's cascades: where each lies and what it holds); each pass that needs
// one derives its own.
struct PassState {
  virtual ~PassState() = default;
};

// The renderer's targets of one camera, made by its pass table from the
// render-texture pool by each resource's size rule (renderer/PassTable):
// kept across frames, kept at the render size, or this frame's only. Not
// owned here.
struct CameraTargets {
  // The history pairs. Each frame the temporal pass reads the ones named 1
  // (last frame's picture and newness) and writes the others; then they
  // trade places, so the 1s always hold the latest.
  Texbit* OldLayer1 = nullptr;
  Texbit* OldLayer2 = nullptr;
  Texbit* OldDepth1 = nullptr;
  Texbit* OldDepth2 = nullptr;
  Texbit* Newness1 = nullptr;
  Texbit* Newness2 = nullptr;
  // The lit colour and the scene depth, remade when the render size changes.
  Texbit* Layer1 = nullptr;
  Texbit* BufferDepthLayer1 = nullptr;
  // This frame's only: from the pool before the camera's passes and back
  // after them (null in between).
  Texbit* Normals = nullptr;
  Texbit* MotionVectors = nullptr;
  Texbit* Albedo = nullptr;
  Texbit* LinearDepth = nullptr;
  Texbit* SparseLight = nullptr;
  Texbit* SparseReflection = nullptr;
  Texbit* SparsePlane = nullptr;
  // The targets of passes whose resources name no field above, by resource
  // name: [0] the one read (a history's latest), [1] a history's other.
  std::map<std::string, std::array<Texbit*, 2>> ByName;
  // The passes' states beside their targets, by pass name; owned here.
  std::map<std::string, std::shared_ptr<PassState>> States;
  // Frames since the light last changed: how much history a still pixel may
  // hold (the temporal pass's cap).
  int FramesSinceLightChange = 1 << 20;
};

// A lens: turns the owning Thing's transform into a view. The view matrix is
// never stored here: callers pass the Thing's Transform WorldInverse (or its
// past form). Looks along local -Z with +Y up; clip depth runs -1 to 1.
class Camera : public Component {
 public:
  // Focal length and sensor height share a unit; setting one rebuilds the
  // field of view but not the matrices.
  float FocalLength() const { return FocalLengthValue; }
  float FocalLength(float f);

  // Moves the current projections into the past ones and builds new ones
  // from the drawable size (Shutter). A degenerate size (empty drawable,
  // equal clip planes, empty orthographic rectangle, zero field of view)
  // keeps the last good projection rather than filling it with inf/NaN.
  void UpdatePerspectiveMatrix();

  glm::mat4 Matrix(const glm::mat4& view) const { return Projection * view; }
  glm::mat4 Matrix_Past(const glm::mat4& view) const { return ProjectionPast * view; }
  glm::mat4 MatrixJittered(const glm::mat4& view) const { return JitteredProjection * view; }
  glm::mat4 MatrixJittered_Past(const glm::mat4& view) const { return JitteredProjectionPast * view; }

  // Screen points have x, y in [0, 1] with y up and depth z in [0, 1].
  glm::vec3 ScreenToWorldPoint(glm::vec3 p, const glm::mat4& view) const;
  glm::vec2 WorldPointToScreen(glm::vec3 p, const glm::mat4& view) const;
  // Unit world direction through a screen point.
  glm::vec3 PointToVector(glm::vec2 s, const Transform* t) const;
  // Perspective rays start at the transform's own Position (the world
  // position only for a root transform); orthographic rays start two units
  // in front of the camera plane.
  Ray PointToRay(glm::vec2 s, const Transform* t) const;

  float FieldOfView = 2.0f;  // vertical, radians
  float SensorSize = 35.0f;
  float RenderScale = 1.0f;  // scale of the renderer's scene targets against the window
  bool Jitter = false;       // publish JitterOffset; the jittered matrix is built either way

  CameraTargets Targets;

  int32_t Orthographic = 0;           // non-zero: orthographic projection
  glm::vec4 OrthoRect{0.0f};          // left, bottom, right, top in view units
  bool OrthoFitScreen = false;        // kept at the drawable size by the renderer
  float Near = 0.01f;
  float Far = 300.0f;
  int32_t FrameCount = 0;             // UpdatePerspectiveMatrix calls
  // Drawable pixels, each within half a scaled-target pixel (0.5 / RenderScale);
  // zero unless Jitter. A cycle of 16 offsets, evenly spread over the pixel.
  glm::vec2 JitterOffset{0.0f};
  glm::mat4 JitteredProjection{1.0f};
  glm::mat4 Projection{1.0f};
  glm::mat4 JitteredProjectionPast{1.0f};
  glm::mat4 ProjectionPast{1.0f};
  float FocalLengthValue = 0.0f;
};

// Off-centre perspective shifted by `jitter` pixels of the current drawable
// (Shutter), so (1, 1) moves the image one pixel right and up. Degenerate
// sizes or clip planes give non-finite entries; callers check.
glm::mat4 perspectiveJittered(float fovy, float aspect, float zNear, float zFar, glm::vec2 jitter);

}  // namespace KestorEngine
