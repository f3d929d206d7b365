// Writes the unit cube mesh (edges from -0.5 to 0.5) as an .fml file:
//   MakeCubeMesh CompiledAssets/Meshes/Cube.fml
// Four vertices per face so every face has its own normal and a full 0..1
// texture square; triangles wind counter-clockwise seen from outside.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Face {
  float normal[3];
  float u[3];  // first edge direction across the face
  float v[3];  // second edge direction, u x v = normal
};

// Each entry's u x v equals its normal, so corners taken in the order
// (-u,-v), (+u,-v), (+u,+v), (-u,+v) run counter-clockwise seen from outside.
const Face kFaces[] = {
    {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},   {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
    {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}},   {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
    {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},   {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}},
};

template <typename T>
std::string Join(const std::vector<T>& values) {
  std::ostringstream text;
  for (size_t i = 0; i < values.size(); ++i) text << (i > 0 ? "," : "") << values[i];
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: MakeCubeMesh <output .fml>\n";
    return 2;
  }
  std::vector<float> vertices, normals, uvs;
  std::vector<unsigned> faces;
  const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  for (const Face& face : kFaces) {
    unsigned first = static_cast<unsigned>(vertices.size() / 3);
    for (const auto& corner : corners) {
      for (int axis = 0; axis < 3; ++axis) {
        vertices.push_back(0.5f * (face.normal[axis] + corner[0] * face.u[axis] +
                                   corner[1] * face.v[axis]));
        normals.push_back(face.normal[axis]);
      }
      uvs.push_back(0.5f * (corner[0] + 1));
      uvs.push_back(0.5f * (corner[1] + 1));
    }
    for (unsigned i : {0u, 1u, 2u, 0u, 2u, 3u}) faces.push_back(first + i);
  }

  std::ofstream out(argv[1]);
  out << "<Mesh>\n  <Base>\n"
      << "    <Vertices>" << Join(vertices) << "</Vertices>\n"
      << "    <Normals>" << Join(normals) << "</Normals>\n"
      << "    <UV1>" << Join(uvs) << "</UV1>\n"
      << "    <Faces>" << Join(faces) << "</Faces>\n"
      << "  </Base>\n</Mesh>\n";
  if (!out) {
    std::cerr << argv[1] << ": cannot write the mesh\n";
    return 1;
  }
  std::cout << argv[1] << ": " << vertices.size() / 3 << " vertices, " << faces.size() / 3
            << " triangles\n";
  return 0;
}
