// The control panel: rows that never overlap at any window height, buttons
// that take effect in the frame they are pressed, the depth pre-pass it
// forces, and the lighting presets applied to the shipped level (including a level that lacks some of
// the named Things, which must be told once and skipped).
#include <gtest/gtest.h>

#include <iterator>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Scene.h"
#include "gui/WidgetFrames.h"
#include "render/Material.h"
#include "renderer/DemoComposition.h"
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
  // The row of that kind and index in the layout of this window.
  PanelRow Row(PanelRow::Kind what, int index) const {
    for (const PanelRow& row : SidePanelLayout(H).Rows) {
      if (row.What == what && row.Index == index) return row;
    }
    ADD_FAILURE() << "no such row";
    return {};
  }
  glm::vec2 Inside(const PanelRow& row) const { return row.Pos + glm::vec2(100.0f, 12.0f); }
};

static bool Overlap(glm::vec2 aPos, glm::vec2 aSize, glm::vec2 bPos, glm::vec2 bSize) {
  return aPos.x < bPos.x + bSize.x && bPos.x < aPos.x + aSize.x && aPos.y < bPos.y + bSize.y &&
         bPos.y < aPos.y + aSize.y;
}

TEST(SidePanelLayout, NoRowsOverlapAndEveryPresetIsInsideTheWindow) {
  for (int height = 360; height <= 1400; ++height) {
    const float H = static_cast<float>(height);
    const PanelLayout layout = SidePanelLayout(H);
    const bool boxed = layout.HelpBoxSize.y > 0.0f;
    int presets = 0;
    for (size_t i = 0; i < layout.Rows.size(); ++i) {
      const PanelRow& a = layout.Rows[i];
      const bool inBox = a.What == PanelRow::Kind::Help && boxed;
      const glm::vec2 areaPos = inBox ? layout.HelpBoxPos : glm::vec2(0.0f);
      const glm::vec2 areaSize = inBox ? layout.HelpBoxSize : glm::vec2(layout.Width, H);
      ASSERT_TRUE(a.Pos.x >= areaPos.x && a.Pos.y >= areaPos.y && a.Pos.x + a.Size.x <= areaPos.x + areaSize.x &&
                  a.Pos.y + a.Size.y <= areaPos.y + areaSize.y)
          << height << " px: row " << i << " \"" << a.Text << "\" leaves its area";
      for (size_t j = i + 1; j < layout.Rows.size(); ++j) {
        const PanelRow& b = layout.Rows[j];
        ASSERT_FALSE(Overlap(a.Pos, a.Size, b.Pos, b.Size)) << height << " px: rows " << i << " and " << j;
      }
      if (a.What == PanelRow::Kind::Preset) ++presets;
    }
    EXPECT_EQ(presets, 4) << height;
    EXPECT_EQ(layout.Rows.size(), 34u) << height;
    if (boxed) {
      EXPECT_GE(layout.HelpBoxPos.x, layout.Width) << height;
    }
    if (height >= 600) {
      EXPECT_EQ(layout.Width, 300.0f) << height;
    }
  }
  // The three sizes people run at: the default window keeps the help beside
  // the panel, a full-HD one keeps the original rows.
  EXPECT_GT(SidePanelLayout(720).HelpBoxSize.y, 0.0f);
  EXPECT_GT(SidePanelLayout(768).HelpBoxSize.y, 0.0f);
  EXPECT_EQ(SidePanelLayout(900).HelpBoxSize.y, 0.0f);
  const PanelLayout tall = SidePanelLayout(1080);
  const float fromTop[] = {72, 96, 120, 168, 192, 216, 264, 312, 360, 384, 408, 456, 480, 504,
                           528, 552, 576, 624, 648, 672, 720, 744, 768, 792};
  for (size_t i = 0; i < std::size(fromTop); ++i) {
    EXPECT_EQ(tall.Rows.at(i + 1).Pos, glm::vec2(10.0f, 1080.0f - fromTop[i])) << fromTop[i];
  }
  EXPECT_EQ(tall.Rows.at(0).Pos, glm::vec2(10.0f, 1080.0f - 48.0f));  // the blend slider, two rows
}

// The scale rows, the graph and the pass timers never cover a control of
// the panel, its help, the frame rate or each other, down to a 640 x 360
// window; the table shows wherever there is room for it.
TEST(SidePanelLayout, PerformanceWidgetsStayClearOfThePanel) {
  const glm::vec2 table(270.0f, 260.0f);
  const struct {
    glm::vec2 window;
    bool tableShown;
  } cases[] = {{{640, 360}, false},  {{640, 480}, false},   {{800, 600}, false}, {{1024, 768}, true},
               {{1280, 720}, true},  {{1920, 1080}, true},  {{900, 1400}, true}};
  for (const auto& [window, tableShown] : cases) {
    const PanelLayout panel = SidePanelLayout(window.y);
    const PerformanceLayout perf = PerformanceWidgetsLayout(window, panel, table);
    std::vector<std::pair<glm::vec2, glm::vec2>> taken = {{glm::vec2(window.x - 100.0f, window.y - 48.0f),
                                                           glm::vec2(100.0f, 48.0f)}};
    for (const PanelRow& row : panel.Rows) taken.emplace_back(row.Pos, row.Size);
    if (panel.HelpBoxSize.y > 0.0f) taken.emplace_back(panel.HelpBoxPos, panel.HelpBoxSize);
    const std::pair<glm::vec2, glm::vec2> widgets[] = {{perf.TargetPos, perf.RowSize},
                                                       {perf.ScalePos, perf.RowSize},
                                                       {perf.AutoPos, perf.AutoSize},
                                                       {perf.GraphPos, perf.GraphSize},
                                                       {perf.TablePos, perf.TableSize}};
    for (const auto& [pos, size] : widgets) {
      if (size.y == 0.0f) continue;
      EXPECT_LE(pos.x + size.x, window.x) << window.x << " x " << window.y;
      for (const auto& [otherPos, otherSize] : taken) {
        EXPECT_FALSE(Overlap(pos, size, otherPos, otherSize))
            << window.x << " x " << window.y << ": widget at " << pos.x << "," << pos.y;
      }
      // The performance widgets do not cover each other either.
      taken.emplace_back(pos, size);
    }
    EXPECT_EQ(perf.TableSize.y > 0.0f, tableShown) << window.x << " x " << window.y;
  }
}

TEST_F(SidePanel, DrawsTheLayoutsRows) {
  LightingSetup->value = 7;  // no preset: nothing to look up
  Frame(glm::vec2(-50.0f, -50.0f));
  RenderSidePanel();
  // The background goes first, under every row.
  EXPECT_EQ(std::get<2>(DrawSystem::guidrawthings.at(0)),
            GUI::RectangleMatrix(glm::vec2(0.0f), glm::vec2(300.0f, H)));
  const PanelLayout layout = SidePanelLayout(H);
  EXPECT_TRUE(Queued(layout.HelpBoxPos, layout.HelpBoxSize));
  for (const PanelRow& row : layout.Rows) {
    if (row.What == PanelRow::Kind::NoiseStyle || row.What == PanelRow::Kind::Preset) {
      EXPECT_TRUE(Queued(row.Pos, row.Size)) << row.Text;
    } else if (row.What == PanelRow::Kind::Variable && row.Size.y == 24.0f) {
      // A toggle at the right end of its row.
      EXPECT_TRUE(Queued(row.Pos + glm::vec2(266.0f, 0.0f), glm::vec2(24.0f))) << row.Variable->name;
    }
  }
}

TEST_F(SidePanel, ButtonsTakeEffectInTheFrameTheyArePressed) {
  LightingSetup->value = 7;
  NoiseStyle->value = 0;
  Frame(Inside(Row(PanelRow::Kind::NoiseStyle, 2)), {Press()});
  RenderSidePanel();
  EXPECT_EQ(NoiseStyle->value, 2);

  // Pressing "Sunset": the variable changes and the preset is applied in the
  // same frame; with no level loaded that is told once, not every frame.
  KestorTest::CaptureStdout out;
  const PanelRow sunset = Row(PanelRow::Kind::Preset, 3);
  Frame(Inside(sunset), {Press()});
  RenderSidePanel();
  EXPECT_EQ(LightingSetup->value, 3);
  Frame(Inside(sunset));
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
    RegisterLevelComponents();
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
  level->Things.erase("Sky");
  const Thing sunMesh = level->Things.at("SunMesh");
  ComponentHandler<MeshRenderer>::HereItsBunk(sunMesh);

  KestorTest::CaptureStdout out;
  for (int frame = 0; frame < 3; ++frame) ApplyLightingPreset(1);
  const std::string text = out.Text();
  EXPECT_EQ(Lines(text), 4) << text;
  EXPECT_NE(text.find("need a Sky"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Sun\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"Fire\""), std::string::npos) << text;
  EXPECT_NE(text.find("MeshRenderer on \"SunMesh\""), std::string::npos) << text;
  EXPECT_NE(text.find("StreetTest.xml"), std::string::npos) << text;

  EXPECT_TRUE(HasArea("FireIS"));
  EXPECT_TRUE(Shown("Windows"));
  EXPECT_EQ(Strength("Light1Mesh"), 0.0f);
}
