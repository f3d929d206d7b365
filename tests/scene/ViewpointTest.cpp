// Guards the level's camera wish: its keys, and bad angles reported and left
// out rather than turning the camera upside down.
#include <gtest/gtest.h>

#include "LevelFixture.h"
#include "scene/Viewpoint.h"

using namespace KestorEngine;

namespace {

class ViewpointLevel : public KestorTest::LevelTest {
 protected:
  void SetUp() override {
    LevelTest::SetUp();
    Viewpoint::Attach();
  }
};

}  // namespace

TEST_F(ViewpointLevel, KeysAndBadAngles) {
  struct Case {
    const char* attributes;
    glm::vec3 position;
    float yaw, pitch, fov;
    size_t problems;
  };
  const Case cases[] = {
      {R"(Position="1,2,3" Yaw="90" Pitch="-10" FieldOfView="40")", {1, 2, 3}, 90, -10, 40, 0},
      {R"(Position="1,2,3" Yaw="0" Pitch="0")", {1, 2, 3}, 0, 0, 0, 0},  // the camera keeps its own view angle
      {R"(Position="1,2,3" Yaw="0" Pitch="95" FieldOfView="0")", {1, 2, 3}, 0, 0, 0, 2},
      {R"(Position="1,2" Yaw="x" Pitch="5" FieldOfView="200")", {0, 0, 0}, 0, 5, 0, 3},
      // Not a number, infinite, or a view too narrow to draw: left out, each said.
      {R"(Position="nan,0,0" Yaw="inf" Pitch="nan" FieldOfView="1e-30")", {0, 0, 0}, 0, 0, 0, 4},
      {R"(Position="1,2,3" Yaw="-1e38" Pitch="0" FieldOfView="179.5")", {1, 2, 3}, 0, 0, 0, 2},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "View" + std::to_string(n++);
    auto scene = Load("<Thing Name=\"" + name + "\"><Viewpoint " + c.attributes + "/></Thing>");
    const Viewpoint* view = Of<Viewpoint>(*scene, name);
    ASSERT_NE(view, nullptr) << c.attributes;
    EXPECT_EQ(view->Position, c.position) << c.attributes;
    EXPECT_EQ(view->Yaw, c.yaw) << c.attributes;
    EXPECT_EQ(view->Pitch, c.pitch) << c.attributes;
    EXPECT_EQ(view->FieldOfView, c.fov) << c.attributes;
    EXPECT_EQ(Problems(*scene).size(), c.problems) << c.attributes << "\n" << output;
  }
}
