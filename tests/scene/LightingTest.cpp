// Guards the lighting components' level loading (defaults, the light field's
// step factor, the area type's truncation rule, malformed values reported
// and skipped), their registration, and the shipped street loaded with the
// real scene components.
#include <gtest/gtest.h>

#include <glm/gtx/string_cast.hpp>

#include "engine/File.h"
#include "scene/LevelFixture.h"
#include "scene/Lighting.h"
#include "scene/Transform.h"

using namespace KestorEngine;

namespace {

class LightingLevel : public KestorTest::LevelTest {
 protected:
  void SetUp() override {
    LevelTest::SetUp();
    KestorTest::CaptureStdout quiet;
    LightField::Attach();
    ISArea::Attach();
    ISContainer::Attach();
    Sky::Attach();
  }
};

// Stand-in for the mesh renderer, which this suite does not build.
struct AnyMeshRenderer : Component {
  static Component* AddMe(Thing t) { return AddComponent<AnyMeshRenderer>(t); }
};

}  // namespace

TEST_F(LightingLevel, RegistrationLeavesLightUnnamed) {
  auto scene = Load(R"(<Thing Name="A"><Light/><ISContainer/></Thing>)");
  auto problems = Problems(*scene);
  ASSERT_EQ(problems.size(), 1u) << output;
  EXPECT_NE(problems[0].find("Light of Thing \"A\": not a registered component type"), std::string::npos);
  EXPECT_NE(Of<ISContainer>(*scene, "A"), nullptr);

  KestorTest::CaptureStdout quiet;
  Light::Attach();
  EXPECT_EQ(GimmooString.count("Light"), 1u);
}

TEST_F(LightingLevel, LightFieldResolutionAndItsLevelStepFactor) {
  auto scene = Load(R"(<Thing Name="Box"><LightField Resolution="64, 64,64"/></Thing>)");
  EXPECT_EQ(scene->ProblemCount(), 0) << output;
  LightField* field = Of<LightField>(*scene, "Box");
  EXPECT_EQ(field->Resolution, glm::vec3(64));
  EXPECT_EQ(field->RayStepFactor, 1.0f);
  EXPECT_EQ(field->InvTexSizeBias, 1.2f);
  EXPECT_EQ(field->RayStepMultiplier, 32.0f);
  EXPECT_EQ(field->RayStepMax, 20.0f);
  EXPECT_EQ(field->Volume, nullptr);

  EXPECT_EQ(LightField().RayStepFactor, 2.0f) << "one added by code keeps its default";
}

TEST_F(LightingLevel, UnusableResolutionsAreReportedAndLeftAlone) {
  for (const char* bad : {"64,64", "64,x,64", "0,64,64", "64,-8,64", "nan,64,64", "64,64,inf", ""}) {
    SCOPED_TRACE(bad);
    auto scene = Load(std::string(R"(<Thing Name="Box"><LightField Resolution=")") + bad + "\"/></Thing>");
    LightField* field = Of<LightField>(*scene, "Box");
    EXPECT_EQ(field->Resolution, glm::vec3(0));
    EXPECT_EQ(field->RayStepFactor, 1.0f);
    ASSERT_EQ(Problems(*scene).size(), 1u) << output;
    EXPECT_NE(Problems(*scene)[0].find("\"Resolution\""), std::string::npos);
  }
}

TEST_F(LightingLevel, AreaTypeIsTruncatedAndOnlyTwoCounts) {
  struct Case {
    const char* type;
    int32_t expected;
    int problems = 0;
  };
  for (Case c : {Case{"2", 1}, Case{"2.9", 1}, Case{"1", 0}, Case{"0", 0}, Case{"3", 0}, Case{"-2.5", 0},
                 Case{"1e30", 0, 1}, Case{"-1e30", 0, 1}}) {
    SCOPED_TRACE(c.type);
    auto scene = Load(std::string(R"(<Thing Name="A"><ISArea Type=")") + c.type + R"(" Samples="4"/></Thing>)");
    EXPECT_EQ(scene->ProblemCount(), c.problems) << output;
    EXPECT_EQ(Of<ISArea>(*scene, "A")->AreaType, c.expected);
    EXPECT_EQ(Of<ISArea>(*scene, "A")->Samples, 4.0f);
  }
  // Both elements load into one component: a later type 1 does not reset it.
  auto scene = Load(R"(<Thing Name="A"><ISArea Type="2" Samples="4"/><ISArea Type="1" Samples="6"/></Thing>)");
  EXPECT_EQ(Of<ISArea>(*scene, "A")->AreaType, 1);
}

TEST_F(LightingLevel, MissingOrBadAreaNumbersAreReportedAndSkipped) {
  auto scene = Load(R"(<Thing Name="A"><ISArea Type="2"/></Thing>
    <Thing Name="B"><ISArea Type="two" Samples="many"/></Thing>)");
  EXPECT_EQ(Of<ISArea>(*scene, "A")->AreaType, 1);
  EXPECT_EQ(Of<ISArea>(*scene, "A")->Samples, 10.0f);
  EXPECT_EQ(Of<ISArea>(*scene, "B")->AreaType, 0);
  EXPECT_EQ(Of<ISArea>(*scene, "B")->Samples, 10.0f);
  auto problems = Problems(*scene);
  ASSERT_EQ(problems.size(), 3u) << output;
  EXPECT_NE(problems[0].find("ISArea of Thing \"A\": \"Samples\" is missing"), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find("\"Type\" is not a number: \"two\""), std::string::npos) << problems[1];
  EXPECT_NE(problems[2].find("\"Samples\" is not a number: \"many\""), std::string::npos) << problems[2];
}

TEST_F(LightingLevel, ShippedStreetLoadsWithTheRealComponents) {
  File::AssetsPath = shippedAssets;
  {
    KestorTest::CaptureStdout quiet;
    Transform::Attach();
  }
  RegisterComponentType<AnyMeshRenderer>("MeshRenderer");
  KestorTest::CaptureStdout out;
  Scene scene("StreetTest");
  EXPECT_EQ(scene.ProblemCount(), 0) << out.Text();

  LightField* volume = ComponentHandler<LightField>::Get(scene.Things.at("LightVolume"));
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(volume->Resolution, glm::vec3(64, 64, 32));
  ISArea* window = ComponentHandler<ISArea>::Get(scene.Things.at("Window1"));
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->AreaType, 1);

  // Window1 hangs under the left house at (-4.5, 0, 0).
  Transform* t = ComponentHandler<Transform>::Get(scene.Things.at("Window1"));
  TransformSystem::TraverseTransforms(t);
  glm::vec3 at(t->World[3]);
  EXPECT_NEAR(at.x, -3.288f, 1e-5f);  // on the glass, just off the wall
  EXPECT_NEAR(at.y, -3.0f, 1e-5f);
  EXPECT_NEAR(at.z, 1.4f, 1e-5f);
}

TEST_F(LightingLevel, ASkyTakesWhatTheLevelGivesAndKeepsTheRest) {
  auto scene = Load(R"(<Thing Name="Sky"><Sky ZenithColor="0.1,0.2,0.3" SunDirection="0,3,4" SunStrength="25000"
                         SunAngle="1"/></Thing>)");
  EXPECT_EQ(scene->ProblemCount(), 0) << output;
  const Sky* sky = Of<Sky>(*scene, "Sky");
  EXPECT_EQ(sky->ZenithColor, glm::vec3(0.1f, 0.2f, 0.3f));
  EXPECT_EQ(sky->HorizonColor, glm::vec3(0.0f)) << "absent: black";
  EXPECT_EQ(sky->SkyStrength, 1.0f);
  EXPECT_EQ(sky->SunDirection, glm::vec3(0.0f, 3.0f, 4.0f));
  EXPECT_EQ(sky->SunStrength, 25000.0f);
  // A disc one degree across: 2 pi (1 - cos 0.5 degree) steradians.
  EXPECT_NEAR(sky->SunSolidAngle(), 2.392e-4f, 1e-6f);
  EXPECT_NEAR(sky->SunIrradiance().x, 25000.0f * 2.392e-4f, 0.05f);
  EXPECT_EQ(sky->Radiance({0.0f, 0.0f, 2.0f}), glm::vec3(0.1f, 0.2f, 0.3f)) << "straight up: the zenith";
  EXPECT_EQ(sky->Radiance({1.0f, 0.0f, 0.0f}), glm::vec3(0.0f)) << "level: the horizon";

  for (const char* bad : {R"(SunDirection="0,0,0")", R"(SunStrength="bright")", R"(ZenithColor="1,2")",
                          R"(SkyStrength="nan")", R"(SunStrength="-1")", R"(ZenithColor="0.3,inf,1")",
                          R"(SunColor="1,-0.5,1")", R"(SunDirection="nan,0,1")", R"(SunAngle="200")"}) {
    SCOPED_TRACE(bad);
    auto broken = Load(std::string(R"(<Thing Name="Sky"><Sky )") + bad + "/></Thing>");
    ASSERT_EQ(Problems(*broken).size(), 1u) << output;
    const Sky* kept = Of<Sky>(*broken, "Sky");
    const Sky fresh;
    EXPECT_TRUE(kept->ZenithColor == fresh.ZenithColor && kept->SunColor == fresh.SunColor &&
                kept->SkyStrength == fresh.SkyStrength && kept->SunStrength == fresh.SunStrength &&
                kept->SunDirection == fresh.SunDirection && kept->SunAngle == fresh.SunAngle)
        << "the bad value is left out";
  }
}
