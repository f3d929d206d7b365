#include "renderer/SidePanel.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <glm/vec2.hpp>

#include "engine/Component.h"
#include "engine/Scene.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "renderer/RenderSettings.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"

namespace KestorEngine {

namespace {

constexpr float PanelWidth = 300.0f;
constexpr float RowX = 10.0f;
const glm::vec2 RowSize(290.0f, 24.0f);

struct LightingPreset {
  const char* Label;
  float Light1Strength;
  float Light2Strength;
  float SunStrength;
  bool Light1Area;
  bool Light2Area;
  bool SunArea;
  bool WindowAreas;  // Window1, Window2 and Window3
  bool FireArea;
  bool FireAndWindowsShown;  // Visible, ShadowCast and BounceCast of both
};

// One row per "LightingSetup" value.
const LightingPreset Presets[] = {
    {"Full Bright", 40.0f, 8.0f, 50000.0f, true, true, true, false, false, false},
    {"Cozy Fire", 0.0f, 0.0f, 0.0f, false, false, false, true, true, true},
    {"A Night Read", 0.0f, 8.0f, 0.0f, false, true, false, false, false, false},
    {"Sunset", 0.0f, 0.0f, 50000.0f, false, false, true, false, false, false},
};
constexpr int PresetCount = sizeof(Presets) / sizeof(Presets[0]);

const char* const NoiseLabels[] = {"Sample 1 IS Randomly", "Sample 1 IS Evenly", "Sample All IS"};

// The help text, each line with the blank rows above it.
struct HelpLine {
  const char* Text;
  float Gap;
};
const HelpLine HelpLines[] = {
    {"Hello! You can press P to ", 1},   {"toggle this control panel", 0},
    {"off and move.", 0},                {"The curtain is controlled ", 1},
    {"through hotkeys:", 0},             {"\tC - Create curtain", 0},
    {"\tY - Detach curtain", 0},         {"\tB - Break curtain", 0},
    {"\tI - Delete curtain", 0},         {"The curtain has a habit", 1},
    {"of being pushed into things", 0},  {"and flying into space...", 0},
};
constexpr int HelpLineCount = sizeof(HelpLines) / sizeof(HelpLines[0]);
// Inner margin of the box the help text moves to.
constexpr float HelpBoxPadding = 8.0f;

// The panel runs every frame, so each problem is told once per run.
void ReportOnce(const std::string& line) {
  static std::set<std::string>* told = new std::set<std::string>();
  if (told->insert(line).second) std::cout << line << std::endl;
}

// The level's Thing of that name; a dud (reported) when it has none.
Thing Find(Scene& level, const std::string& name) {
  auto found = level.Things.find(name);
  if (found == level.Things.end()) {
    ReportOnce(level.Path() + ": lighting presets need a Thing named \"" + name + "\", skipped");
    return Thing::GimmeDud();
  }
  return found->second;
}

MeshRenderer* RendererOf(Scene& level, const std::string& name) {
  Thing t = Find(level, name);
  if (t.IsDud()) return nullptr;
  MeshRenderer* renderer = ComponentHandler<MeshRenderer>::Get(t);
  if (renderer == nullptr) {
    ReportOnce(level.Path() + ": lighting presets need a MeshRenderer on \"" + name + "\", skipped");
  }
  return renderer;
}

void SetStrength(Scene& level, const std::string& name, float value) {
  MeshRenderer* renderer = RendererOf(level, name);
  if (renderer == nullptr) return;
  if (renderer->Materials.empty() || !renderer->Materials[0]) {
    ReportOnce(level.Path() + ": lighting presets need a material on \"" + name + "\", skipped");
    return;
  }
  renderer->Materials[0]->Buffer.SetFloat("Strength", value);
}

void SetArea(Scene& level, const std::string& name, bool present) {
  Thing t = Find(level, name);
  if (t.IsDud()) return;
  const bool has = ComponentHandler<ISArea>::Get(t) != nullptr;
  if (present && !has) ComponentHandler<ISArea>::Gimmoo(t);
  if (!present && has) ComponentHandler<ISArea>::HereItsBunk(t);
}

void SetShown(Scene& level, const std::string& name, bool shown) {
  MeshRenderer* renderer = RendererOf(level, name);
  if (renderer == nullptr) return;
  renderer->Visible = shown;
  renderer->ShadowCast = shown;
  renderer->BounceCast = shown;
}

}  // namespace

int LightingPresetCount() { return PresetCount; }

void ApplyLightingPreset(int index) {
  if (index < 0 || index >= PresetCount) return;
  if (Scene::ActiveScenes.empty() || Scene::ActiveScenes[0] == nullptr) {
    ReportOnce("Lighting presets: no level is loaded, nothing to light");
    return;
  }
  Scene& level = *Scene::ActiveScenes[0];
  const LightingPreset& preset = Presets[index];
  SetStrength(level, "Light1Mesh", preset.Light1Strength);
  SetArea(level, "Light1IS", preset.Light1Area);
  SetStrength(level, "Light2Mesh", preset.Light2Strength);
  SetArea(level, "Light2IS", preset.Light2Area);
  SetStrength(level, "SunMesh", preset.SunStrength);
  SetArea(level, "Sun", preset.SunArea);
  SetArea(level, "Window1", preset.WindowAreas);
  SetArea(level, "Window2", preset.WindowAreas);
  SetArea(level, "Window3", preset.WindowAreas);
  SetArea(level, "FireIS", preset.FireArea);
  SetShown(level, "Fire", preset.FireAndWindowsShown);
  SetShown(level, "Windows", preset.FireAndWindowsShown);
}

PanelLayout SidePanelLayout(float height) {
  // The column from the top, each row with the blank space above it in the
  // original layout. The blend slider takes two rows so its name reads in
  // full above it; the row under it was blank.
  struct Entry {
    PanelRow Row;
    float Gap;
  };
  std::vector<Entry> column;
  auto add = [&](PanelRow::Kind what, int index, CVarT* variable, std::string text, float rows, float gap) {
    column.push_back({{what, index, variable, std::move(text), glm::vec2(RowX, 0.0f),
                       glm::vec2(RowSize.x, RowSize.y * rows)},
                      gap * RowSize.y});
  };
  using Kind = PanelRow::Kind;
  add(Kind::Variable, 0, TemporalSSExponent, "", 2, 0);
  for (int i = 0; i < 3; ++i) add(Kind::NoiseStyle, i, nullptr, NoiseLabels[i], 1, 0);
  add(Kind::Variable, 0, CastIS, "", 1, 1);
  add(Kind::Variable, 0, CastGI, "", 1, 0);
  add(Kind::Variable, 0, CastSpecular, "", 1, 0);
  add(Kind::Variable, 0, HQReflections, "", 1, 1);
  add(Kind::Variable, 0, VisualizeVoxels, "", 1, 1);
  const size_t firstHelp = column.size();
  for (int i = 0; i < HelpLineCount; ++i) add(Kind::Help, i, nullptr, HelpLines[i].Text, 1, HelpLines[i].Gap);
  const size_t afterHelp = column.size();
  for (int i = 0; i < PresetCount; ++i) add(Kind::Preset, i, nullptr, Presets[i].Label, 1, i == 0 ? 1 : 0);

  CVarT* const fromBottom[] = {UpdateGI,      FinalBlitEn,        TemporalSS,     RaycastScreen, RenderGBuffer,
                               UpdateAcceleration, UpdateVoxelsHQ, UpdateVoxels,   ClearVoxels};
  const float bottomHeight = RowSize.y * static_cast<float>(std::size(fromBottom));
  const float available = height - bottomHeight;

  auto measure = [&](bool withGaps) {
    float total = 0.0f;
    for (const Entry& e : column) total += e.Row.Size.y + (withGaps ? e.Gap : 0.0f);
    return total;
  };

  PanelLayout layout;
  if (measure(false) > available) {
    // Not even the rows themselves fit: the help text goes into a box beside
    // the panel, keeping its own blank lines.
    float y = height - HelpBoxPadding;
    for (size_t i = firstHelp; i < afterHelp; ++i) {
      y -= column[i].Gap + RowSize.y;
      PanelRow row = column[i].Row;
      row.Pos = glm::vec2(PanelWidth + RowX, y);
      layout.Rows.push_back(row);
    }
    layout.HelpBoxPos = glm::vec2(PanelWidth, y - HelpBoxPadding);
    layout.HelpBoxSize = glm::vec2(PanelWidth, height - layout.HelpBoxPos.y);
    column.erase(column.begin() + static_cast<std::ptrdiff_t>(firstHelp),
                 column.begin() + static_cast<std::ptrdiff_t>(afterHelp));
  }
  // Blank rows shrink by one common factor, to whole pixels, as far as the
  // window needs.
  const float gaps = measure(true) - measure(false);
  const float share = gaps > 0.0f ? std::clamp((available - measure(false)) / gaps, 0.0f, 1.0f) : 1.0f;
  float y = height;
  for (Entry& e : column) {
    y -= std::floor(e.Gap * share) + e.Row.Size.y;
    e.Row.Pos.y = y;
    layout.Rows.push_back(e.Row);
  }
  for (size_t i = 0; i < std::size(fromBottom); ++i) {
    layout.Rows.push_back({Kind::Variable, 0, fromBottom[i], "", glm::vec2(RowX, RowSize.y * static_cast<float>(i)),
                           RowSize});
  }
  return layout;
}

void RenderSidePanel() {
  const float H = Shutter::Height();
  GUIStyle* S = &GUI::Default.Click;
  GUIStyle T = *S;
  T.HAlign = GUIStyle::TextHAlign::Left;

  GUI::DrawStyle(glm::vec2(0.0f), glm::vec2(PanelWidth, H), S);
  const PanelLayout layout = SidePanelLayout(H);
  if (layout.HelpBoxSize.y > 0.0f) GUI::DrawStyle(layout.HelpBoxPos, layout.HelpBoxSize, S);

  for (const PanelRow& row : layout.Rows) {
    switch (row.What) {
      case PanelRow::Kind::Variable:
        row.Variable->DrawGUI(row.Pos, row.Size);
        break;
      case PanelRow::Kind::NoiseStyle:
        // Takes effect at once, so the label below already shows the choice.
        if (IMGUI::SelectableButton(row.Pos, row.Size, NoiseStyle->value == row.Index) == 3) {
          NoiseStyle->value = row.Index;
        }
        GUI::DrawText(row.Pos, row.Size, S, row.Text);
        break;
      case PanelRow::Kind::Preset:
        if (IMGUI::SelectableButton(row.Pos, row.Size, LightingSetup->value == row.Index) == 3) {
          LightingSetup->value = row.Index;
        }
        GUI::DrawText(row.Pos, row.Size, S, row.Text);
        break;
      case PanelRow::Kind::Help:
        GUI::DrawText(row.Pos, row.Size, &T, row.Text);
        break;
    }
  }

  // Forward rendering needs the depth pre-pass; deferred does without it.
  DepthPrePass->value = !DeferredOrForward->value;

  ApplyLightingPreset(LightingSetup->value);
}

}  // namespace KestorEngine
