// Guards the mesh file reader and the vertex stream: stride and offsets per
// channel set, vertex counts from odd lists, the clamped bounds, and that
// every malformed file is reported and leaves nothing half read.
#include <gtest/gtest.h>

#include "render/MeshData.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using KestorTest::CaptureStdout;
using KestorTest::TempDir;

namespace {

std::string Fml(const std::string& base) { return "<Mesh><Base>" + base + "</Base></Mesh>"; }

const char* const kTriangle =
    "<Vertices>0,0,0, 1,0,0, 0,1,0</Vertices><Faces>0,1,2</Faces><UV1>0,0,1,0,0,1</UV1>";

class MeshFileTest : public ::testing::Test {
 protected:
  // Reads `text` as a mesh file; on failure checks the one reported line.
  bool Read(const std::string& text, MeshLists& lists, const std::string& expectedProblem = "") {
    std::string path = dir.Write("Mesh.fml", text);
    CaptureStdout out;
    bool ok = ReadMeshFile(path, lists);
    if (!ok) {
      EXPECT_EQ(out.Text().rfind(path + ": ", 0), 0u) << "names the file: " << out.Text();
      EXPECT_NE(out.Text().find(expectedProblem), std::string::npos) << out.Text();
      EXPECT_NE(out.Text().find("the mesh stays empty\n"), std::string::npos);
    }
    return ok;
  }
  TempDir dir;
};

}  // namespace

TEST(MeshVertexStream, InterleavesPositionNormalUVPerVertex) {
  std::vector<float> vertices{1, 2, 3, 4, 5, 6, 7};  // the seventh float is no vertex
  std::vector<float> normals{0, 0, 1, 0, 1, 0};
  std::vector<float> uv{0.5f, 0.25f, 1, 1};
  std::vector<float> stream(99, -1.0f);  // reused storage is rebuilt, not appended to
  InterleaveVertices(MeshVertexLayout(true, true), vertices.size() / 3, vertices, normals, uv,
                     stream);
  EXPECT_EQ(stream, (std::vector<float>{1, 2, 3, 0, 0, 1, 0.5f, 0.25f, 4, 5, 6, 0, 1, 0, 1, 1}));

  InterleaveVertices(MeshVertexLayout(false, true), 2, vertices, normals, uv, stream);
  EXPECT_EQ(stream, (std::vector<float>{1, 2, 3, 0.5f, 0.25f, 4, 5, 6, 1, 1}));
}

TEST(MeshBounds, BoxStartsAtTheTenThousandLimits) {
  glm::vec3 low, high;
  ComputeBounds({20000, 0, 0}, 1, low, high);
  EXPECT_EQ(low, glm::vec3(10000, 0, 0));
  EXPECT_EQ(high, glm::vec3(20000, 0, 0));

  ComputeBounds({-1, 2, 3, 4, -5, 6}, 2, low, high);
  EXPECT_EQ(low, glm::vec3(-1, -5, 3));
  EXPECT_EQ(high, glm::vec3(4, 2, 6));

  ComputeBounds({}, 0, low, high);
  EXPECT_EQ(low, glm::vec3(10000));
  EXPECT_EQ(high, glm::vec3(-10000));
}

// Only a mesh whose every visible triangle fronts the side its normals point
// may lose its back faces to culling.
TEST(MeshSides, BackFacesAreCullableOnlyWhenEveryFrontFollowsItsNormals) {
  const std::vector<float> square = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
  const std::vector<float> up = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
  const std::vector<float> down = {0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1};
  const std::vector<float> few = {0, 0, 1};
  struct Case {
    const char* name;
    std::vector<uint32_t> faces;
    const std::vector<float>& normals;
    bool oneSided;
  } cases[] = {
      {"counter-clockwise seen from the normals' side", {0, 1, 2, 1, 3, 2}, up, true},
      {"fronts away from the normals", {0, 1, 2, 1, 3, 2}, down, false},
      {"one triangle of two turned over", {0, 1, 2, 1, 2, 3}, up, false},
      {"a triangle of no area does not count", {0, 1, 2, 0, 0, 1}, up, true},
      {"no triangles", {}, up, false},
      {"normals shorter than the positions", {0, 1, 2}, few, false},
  };
  for (const Case& c : cases) EXPECT_EQ(FrontsFollowNormals(square, c.faces, c.normals), c.oneSided) << c.name;
}

TEST_F(MeshFileTest, ReadsEveryChannelAndToleratesBlanksBeforeNumbers) {
  MeshLists lists;
  ASSERT_TRUE(Read(Fml(std::string(kTriangle) + "<Normals>0,0,1, 0,0,1, 0,0,1</Normals>"), lists));
  EXPECT_EQ(lists.Vertices, (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}));
  EXPECT_EQ(lists.Faces, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(lists.UV1.size(), 6u);
  EXPECT_TRUE(lists.HasUV1);
  EXPECT_TRUE(lists.HasNormals);

  MeshLists noNormals;
  ASSERT_TRUE(Read(Fml(kTriangle), noNormals));
  EXPECT_FALSE(noNormals.HasNormals);
  EXPECT_TRUE(noNormals.Normals.empty());
}

TEST_F(MeshFileTest, SeveralIndexListsAreSubmeshesInFileOrder) {
  const std::string quad =
      "<Vertices>0,0,0, 1,0,0, 1,1,0, 0,1,0</Vertices><UV1>0,0,1,0,1,1,0,1</UV1>";
  MeshLists lists;
  ASSERT_TRUE(Read(Fml(quad + "<Faces>0,1,2</Faces><Normals>0,0,1,0,0,1,0,0,1,0,0,1</Normals>"
                              "<Faces></Faces><Faces>0,2,3, 2,1,0</Faces>"),
                   lists));
  EXPECT_EQ(lists.Faces, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3, 2, 1, 0}));
  EXPECT_EQ(lists.SubmeshSizes, (std::vector<uint32_t>{3, 0, 6}));
  EXPECT_TRUE(lists.HasNormals);

  // A list that is no whole triangles is named by its line.
  EXPECT_FALSE(Read(Fml(quad + "<Faces>0,1,2</Faces>\n<Faces>0,1</Faces>"), lists,
                    "\"Faces\" (line 2) holds 2 indices, not whole triangles"));
}

TEST_F(MeshFileTest, StructuralProblemsAreReported) {
  MeshLists lists;
  lists.Vertices = {9, 9, 9};
  EXPECT_FALSE(Read("<Mesh><Base>", lists, "cannot read the mesh"));
  EXPECT_FALSE(Read("<Model/>", lists, "no \"Mesh\" element"));
  EXPECT_FALSE(Read("<Mesh/>", lists, "no \"Base\" element in \"Mesh\""));
  EXPECT_FALSE(Read(Fml("<Faces>0,1,2</Faces><UV1>0,0</UV1>"), lists, "no \"Vertices\" element"));
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,0</Vertices><UV1>0,0</UV1>"), lists, "no \"Faces\" element"));
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,0</Vertices><Faces></Faces>"), lists, "no \"UV1\" element"));
  EXPECT_EQ(lists.Vertices, (std::vector<float>{9, 9, 9})) << "a failed read leaves the lists alone";

  CaptureStdout out;
  EXPECT_FALSE(ReadMeshFile(dir.Path() + "/Absent.fml", lists));
  EXPECT_NE(out.Text().find("Absent.fml: cannot read the mesh"), std::string::npos);
}

TEST_F(MeshFileTest, BadNumbersShortChannelsAndStrayIndicesAreRejected) {
  MeshLists lists;
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,zero</Vertices><Faces>0</Faces><UV1>0,0</UV1>"), lists,
                    "\"Vertices\" (line 1) holds a piece that is not a number"));
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,0</Vertices><Faces>-1</Faces><UV1>0,0</UV1>"), lists,
                    "\"Faces\""));
  EXPECT_FALSE(Read(Fml(std::string(kTriangle) + "<Normals>0,0,1</Normals>"), lists,
                    "3 normal floats for 3 vertices"));
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,0,1,1,1</Vertices><Faces>0,1,1</Faces><UV1>0,0,1</UV1>"),
                    lists, "3 texture coordinate floats for 2 vertices"));
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,0,1,1,1</Vertices><Faces>0,1,2</Faces><UV1>0,0,1,1</UV1>"),
                    lists, "face index 2 (entry 2) is past the last of 2 vertices"));
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,0,1,1,1</Vertices><Faces>0,1,1,0</Faces><UV1>0,0,1,1</UV1>"),
                    lists, "\"Faces\" (line 1) holds 4 indices, not whole triangles"));
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,0,1,nan,1</Vertices><Faces>0,1,1</Faces><UV1>0,0,1,1</UV1>"), lists,
                    "vertex float 4 is not a finite number"));
  EXPECT_FALSE(Read(Fml("<Vertices>0,0,0,1,1,1</Vertices><Faces>0,1,1</Faces><UV1>0,0,inf,1</UV1>"), lists,
                    "texture coordinate float 2 is not a finite number"));
}

