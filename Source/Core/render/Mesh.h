#pragma once
// Indexed triangle geometry: CPU lists of positions, normals, texture
// coordinates and triangle indices, and the GL objects holding the uploaded
// copy. File meshes come from Meshes/<name>.fml through Resources<Mesh>;
// code-built meshes are filled and then uploaded with ToGPU.
#include <cstdint>
#include <string>
#include <vector>

#include <glm/vec3.hpp>

#include "engine/Resource.h"
#include "sanegl/Objects.h"

namespace KestorEngine {

class Mesh {
 public:
  // An empty mesh with its GL objects.
  Mesh();
  // Loading constructor of Resources<Mesh>. A file that cannot be used is
  // reported and leaves the mesh empty.
  explicit Mesh(std::string name);
  ~Mesh();
  Mesh(const Mesh&) = delete;
  Mesh& operator=(const Mesh&) = delete;

  // Builds the vertex stream and uploads it with the indices. 0 when nothing
  // was uploaded: no vertices or no whole triangles (silently), or lists
  // that would make GL read past their end (reported).
  int ToGPU();
  // Submesh 0 is every index; submesh k (1..SubmeshCount) the k-th range.
  // Needs the program and state bound by the caller.
  void Draw(unsigned submesh);

  uint32_t SubmeshCount = 0;
  std::vector<uint32_t> SubmeshStarts;
  std::vector<int32_t> SubmeshCounts;
  std::vector<float> Interleaved;
  std::vector<float> Vertices;
  std::vector<uint32_t> Faces;
  std::vector<float> Normals;
  // Further per-vertex channels; nothing fills or enables them yet.
  std::vector<float> Tangents;  // 3 per vertex
  std::vector<float> Colors;    // 4 per vertex
  std::vector<float> UV2;       // 2 per vertex
  std::vector<float> UV1;
  // 0 draws points; anything else triangle lists.
  int32_t Topology = 2;
  bool HasNormals = false;
  bool HasTangents = false;
  bool HasColors = false;
  bool HasUV2 = false;
  bool HasUV1 = false;
  // Set at upload: the back faces of the triangles may be culled (see
  // FrontsFollowNormals); otherwise the mesh is drawn two-sided.
  bool OneSided = false;
  glm::vec3 BoundsMin{0.0f};
  glm::vec3 BoundsMax{0.0f};
  // A cheaper mesh with the same submeshes that cameras draw instead from
  // FarFrom metres away (named by the file; loaded on first use).
  std::string FarName;
  float FarFrom = 0.0f;
  // The mesh to draw instead, seen from `distance` metres: the far one once
  // it is that far and has as many submeshes; else none (this one).
  Resource<Mesh> FarSeenFrom(float distance);
  SaneGL::Buffer VertexBuffer;
  SaneGL::Buffer IndexBuffer;
  SaneGL::VertexArray VertexArray;

 private:
  void CreateGLObjects();

  // Where the mesh came from, for messages; empty for code-built meshes.
  std::string path;
  Resource<Mesh> far;
  bool farLooked = false;
  // Indices in the GL index buffer right now. Draws never reach past them,
  // whatever Faces holds since the last upload.
  size_t uploadedIndices = 0;
};

}  // namespace KestorEngine
