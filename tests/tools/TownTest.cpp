// Guards the town level: the shipped level and meshes are what the
// generator makes now from the shipped street, the town is as large as it
// promises, and no house stands in another, on a lane or on the square.
#include "Town.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include <glm/common.hpp>
#include <glm/vector_relational.hpp>

#include "engine/File.h"

using namespace KestorTools;

namespace {

std::string Shipped(const std::string& folder, const std::string& file) {
  std::ifstream in(KestorEngine::File::AssetsPath + folder + KestorEngine::File::PathSeparator + file);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Box2 {
  glm::vec2 Lo, Hi;
  bool Meets(const Box2& o) const {
    return glm::all(glm::lessThan(Lo, o.Hi)) && glm::all(glm::lessThan(o.Lo, Hi));
  }
};

Box2 Footprint(const MeshLists& m, size_t first, size_t count) {
  Box2 b{glm::vec2(1e30f), glm::vec2(-1e30f)};
  for (size_t i = first; i < first + count; ++i) {
    const glm::vec2 p(m.Vertices[3 * i], m.Vertices[3 * i + 1]);
    b.Lo = glm::min(b.Lo, p);
    b.Hi = glm::max(b.Hi, p);
  }
  return b;
}

const MeshLists& Built(const std::vector<NamedMesh>& list, const std::string& name) {
  static std::vector<std::pair<std::string, MeshLists>> made;
  for (const auto& [n, m] : made) {
    if (n == name) return m;
  }
  for (const NamedMesh& named : list) {
    if (named.Name == name) return made.emplace_back(name, named.Build()).second;
  }
  ADD_FAILURE() << "no mesh " << name;
  static MeshLists none;
  return none;
}

}  // namespace

TEST(Town, ShippedLevelAndMeshesMatchTheGenerator) {
  std::string problem;
  EXPECT_TRUE(Shipped("Levels", "Town.xml") == TownLevelText(Shipped("Levels", "StreetTest.xml"), problem))
      << "Town.xml differs from the generator's output; run MakeTown CompiledAssets " << problem;
  for (const NamedMesh& named : TownMeshes()) {
    EXPECT_TRUE(Shipped("Meshes", named.Name + ".fml") == FmlText(named.Build()))
        << named.Name << ".fml differs from the generator's output; run MakeTown CompiledAssets";
  }
  EXPECT_EQ(TownLevelText("<Level/>", problem), "");
  EXPECT_EQ(problem, "the street level has no Things");
}

TEST(Town, HousesStandApartOffTheLanesAndTheSquareOverAtLeast150Metres) {
  std::vector<Box2> houses;
  Box2 town{glm::vec2(1e30f), glm::vec2(-1e30f)};
  for (const TownHouse& h : TownHouses()) {
    const MeshLists& mesh = Built(StreetMeshes(), h.Mesh);
    Box2 local = Footprint(mesh, 0, mesh.Vertices.size() / 3);
    if (h.Turned) local = {-local.Hi, -local.Lo};
    const glm::vec2 at(h.Position);
    houses.push_back({local.Lo + at, local.Hi + at});
    town.Lo = glm::min(town.Lo, houses.back().Lo);
    town.Hi = glm::max(town.Hi, houses.back().Hi);
  }
  EXPECT_GE(houses.size(), 80u);
  EXPECT_GE(town.Hi.x - town.Lo.x, 130.0f);
  EXPECT_GE(TownHalfWidth * 2.0f, 150.0f);
  EXPECT_GE(town.Hi.y - town.Lo.y, 150.0f);
  for (size_t i = 0; i < houses.size(); ++i) {
    for (size_t j = 0; j < i; ++j) EXPECT_FALSE(houses[i].Meets(houses[j])) << i << " and " << j;
  }
  for (const char* ground : {"TownLanes", "TownSquare"}) {
    const MeshLists& mesh = Built(TownMeshes(), ground);
    for (size_t t = 0; t + 2 < mesh.Faces.size(); t += 3) {
      Box2 tri{glm::vec2(1e30f), glm::vec2(-1e30f)};
      for (size_t k = 0; k < 3; ++k) {
        const Box2 v = Footprint(mesh, mesh.Faces[t + k], 1);
        tri.Lo = glm::min(tri.Lo, v.Lo);
        tri.Hi = glm::max(tri.Hi, v.Hi);
      }
      for (size_t i = 0; i < houses.size(); ++i) {
        EXPECT_FALSE(houses[i].Meets(tri)) << ground << " triangle " << t / 3 << " under house " << i;
      }
    }
  }
}
