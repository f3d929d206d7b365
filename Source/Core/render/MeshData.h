#pragma once
// CPU-side mesh geometry: reading and checking the ".fml" mesh file, and the
// interleaved vertex stream and bounds built from the lists before upload.
// No GL here, so all of it is usable (and testable) without a context.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <glm/vec3.hpp>

namespace KestorEngine {

struct MeshLists {
  std::vector<float> Vertices;  // 3 per vertex
  std::vector<uint32_t> Faces;  // 3 per triangle, every index list in file order
  // Index count of each list when the file has more than one (each a
  // submesh, drawn with its own material); empty for a single list.
  std::vector<uint32_t> SubmeshSizes;
  std::vector<float> Normals;   // 3 per vertex
  std::vector<float> UV1;       // 2 per vertex
  bool HasNormals = false;
  bool HasUV1 = false;
  // The mesh a camera draws instead from FarFrom metres away (the "Mesh"
  // element's Far and FarFrom); none when Far is empty.
  std::string Far;
  float FarFrom = 0.0f;
};

// Reads Meshes/<name>.fml at `path`. "Base" may hold several "Faces"
// elements: each is one submesh. Any problem (unreadable file, missing
// element, a piece that is not a number, an index list of no whole
// triangles, normals or UVs shorter than the vertex count, a face index past
// the last vertex) is reported in one line naming the file, and `out` is
// left untouched.
bool ReadMeshFile(const std::string& path, MeshLists& out);

// Empty when the lists can be uploaded as they are, else what is wrong: a
// channel shorter than the vertex count or a face index past the last vertex.
std::string CheckMeshLists(const std::vector<float>& vertices, const std::vector<uint32_t>& faces,
                           const std::vector<float>* normals, const std::vector<float>* uv1);

// Where each attribute sits in one vertex of the stream, in floats.
struct VertexLayout {
  int Stride = 3;        // floats per vertex
  int NormalOffset = -1;  // -1 when absent
  int UVOffset = -1;
};
VertexLayout MeshVertexLayout(bool hasNormals, bool hasUV1);

// Writes vertex i at i * Stride: position, then normal, then texture
// coordinate. The lists must hold at least `vertexCount` entries each.
void InterleaveVertices(const VertexLayout& layout, size_t vertexCount,
                        const std::vector<float>& vertices, const std::vector<float>& normals,
                        const std::vector<float>& uv1, std::vector<float>& out);

// True when every triangle turns its front (counter-clockwise) to the side
// its vertex normals point, so its back is only seen from inside or behind:
// such a mesh may be drawn with back faces culled. Triangles of no area
// show no side and are not counted against it. False without normals.
bool FrontsFollowNormals(const std::vector<float>& vertices, const std::vector<uint32_t>& faces,
                         const std::vector<float>& normals);

// The box starts at (10000, ...) / (-10000, ...) and every position widens
// it, so a mesh beyond +-10000 keeps that limit on the side it does not reach.
void ComputeBounds(const std::vector<float>& vertices, size_t vertexCount, glm::vec3& boundsMin,
                   glm::vec3& boundsMax);

}  // namespace KestorEngine
