#include "renderer/SidePanel.h"

#include <iostream>
#include <set>
#include <string>
#include <utility>

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

void RenderSidePanel() {
  const float H = Shutter::Height();
  GUIStyle* S = &GUI::Default.Click;
  GUIStyle T = *S;
  T.HAlign = GUIStyle::TextHAlign::Left;
  auto at = [H](float fromTop) { return glm::vec2(RowX, H - fromTop); };

  GUI::DrawStyle(glm::vec2(0.0f), glm::vec2(PanelWidth, H), S);

  TemporalSSExponent->DrawGUI(at(24), RowSize);
  for (int i = 0; i < 3; ++i) {
    const glm::vec2 pos = at(72.0f + 24.0f * i);
    // Takes effect at once, so the label below already shows the choice.
    if (IMGUI::SelectableButton(pos, RowSize, NoiseStyle->value == i) == 3) NoiseStyle->value = i;
    GUI::DrawText(pos, RowSize, S, NoiseLabels[i]);
  }
  CastIS->DrawGUI(at(168), RowSize);
  CastGI->DrawGUI(at(192), RowSize);
  CastSpecular->DrawGUI(at(216), RowSize);
  HQReflections->DrawGUI(at(264), RowSize);
  VisualizeVoxels->DrawGUI(at(312), RowSize);

  const std::pair<float, const char*> help[] = {
      {360, "Hello! You can press P to "},
      {384, "toggle this control panel"},
      {408, "off and move."},
      {456, "The curtain is controlled "},
      {480, "through hotkeys:"},
      {504, "\tC - Create curtain"},
      {528, "\tY - Detach curtain"},
      {552, "\tB - Break curtain"},
      {576, "\tI - Delete curtain"},
      {624, "The curtain has a habit"},
      {648, "of being pushed into things"},
      {672, "and flying into space..."},
  };
  for (const auto& line : help) GUI::DrawText(at(line.first), RowSize, &T, line.second);

  for (int i = 0; i < PresetCount; ++i) {
    const glm::vec2 pos = at(720.0f + 24.0f * i);
    if (IMGUI::SelectableButton(pos, RowSize, LightingSetup->value == i) == 3) LightingSetup->value = i;
    GUI::DrawText(pos, RowSize, S, Presets[i].Label);
  }

  CVarT* const fromBottom[] = {UpdateGI,           FinalBlitEn,    TemporalSS,
                               RaycastScreen,      RenderGBuffer,  UpdateAcceleration,
                               UpdateVoxelsHQ,     UpdateVoxels,   ClearVoxels};
  for (int i = 0; i < 9; ++i) fromBottom[i]->DrawGUI(glm::vec2(RowX, 24.0f * i), RowSize);

  // Forward rendering needs the depth pre-pass; deferred does without it.
  DepthPrePass->value = !DeferredOrForward->value;

  ApplyLightingPreset(LightingSetup->value);
}

}  // namespace KestorEngine
