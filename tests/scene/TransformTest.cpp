// Guards the transform pass: parent order whichever way the list runs, past
// matrices lagging one pass (parents included), inverses that stay true to
// the world matrix, list upkeep on add and remove, refused parent cycles, and
// loading transforms from levels.
#include <gtest/gtest.h>

#include <cmath>
#include <glm/gtc/matrix_access.hpp>
#include <glm/gtc/quaternion.hpp>
#include <glm/gtx/string_cast.hpp>

#include "engine/Engine.h"
#include "scene/LevelFixture.h"
#include "scene/Transform.h"
#include "support/EngineStatics.h"

using namespace KestorEngine;

namespace {

::testing::AssertionResult Near(const glm::mat4& a, const glm::mat4& b, float tolerance = 1e-5f) {
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      if (!(std::fabs(a[c][r] - b[c][r]) <= tolerance)) {
        return ::testing::AssertionFailure() << glm::to_string(a) << "\n  differs at [" << c << "][" << r
                                             << "] from\n" << glm::to_string(b);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Near(glm::vec3 a, glm::vec3 b, float tolerance = 1e-5f) {
  if (glm::all(glm::lessThanEqual(glm::abs(a - b), glm::vec3(tolerance)))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << glm::to_string(a) << " vs " << glm::to_string(b);
}

glm::quat AboutZ(float radians) { return glm::angleAxis(radians, glm::vec3(0, 0, 1)); }

class TransformPass : public ::testing::Test {
 protected:
  void SetUp() override {
    KestorTest::ForgetFollowers<Transform>();
    TransformSystem::BasicallyEverything.clear();
    TransformSystem::Attach(&engine);
  }

  Transform* Add(glm::vec3 position, Transform* parent = nullptr) {
    Thing t = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(t);
    Transform* transform = ComponentHandler<Transform>::Get(t);
    transform->Position = position;
    transform->Parent = parent;
    return transform;
  }
  void Pass() { TransformSystem::MAKETHEMATERIALREALITY(&engine); }

  KestorEngineFlyHahaJk engine;
};

}  // namespace

TEST_F(TransformPass, ScaleRotateTranslateAndTheAffineInverse) {
  Transform* t = Add({1, 2, 3});
  t->Scale = glm::vec3(2);
  Pass();
  EXPECT_TRUE(Near(t->World, glm::mat4(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1)));
  EXPECT_TRUE(Near(t->WorldInverse, glm::mat4(0.5, 0, 0, 0, 0, 0.5, 0, 0, 0, 0, 0.5, 0, -0.5, -1, -1.5, 1)));

  // Scale acts first, then rotation: a point one unit along local X, scaled
  // by 2 and turned 90 degrees about Z, lands 2 units along world Y.
  t->Rotation = AboutZ(glm::half_pi<float>());
  Pass();
  EXPECT_TRUE(Near(glm::vec3(t->World * glm::vec4(1, 0, 0, 1)), glm::vec3(1, 4, 3)));
}

TEST_F(TransformPass, ChildrenFollowParentsWhicheverComesFirstInTheList) {
  // Listed child first: the pass must still compute the parent before it.
  Transform* early = Add({1, 0, 0});
  Transform* parent = Add({0, 5, 0});
  Transform* late = Add({1, 0, 0});
  Transform* grandchild = Add({0, 0, 2}, late);
  early->Parent = parent;
  late->Parent = parent;
  parent->Rotation = AboutZ(glm::half_pi<float>());
  Pass();

  EXPECT_TRUE(Near(glm::vec3(early->World[3]), glm::vec3(0, 6, 0)));
  EXPECT_TRUE(Near(glm::vec3(late->World[3]), glm::vec3(0, 6, 0)));
  EXPECT_TRUE(Near(glm::vec3(grandchild->World[3]), glm::vec3(0, 6, 2)));

  // A moved parent shows in the children in the same pass.
  parent->Position = glm::vec3(10, 0, 0);
  Pass();
  EXPECT_TRUE(Near(glm::vec3(early->World[3]), glm::vec3(10, 1, 0)));
  EXPECT_TRUE(Near(glm::vec3(grandchild->World[3]), glm::vec3(10, 1, 2)));
}

TEST_F(TransformPass, PastMatricesLagOnePassForLeavesAndSharedParentsAlike) {
  Transform* child = Add({1, 0, 0});
  Transform* parent = Add({0, 0, 0});
  Transform* sibling = Add({0, 1, 0}, parent);
  child->Parent = parent;

  Pass();
  glm::mat4 parentBefore = parent->World;
  glm::mat4 childBefore = child->World;
  glm::mat4 childInverseBefore = child->WorldInverse;
  Pass();
  // Unmoved: past equals current.
  EXPECT_EQ(parent->WorldPast, parent->World);
  EXPECT_EQ(child->WorldInversePast, child->WorldInverse);

  parent->Position = glm::vec3(0, 0, 4);
  Pass();
  // The parent is reached three times (through two children and as a listed
  // transform); it must still keep the previous pass's matrix, or motion
  // vectors of moving parents would read as still.
  EXPECT_EQ(parent->WorldPast, parentBefore);
  EXPECT_EQ(child->WorldPast, childBefore);
  EXPECT_EQ(child->WorldInversePast, childInverseBefore);
  EXPECT_TRUE(Near(glm::vec3(sibling->World[3]), glm::vec3(0, 1, 4)));
  EXPECT_TRUE(Near(glm::vec3(child->WorldPast[3]), glm::vec3(1, 0, 0)));

  Pass();
  EXPECT_TRUE(Near(glm::vec3(child->WorldPast[3]), glm::vec3(1, 0, 4)));
}

TEST_F(TransformPass, InverseUndoesWorldThroughRotationNonUniformScaleAndParents) {
  Transform* root = Add({3, -2, 7});
  root->Rotation = glm::normalize(glm::quat(0.8f, 0.3f, -0.4f, 0.2f));
  root->Scale = glm::vec3(2, 0.5f, 3);
  Transform* child = Add({-1, 4, 0.5f}, root);
  child->Rotation = AboutZ(0.7f) * glm::angleAxis(1.1f, glm::vec3(1, 0, 0));
  child->Scale = glm::vec3(0.25f, 4, 1);
  Pass();
  for (Transform* t : {root, child}) {
    EXPECT_TRUE(Near(t->World * t->WorldInverse, glm::mat4(1.0f), 1e-4f));
    EXPECT_TRUE(Near(t->WorldInverse * t->World, glm::mat4(1.0f), 1e-4f));
    EXPECT_EQ(glm::vec4(glm::row(t->WorldInverse, 3)), glm::vec4(0, 0, 0, 1));
  }
}

TEST_F(TransformPass, ZeroScaleKeepsTheLastInverseInsteadOfNaN) {
  Transform* t = Add({1, 2, 3});
  Pass();
  glm::mat4 good = t->WorldInverse;
  t->Scale = glm::vec3(1, 0, 1);
  Pass();
  EXPECT_EQ(t->WorldInverse, good);
  EXPECT_EQ(t->WorldInversePast, good);
  t->Scale = glm::vec3(1);
  t->Position = glm::vec3(0);
  Pass();
  EXPECT_TRUE(Near(t->WorldInverse, glm::mat4(1.0f)));
}

TEST_F(TransformPass, ListFollowsAddsAndRemovesAndSkipsStaleEntries) {
  Thing a = Thing::Gimme();
  Thing b = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(a);
  ComponentHandler<Transform>::Gimmoo(b);
  ComponentHandler<Transform>::Gimmoo(a);  // listed twice
  ASSERT_EQ(TransformSystem::BasicallyEverything, (std::vector<Thing>{a, b, a}));

  Transform* ta = ComponentHandler<Transform>::Get(a);
  ta->Position = glm::vec3(1, 0, 0);
  Pass();
  ta->Position = glm::vec3(2, 0, 0);
  Pass();
  EXPECT_EQ(ta->WorldPast[3].x, 1.0f) << "a doubly listed transform is still recomputed once per pass";

  ComponentHandler<Transform>::HereItsBunk(a);
  EXPECT_EQ(TransformSystem::BasicallyEverything, (std::vector<Thing>{b, a}));
  ta->Position = glm::vec3(9, 0, 0);
  Pass();  // the stale entry must be skipped
  EXPECT_EQ(ta->World[3].x, 2.0f);

  // Adding it back restores the old fields; releasing the Thing removes it.
  ComponentHandler<Transform>::Gimmoo(a);
  Pass();
  EXPECT_EQ(ComponentHandler<Transform>::Get(a)->World[3].x, 9.0f);
  Thing::HereItsBunk(b);
  EXPECT_EQ(ComponentHandler<Transform>::Get(b), nullptr);
  EXPECT_EQ(TransformSystem::BasicallyEverything, (std::vector<Thing>{a, a}));
}

TEST_F(TransformPass, ParentCyclesAreRefusedAndNeverHangThePass) {
  Transform* a = Add({1, 0, 0});
  Transform* b = Add({0, 1, 0}, a);
  Transform* c = Add({0, 0, 1}, b);
  EXPECT_FALSE(a->SetParent(c));
  EXPECT_FALSE(a->SetParent(a));
  EXPECT_EQ(a->Parent, nullptr);
  EXPECT_TRUE(c->SetParent(a));

  // Assigned directly the cycle is not checked; the pass must still end.
  a->Parent = c;
  Pass();
  EXPECT_TRUE(std::isfinite(a->World[3].x));
}

// ---------------------------------------------------------------------------
// Loading from levels

namespace {

class TransformLevel : public KestorTest::LevelTest {
 protected:
  void SetUp() override {
    LevelTest::SetUp();
    KestorTest::CaptureStdout quiet;
    Transform::Attach();
  }
};

}  // namespace

TEST_F(TransformLevel, ReadsWFirstRotationAndLinksEarlierParents) {
  auto scene = Load(R"(<Thing Name="Early"><Transform Position="0,0,0" Rotation="1,0,0,0" Scale="1,1,1" Parent="Root"/></Thing>
    <Thing Name="Root"><Transform Position="0,5,0" Rotation="0.70710678,0,0,0.70710678" Scale="2,2,2"/></Thing>
    <Thing Name="Late"><Transform Position="1,0,0" Rotation="1,0,0,0" Scale="1,1,1" Parent="Root"/></Thing>)");
  EXPECT_EQ(scene->ProblemCount(), 0) << output;
  Transform* root = Of<Transform>(*scene, "Root");
  EXPECT_NEAR(root->Rotation.w, 0.70710678f, 1e-6f);
  EXPECT_NEAR(root->Rotation.z, 0.70710678f, 1e-6f);
  EXPECT_EQ(root->Scale, glm::vec3(2));
  EXPECT_EQ(Of<Transform>(*scene, "Early")->Parent, nullptr) << "its parent had no transform yet";
  EXPECT_EQ(Of<Transform>(*scene, "Late")->Parent, root);

  Transform* late = Of<Transform>(*scene, "Late");
  TransformSystem::TraverseTransforms(late);
  EXPECT_TRUE(Near(glm::vec3(late->World[3]), glm::vec3(0, 7, 0)));
}

TEST_F(TransformLevel, MalformedValuesAreReportedAndTheirFieldsKept) {
  auto scene = Load(R"(<Thing Name="A"><Transform Position="1,x,3" Rotation="1,0,0" Scale="3,3,3" Parent="Nobody"/></Thing>
    <Thing Name="Self"><Transform Position="0,0,0" Rotation="1,0,0,0" Scale="1,1,1" Parent="Self"/></Thing>
    <Thing Name="B"><Transform/></Thing>)");
  Transform* a = Of<Transform>(*scene, "A");
  EXPECT_EQ(a->Position, glm::vec3(0));
  EXPECT_EQ(a->Rotation, glm::quat(1, 0, 0, 0));
  EXPECT_EQ(a->Scale, glm::vec3(3));
  EXPECT_EQ(a->Parent, nullptr);
  EXPECT_EQ(Of<Transform>(*scene, "Self")->Parent, nullptr);

  auto problems = Problems(*scene);
  ASSERT_EQ(problems.size(), 7u) << output;
  EXPECT_NE(problems[0].find("\"Position\" is not 3 numbers: \"1,x,3\""), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find("\"Rotation\" is not 4 numbers"), std::string::npos) << problems[1];
  EXPECT_NE(problems[2].find("\"Parent\" names no Thing of this level: \"Nobody\""), std::string::npos);
  EXPECT_NE(problems[3].find("Transform of Thing \"Self\": \"Parent\" \"Self\" would make the transform its own "
                             "ancestor"),
            std::string::npos)
      << problems[3];
  EXPECT_NE(problems[4].find("\"Position\" is missing"), std::string::npos);
}

TEST_F(TransformLevel, ADuplicateNameCannotCloseACycle) {
  // The second "A" element loads into the first Thing, whose transform is
  // then asked to hang under its own child.
  auto scene = Load(R"(<Thing Name="A"><Transform Position="1,0,0" Rotation="1,0,0,0" Scale="1,1,1"/></Thing>
    <Thing Name="B"><Transform Position="0,1,0" Rotation="1,0,0,0" Scale="1,1,1" Parent="A"/></Thing>
    <Thing Name="A"><Transform Position="1,0,0" Rotation="1,0,0,0" Scale="1,1,1" Parent="B"/></Thing>)");
  Transform* a = Of<Transform>(*scene, "A");
  Transform* b = Of<Transform>(*scene, "B");
  EXPECT_EQ(b->Parent, a);
  EXPECT_EQ(a->Parent, nullptr);
  EXPECT_EQ(scene->ProblemCount(), 2) << output;  // the duplicate name and the refused parent
}
