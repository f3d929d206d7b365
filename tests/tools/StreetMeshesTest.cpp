// Guards the street meshes: the shipped files are what the generator makes
// now (so a change to the generator is not forgotten in the assets), they
// read back through the engine's mesh reader, and every triangle faces the
// way its normals say, since the renderer draws without culling and lights
// by those normals.
#include "StreetMeshes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include <glm/geometric.hpp>

#include "engine/File.h"
#include "render/MeshData.h"
#include "support/TestFiles.h"

using namespace KestorTools;

namespace {

std::string ShippedPath(const std::string& name) {
  return KestorEngine::File::AssetsPath + "Meshes" + KestorEngine::File::PathSeparator + name + ".fml";
}

TEST(StreetMeshes, ShippedFilesMatchTheGenerator) {
  for (const NamedMesh& named : StreetMeshes()) {
    std::ifstream in(ShippedPath(named.Name));
    std::ostringstream shipped;
    shipped << in.rdbuf();
    EXPECT_TRUE(shipped.str() == FmlText(named.Build()))
        << named.Name << ".fml differs from the generator's output; run MakeStreetMeshes";
  }
}

TEST(StreetMeshes, ReadBackWhole) {
  for (const NamedMesh& named : StreetMeshes()) {
    const MeshLists built = named.Build();
    KestorEngine::MeshLists read;
    KestorTest::CaptureStdout quiet;
    ASSERT_TRUE(KestorEngine::ReadMeshFile(ShippedPath(named.Name), read)) << named.Name;
    EXPECT_TRUE(read.HasNormals) << named.Name;
    EXPECT_EQ(read.Vertices.size(), built.Vertices.size()) << named.Name;
    EXPECT_EQ(read.Faces, built.Faces) << named.Name;
    EXPECT_EQ(read.SubmeshSizes, built.SubmeshSizes) << named.Name;
    EXPECT_EQ(CountWindingFaults(built), 0) << named.Name;
    for (size_t i = 0; i + 2 < built.Normals.size(); i += 3) {
      const float length = std::hypot(built.Normals[i], built.Normals[i + 1], built.Normals[i + 2]);
      ASSERT_NEAR(length, 1.0f, 1e-4f) << named.Name << " vertex " << i / 3;
    }
  }
}

TEST(MeshBuilder, SolidsFaceOutward) {
  MeshBuilder m;
  m.Box(glm::vec3(-1, -2, -3), glm::vec3(1, 2, 3));
  m.Beam(glm::vec3(0, 0, 0), glm::vec3(1, 1, 1), glm::vec3(0, 0, 1), 0.1f, 0.2f);
  m.Sphere(glm::vec3(5, 0, 0), 1.0f, 8, 12);
  m.Cone(glm::vec3(0, 5, 0), 1.0f, 2.0f, 12);
  m.TwoSidedPolygon({glm::vec3(0, 0, 9), glm::vec3(1, 0, 9), glm::vec3(0, 1, 9)}, glm::vec3(0, 0, -1), 0.01f);
  const MeshLists& lists = m.Lists();
  EXPECT_EQ(CountWindingFaults(lists), 0);
  // Box: 6 faces of 2 triangles; every normal points away from its centre.
  for (uint32_t v = 0; v < 24; ++v) {
    const glm::vec3 p(lists.Vertices[3 * v], lists.Vertices[3 * v + 1], lists.Vertices[3 * v + 2]);
    const glm::vec3 n(lists.Normals[3 * v], lists.Normals[3 * v + 1], lists.Normals[3 * v + 2]);
    EXPECT_GT(glm::dot(p, n), 0.0f) << "box vertex " << v;
  }
  // A triangle wound against its normals is caught.
  MeshLists flipped = lists;
  std::swap(flipped.Faces[0], flipped.Faces[1]);
  EXPECT_EQ(CountWindingFaults(flipped), 1);
}

}  // namespace
