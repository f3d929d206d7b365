// The control panel: where its rows sit, buttons that take effect in the
// frame they are pressed, the depth pre-pass it forces, and the lighting
// presets applied to the shipped level (including a level that lacks some of
// the named Things, which must be told once and skipped).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Scene.h"
#include "gui/WidgetFrames.h"
#include "render/Material.h"
#include "renderer/RenderSettings.h"
#include "renderer/SidePanel.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

int Lines(const std::string& text) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

// Whether a rectangle was queued at exactly pos with size.
bool Queued(glm::vec2 pos, glm::vec2 size) {
  const glm::mat4 wanted = GUI::RectangleMatrix(pos, size);
  for (const DrawEntry& entry : DrawSystem::guidrawthings) {
    if (std::get<2>(entry) == wanted) return true;
  }
  return false;
}

}  // namespace

class SidePanel : public KestorTest::WidgetFrames {
 protected:
  const float H = WindowHeight;
  // Rows from the top are placed by their distance from the top edge.
  glm::vec2 Row(float fromTop) const { return glm::vec2(10.0f, H - fromTop); }
  glm::vec2 Inside(float fromTop) const { return Row(fromTop) + glm::vec2(100.0f, 12.0f); }
  const glm::vec2 RowSize{290.0f, 24.0f};
};

TEST_F(SidePanel, RowsSitWhereTheLayoutPutsThem) {
  LightingSetup->value = 7;  // no preset: nothing to look up
  Frame(glm::vec2(-50.0f, -50.0f));
  RenderSidePanel();
  // The background goes first, under every row.
  EXPECT_EQ(std::get<2>(DrawSystem::guidrawthings.at(0)),
            GUI::RectangleMatrix(glm::vec2(0.0f), glm::vec2(300.0f, H)));
  for (float fromTop : {72.0f, 96.0f, 120.0f, 720.0f, 744.0f, 768.0f, 792.0f}) {
    EXPECT_TRUE(Queued(Row(fromTop), RowSize)) << fromTop;  // may lie below the window
  }
  // The bool rows' toggles sit at the right end of their row.
  for (float fromTop : {168.0f, 192.0f, 216.0f, 264.0f, 312.0f}) {
    EXPECT_TRUE(Queued(Row(fromTop) + glm::vec2(266.0f, 0.0f), glm::vec2(24.0f))) << fromTop;
  }
  for (int i = 0; i < 9; ++i) {
    EXPECT_TRUE(Queued(glm::vec2(276.0f, 24.0f * i), glm::vec2(24.0f))) << i;
  }
}

TEST_F(SidePanel, ButtonsTakeEffectInTheFrameTheyArePressed) {
  LightingSetup->value = 7;
  NoiseStyle->value = 0;
  Frame(Inside(120.0f), {Press()});
  RenderSidePanel();
  EXPECT_EQ(NoiseStyle->value, 2);

  // Pressing "Sunset": the variable changes and the preset is applied in the
  // same frame; with no level loaded that is told once, not every frame.
  KestorTest::CaptureStdout out;
  Frame(Inside(792.0f), {Press()});
  RenderSidePanel();
  EXPECT_EQ(LightingSetup->value, 3);
  Frame(Inside(792.0f));
  RenderSidePanel();
  const std::string text = out.Text();
  EXPECT_EQ(Lines(text), 1) << text;
  EXPECT_NE(text.find("no level is loaded"), std::string::npos) << text;
}

TEST_F(SidePanel, ForwardRenderingForcesTheDepthPrePass) {
  LightingSetup->value = 7;
  DeferredOrForward->value = false;
  DepthPrePass->value = false;
  Frame(glm::vec2(-50.0f));
  RenderSidePanel();
  EXPECT_TRUE(DepthPrePass->value);
  DeferredOrForward->value = true;
  RenderSidePanel();
  EXPECT_FALSE(DepthPrePass->value);
}

// ---------------------------------------------------------------------------
// Presets on the shipped level

class LightingPresets : public KestorTest::GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    KestorTest::CaptureStdout quiet;
    Transform::Attach();
    MeshRenderer::Attach();
    LightField::Attach();
    ISArea::Attach();
    ISContainer::Attach();
    level = std::make_unique<Scene>("StreetTest");
  }
  void TearDown() override {
    level.reset();
    GLTest::TearDown();
  }

  bool HasArea(const std::string& name) const {
    return ComponentHandler<ISArea>::Get(level->Things.at(name)) != nullptr;
  }
  MeshRenderer* Renderer(const std::string& name) const {
    return ComponentHandler<MeshRenderer>::Get(level->Things.at(name));
  }
  float Strength(const std::string& name) const {
    return Renderer(name)->Materials.at(0)->Buffer.Uniforms.at("Strength").FloatValue;
  }
  bool Shown(const std::string& name) const {
    const MeshRenderer* r = Renderer(name);
    EXPECT_TRUE(r->Visible == r->ShadowCast && r->ShadowCast == r->BounceCast) << name;
    return r->Visible;
  }

  std::unique_ptr<Scene> level;
};

TEST_F(LightingPresets, SunsetThenCozyFireThenFullBright) {
  KestorTest::CaptureStdout out;
  ApplyLightingPreset(3);
  EXPECT_FALSE(HasArea("Light1IS"));
  EXPECT_FALSE(HasArea("Light2IS"));
  EXPECT_TRUE(HasArea("Sun"));
  EXPECT_FALSE(HasArea("Window1"));
  EXPECT_FALSE(HasArea("FireIS"));
  EXPECT_EQ(Strength("SunMesh"), 50000.0f);
  EXPECT_EQ(Strength("Light1Mesh"), 0.0f);

  const int windowType = ComponentHandler<ISArea>::Components[level->Things.at("Window2").ID].AreaType;
  ApplyLightingPreset(1);
  for (const char* name : {"Window1", "Window2", "Window3", "FireIS"}) EXPECT_TRUE(HasArea(name)) << name;
  EXPECT_FALSE(HasArea("Sun"));
  EXPECT_TRUE(Shown("Fire"));
  EXPECT_TRUE(Shown("Windows"));
  EXPECT_EQ(Strength("SunMesh"), 0.0f);
  // An area given back keeps the fields it had.
  EXPECT_EQ(ComponentHandler<ISArea>::Get(level->Things.at("Window2"))->AreaType, windowType);

  ApplyLightingPreset(0);
  for (const char* name : {"Window1", "Window2", "Window3", "FireIS"}) EXPECT_FALSE(HasArea(name)) << name;
  for (const char* name : {"Light1IS", "Light2IS", "Sun"}) EXPECT_TRUE(HasArea(name)) << name;
  EXPECT_FALSE(Shown("Fire"));
  EXPECT_FALSE(Shown("Windows"));
  EXPECT_EQ(Strength("Light1Mesh"), 40.0f);
  EXPECT_EQ(Strength("Light2Mesh"), 8.0f);

  ApplyLightingPreset(2);
  EXPECT_EQ(Strength("Light2Mesh"), 8.0f);
  EXPECT_TRUE(HasArea("Light2IS"));
  EXPECT_FALSE(HasArea("Light1IS"));
  EXPECT_EQ(out.Text(), "");

  // Values outside the table touch nothing.
  ApplyLightingPreset(7);
  ApplyLightingPreset(-1);
  EXPECT_TRUE(HasArea("Light2IS"));
  EXPECT_EQ(Strength("Light2Mesh"), 8.0f);
}

TEST_F(LightingPresets, MissingThingsAreToldOnceAndTheRestStillApplies) {
  level->Things.erase("Sun");
  level->Things.erase("Fire");
  const Thing sunMesh = level->Things.at("SunMesh");
  ComponentHandler<MeshRenderer>::HereItsBunk(sunMesh);

  KestorTest::CaptureStdout out;
  for (int frame = 0; frame < 3; ++frame) ApplyLightingPreset(1);
  const std::string text = out.Text();
  EXPECT_EQ(Lines(text), 3) << text;
  EXPECT_NE(text.find("\"Sun\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"Fire\""), std::string::npos) << text;
  EXPECT_NE(text.find("MeshRenderer on \"SunMesh\""), std::string::npos) << text;
  EXPECT_NE(text.find("StreetTest.xml"), std::string::npos) << text;

  EXPECT_TRUE(HasArea("FireIS"));
  EXPECT_TRUE(Shown("Windows"));
  EXPECT_EQ(Strength("Light1Mesh"), 0.0f);
}
