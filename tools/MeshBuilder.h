#pragma once
// Builds indexed triangle meshes from simple solids (boxes, beams, flat
// polygons, surfaces of revolution) and writes them as .fml mesh files.
// Every piece winds its triangles counter-clockwise seen from the side its
// normals face; CountWindingFaults checks that for a whole mesh.
#include <cstdint>
#include <string>
#include <vector>

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

namespace KestorTools {

struct MeshLists {
  std::vector<float> Vertices;  // 3 per vertex
  std::vector<float> Normals;   // 3 per vertex
  std::vector<float> UV1;       // 2 per vertex
  std::vector<uint32_t> Faces;  // 3 per triangle, submesh after submesh
  // Indices in each submesh when there are several (each is written as its
  // own index list and drawn with its own material); empty for one.
  std::vector<uint32_t> SubmeshSizes;
  // The cheaper mesh the camera draws instead from FarFrom metres away
  // (none when empty).
  std::string Far;
  float FarFrom = 0.0f;
};

// One point of a surface of revolution: distance from the axis, height, and
// the normal in that half-plane (outward radius, up).
struct ProfilePoint {
  float Radius;
  float Height;
  glm::vec2 Normal;
};

class MeshBuilder {
 public:
  // Triangles from now on go into submesh `index` (0 until the first call);
  // the mesh gets as many index lists as the highest index used plus one.
  void Submesh(int index);

  uint32_t Vertex(glm::vec3 position, glm::vec3 normal, glm::vec2 uv);
  // Skips triangles of no area (the poles of a sphere, for instance).
  void Triangle(uint32_t a, uint32_t b, uint32_t c);

  // A flat convex polygon facing `normal`; the corners may be given in
  // either order. Texture coordinates are metres in the polygon's plane.
  void Polygon(const std::vector<glm::vec3>& corners, glm::vec3 normal);
  // A thin plate: the polygon facing both ways, the sides `thickness` apart.
  void TwoSidedPolygon(const std::vector<glm::vec3>& corners, glm::vec3 normal, float thickness);

  // A box given by its centre and three perpendicular half-edges.
  void OrientedBox(glm::vec3 centre, glm::vec3 a, glm::vec3 b, glm::vec3 c);
  void Box(glm::vec3 low, glm::vec3 high);
  // A square-cut timber from `from` to `to`: `width` across, measured along
  // `across` (made perpendicular to the beam), and `depth` along the third axis.
  void Beam(glm::vec3 from, glm::vec3 to, glm::vec3 across, float width, float depth);

  // Surface of revolution about the vertical axis through `base`, bottom
  // to top. `inward` turns it to face the axis (a bowl's inside).
  void Lathe(glm::vec3 base, const std::vector<ProfilePoint>& profile, int segments,
             bool inward = false);
  // Profile normals taken from the profile's own slope.
  void SmoothLathe(glm::vec3 base, const std::vector<glm::vec2>& radiusHeight, int segments,
                   bool inward = false);
  void Disc(glm::vec3 centre, float radius, int segments, bool facingUp);
  void Cylinder(glm::vec3 base, float radius, float height, int segments, bool caps);
  void Cone(glm::vec3 base, float radius, float height, int segments);
  void Sphere(glm::vec3 centre, float radius, int rings, int segments);

  // The mesh with its index lists in submesh order.
  MeshLists Lists() const;

 private:
  MeshLists lists;  // Faces unused: triangles wait in their submesh
  std::vector<std::vector<uint32_t>> submeshes{1};
  size_t current = 0;
};

// Triangles whose winding disagrees with the mean of their vertex normals.
int CountWindingFaults(const MeshLists& mesh);

// The .fml text: numbers with at most four decimals, no trailing zeros; one
// "Faces" element per submesh.
std::string FmlText(const MeshLists& mesh);

}  // namespace KestorTools
