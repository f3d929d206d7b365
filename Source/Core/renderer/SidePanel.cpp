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
#include "renderer/FrameGraph.h"
#include "renderer/PassTable.h"
#include "renderer/PassTimers.h"
#include "renderer/RenderSettings.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"

namespace KestorEngine {

namespace {

constexpr float PanelWidth = 300.0f;
constexpr float RowX = 10.0f;
const glm::vec2 RowSize(290.0f, 24.0f);

// The light from outside the light field, in the engine's one unit of
// radiance (see Sky).
struct Outdoors {
  glm::vec3 Zenith, Horizon, Ground;
  float SkyStrength;
  glm::vec3 SunDirection;  // towards the sun
  glm::vec3 SunColor;
  float SunStrength;  // radiance of the disc
};

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
  bool FireShown;     // Visible, ShadowCast and BounceCast of "Fire"
  bool WindowsShown;  // the same of "Windows"
  // Beyond the panel's original switches, what makes a preset look like its
  // name: the sky and the sun, how brightly the lit windows glow (Strength
  // of the first material of "Windows") and the exposure of the picture.
  float WindowGlow;
  Outdoors Sky;
  float Exposure;
};

// The afternoon is the level's own sky and sun: a sun 50 degrees up lights
// the lane from behind the start camera, three times as strong as the sky
// on the open street, so the houses throw clear shadows. The sunset sun stands 7.5
// degrees up, down the lane, so posts, barrels and the brazier throw long
// shadows along it; its light is reddened and the sky dimmer and warm at the
// horizon. Dusk (the fire) and night have no sun and a sky of a few
// hundredths and thousandths of the day's; the longer exposures make the
// lamps, windows and fire carry the picture. The SunMesh strengths and the
// "Sun" area of the original switches stay, but the level draws SunMesh
// nowhere, so they light nothing: the sun is the Sky's.
const Outdoors Afternoon{{0.2f, 0.35f, 0.7f}, {0.6f, 0.62f, 0.65f}, {0.08f, 0.07f, 0.06f}, 0.45f,
                         {0.35f, -0.55f, 0.76f}, {1.0f, 0.9f, 0.78f}, 30000.0f};
const Outdoors Dusk{{0.012f, 0.016f, 0.035f}, {0.03f, 0.022f, 0.02f}, {0.004f, 0.004f, 0.004f}, 2.0f,
                    {0.0f, 0.0f, 1.0f}, {1.0f, 1.0f, 1.0f}, 0.0f};
const Outdoors Night{{0.0015f, 0.002f, 0.005f}, {0.0025f, 0.0025f, 0.004f}, {0.0008f, 0.0008f, 0.0008f}, 0.5f,
                     {0.0f, 0.0f, 1.0f}, {1.0f, 1.0f, 1.0f}, 0.0f};
const Outdoors SunsetSky{{0.05f, 0.07f, 0.15f}, {0.6f, 0.33f, 0.16f}, {0.05f, 0.04f, 0.03f}, 0.6f,
                         {0.22f, -0.966f, 0.13f}, {1.0f, 0.52f, 0.22f}, 50000.0f};

// One row per "LightingSetup" value. Beyond the original switches, "A Night
// Read" shows the lit windows with their areas (night is dark but for the
// lamps and the windows), dimmed so the lamp still rules the ground around
// it.
const LightingPreset Presets[] = {
    {"Full Bright", 40.0f, 8.0f, 50000.0f, true, true, true, false, false, false, false, 0.0f, Afternoon, 1.1f},
    {"Cozy Fire", 0.0f, 0.0f, 0.0f, false, false, false, true, true, true, true, 0.2f, Dusk, 4.0f},
    {"A Night Read", 0.0f, 8.0f, 0.0f, false, true, false, true, false, false, true, 0.08f, Night, 8.0f},
    {"Sunset", 0.0f, 0.0f, 50000.0f, false, false, true, false, false, false, false, 0.0f, SunsetSky, 1.5f},
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
    {"off and fly; F1 lists keys.", 0}, {"The curtain is controlled ", 1},
    {"through hotkeys:", 0},             {"\tC - Create curtain", 0},
    {"\tY - Detach curtain", 0},         {"\tB - Break curtain", 0},
    {"\tI - Delete curtain", 0},         {"The curtain has a habit", 1},
    {"of being pushed into things", 0},  {"and flying into space...", 0},
};
constexpr int HelpLineCount = sizeof(HelpLines) / sizeof(HelpLines[0]);
// Inner margin of the box the help text moves to.
constexpr float HelpBoxPadding = 8.0f;
// The frame rate's two lines at the top of the window.
constexpr float FrameRateRows = 48.0f;
// The frame-time graph beside the panel: its text rows and bars.
constexpr float GraphHeight = 130.0f;

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

// The level's first Sky (Things in name order); presets need one.
void SetOutdoors(Scene& level, const Outdoors& o) {
  Sky* sky = nullptr;
  for (const auto& named : level.Things) {
    sky = ComponentHandler<Sky>::Get(named.second);
    if (sky != nullptr) break;
  }
  if (sky == nullptr) {
    ReportOnce(level.Path() + ": lighting presets need a Sky, sky and sun left as they are");
    return;
  }
  sky->ZenithColor = o.Zenith;
  sky->HorizonColor = o.Horizon;
  sky->GroundColor = o.Ground;
  sky->SkyStrength = o.SkyStrength;
  sky->SunDirection = o.SunDirection;
  sky->SunColor = o.SunColor;
  sky->SunStrength = o.SunStrength;
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
  SetShown(level, "Fire", preset.FireShown);
  SetShown(level, "Windows", preset.WindowsShown);
  SetStrength(level, "Windows", preset.WindowGlow);
  if (PresetsSetTheSky) SetOutdoors(level, preset.Sky);
  Exposure->value = preset.Exposure;
}

namespace {

// The render switches kept at the bottom of the panel, from the bottom up:
// the original column, then any switch of the pass table that no row shows
// (a pass added with a switch of its own gets its toggle there).
template <typename Entries>
std::vector<CVarT*> BottomSwitches(const Entries& column) {
  std::vector<CVarT*> out = {UpdateGI,           FinalBlitEn,    TemporalSS,   RaycastScreen, RenderGBuffer,
                             UpdateAcceleration, UpdateVoxelsHQ, UpdateVoxels, ClearVoxels};
  auto shown = [&](CVarT* v) {
    return std::find(out.begin(), out.end(), v) != out.end() ||
           std::any_of(column.begin(), column.end(), [v](const auto& e) { return e.Row.Variable == v; });
  };
  for (const PassSpec& pass : FrameTable().Passes) {
    for (const PassSwitch& sw : pass.Switches) {
      if (sw.OnPanel && !shown(sw.Var)) out.push_back(sw.Var);
    }
  }
  return out;
}

}  // namespace

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

  const std::vector<CVarT*> fromBottom = BottomSwitches(column);
  const float bottomHeight = RowSize.y * static_cast<float>(std::size(fromBottom));
  const float available = height - bottomHeight;

  auto measure = [&](bool withGaps) {
    float total = 0.0f;
    for (const Entry& e : column) total += e.Row.Size.y + (withGaps ? e.Gap : 0.0f);
    return total;
  };

  PanelLayout layout;
  layout.Width = PanelWidth;
  float withoutHelp = measure(false);
  for (size_t i = firstHelp; i < afterHelp; ++i) withoutHelp -= column[i].Row.Size.y;
  // In a short window (a 640 x 360 capture) the switches kept at the bottom
  // would run into the column above them: they open a second column instead,
  // and the help box moves beside that.
  const bool twoColumns = withoutHelp > available;
  const float bottomX = twoColumns ? PanelWidth + RowX : RowX;
  if (twoColumns) layout.Width = 2.0f * PanelWidth;
  if (twoColumns || measure(false) > available) {
    // Not even the rows themselves fit: the help text goes into a box beside
    // the panel, keeping its own blank lines.
    float y = height - HelpBoxPadding;
    for (size_t i = firstHelp; i < afterHelp; ++i) {
      y -= column[i].Gap + RowSize.y;
      PanelRow row = column[i].Row;
      row.Pos = glm::vec2(layout.Width + RowX, y);
      layout.Rows.push_back(row);
    }
    layout.HelpBoxPos = glm::vec2(layout.Width, y - HelpBoxPadding);
    layout.HelpBoxSize = glm::vec2(PanelWidth, height - layout.HelpBoxPos.y);
    column.erase(column.begin() + static_cast<std::ptrdiff_t>(firstHelp),
                 column.begin() + static_cast<std::ptrdiff_t>(afterHelp));
  }
  const float columnRoom = twoColumns ? height : available;
  // Blank rows shrink by one common factor, to whole pixels, as far as the
  // window needs.
  const float gaps = measure(true) - measure(false);
  const float share = gaps > 0.0f ? std::clamp((columnRoom - measure(false)) / gaps, 0.0f, 1.0f) : 1.0f;
  float y = height;
  for (Entry& e : column) {
    y -= std::floor(e.Gap * share) + e.Row.Size.y;
    e.Row.Pos.y = y;
    layout.Rows.push_back(e.Row);
  }
  for (size_t i = 0; i < std::size(fromBottom); ++i) {
    layout.Rows.push_back({Kind::Variable, 0, fromBottom[i], "", glm::vec2(bottomX, RowSize.y * static_cast<float>(i)),
                           RowSize});
  }
  return layout;
}

PerformanceLayout PerformanceWidgetsLayout(glm::vec2 window, const PanelLayout& panel, glm::vec2 tableSize) {
  PerformanceLayout out;
  out.RowSize = glm::vec2(RowSize.x, 2.0f * RowSize.y);
  out.AutoSize = RowSize;
  const float right = window.x - out.RowSize.x - 4.0f;
  if (right >= panel.Width || panel.Width <= PanelWidth) {
    const float x = std::max(right, panel.Width);
    out.TargetPos = glm::vec2(x, 0.0f);
    out.ScalePos = glm::vec2(x, out.RowSize.y);
    out.AutoPos = glm::vec2(x, 2.0f * out.RowSize.y);
  } else {
    // A short, narrow window (a 640 x 360 one): above the rows at the
    // bottom of the panel's second column.
    float top = 0.0f;
    for (const PanelRow& row : panel.Rows) {
      if (row.Pos.x >= PanelWidth && row.Pos.x < panel.Width) top = std::max(top, row.Pos.y + row.Size.y);
    }
    out.ScalePos = glm::vec2(PanelWidth + RowX, top);
    out.TargetPos = glm::vec2(PanelWidth + RowX, top + out.RowSize.y);
    out.AutoPos = glm::vec2(PanelWidth + RowX, top + 2.0f * out.RowSize.y);
  }
  // What stacks above the rows must stay beside the panel, clear of its
  // help box and below the frame rate.
  const bool rowsBeside = out.TargetPos.x >= panel.Width;
  auto fits = [&](glm::vec2 pos, glm::vec2 size) {
    const bool besidePanel = pos.x >= panel.Width && pos.y + size.y <= window.y - FrameRateRows;
    const bool clearOfHelp = panel.HelpBoxSize.y <= 0.0f || pos.x >= panel.HelpBoxPos.x + panel.HelpBoxSize.x ||
                             pos.y + size.y <= panel.HelpBoxPos.y;
    return rowsBeside && besidePanel && clearOfHelp;
  };
  // In a short window the switch may not fit under the frame rate.
  if (out.AutoPos.y + out.AutoSize.y > window.y - FrameRateRows) out.AutoSize = glm::vec2(0.0f);
  float stacked = out.AutoPos.y + out.AutoSize.y + 4.0f;
  const glm::vec2 graph(out.RowSize.x, GraphHeight);
  if (fits(glm::vec2(out.AutoPos.x, stacked), graph)) {
    out.GraphPos = glm::vec2(out.AutoPos.x, stacked);
    out.GraphSize = graph;
    stacked += graph.y + 4.0f;
  }
  const glm::vec2 table(window.x - 4.0f - tableSize.x, stacked);
  if (fits(table, tableSize)) {
    out.TablePos = table;
    out.TableSize = tableSize;
  }
  return out;
}

void RenderSidePanel() {
  const float H = Shutter::Height();
  GUIStyle* S = &GUI::Default.Click;
  GUIStyle T = *S;
  T.HAlign = GUIStyle::TextHAlign::Left;

  const PanelLayout layout = SidePanelLayout(H);
  GUI::DrawStyle(glm::vec2(0.0f), glm::vec2(layout.Width, H), S);
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

  // The performance rows and the pass timers are the renderer's to draw;
  // the automatic scale's switch and the graph go with them.
  const PerformanceLayout perf =
      PerformanceWidgetsLayout(glm::vec2(Shutter::Width(), H), layout, PassTimers::TableSize());
  if (perf.AutoSize.y > 0.0f) AutoRenderScale->DrawGUI(perf.AutoPos, perf.AutoSize);
  FrameGraph::Draw(perf.GraphPos, perf.GraphSize);

  // Forward rendering needs the depth pre-pass; deferred does without it.
  DepthPrePass->value = !DeferredOrForward->value;

  ApplyLightingPreset(LightingSetup->value);
}

}  // namespace KestorEngine
