#pragma once
// The control panel shown while the fly camera is paused: render switches,
// hotkey help and the four lighting presets.
#include <string>
#include <vector>

#include <glm/vec2.hpp>

namespace KestorEngine {

class CVarT;

// One row of the panel, in GUI pixels (origin bottom-left).
struct PanelRow {
  enum class Kind { Variable, NoiseStyle, Preset, Help };
  Kind What;
  int Index;          // noise style, preset or help line number
  CVarT* Variable;    // for Kind::Variable
  std::string Text;   // label of a button, or the help line
  glm::vec2 Pos;
  glm::vec2 Size;
};

struct PanelLayout {
  std::vector<PanelRow> Rows;
  // Width of the panel's background: one column, or two in short windows.
  float Width = 300.0f;
  // The box the help text moves to, beside the panel, when the window is too
  // short for it in the panel; zero size while it fits.
  glm::vec2 HelpBoxPos{0.0f};
  glm::vec2 HelpBoxSize{0.0f};
};

// Where every row goes in a window of `height` pixels. Tall windows get the
// panel's original rows; shorter ones shrink the blank rows between groups
// and, below that, move the help text beside the panel; below about 600
// pixels the bottom switches open a second column. Rows never overlap and
// every preset stays inside the window down to 360 pixels.
PanelLayout SidePanelLayout(float height);

// Where the paused view's performance widgets go in a window of `window`
// pixels beside `panel`: the "Target Frame Time" and "Render Scale" rows
// with the "Auto Render Scale" switch above them (bottom-right, or at the
// top of the panel's second column when the window leaves no room beside
// it), the frame-time graph above those and the pass timer table of
// `tableSize` above all. The switch, the graph and the table are left out
// (zero size) where they would cover the panel, its help box or the frame
// rate.
struct PerformanceLayout {
  glm::vec2 TargetPos{0.0f};
  glm::vec2 ScalePos{0.0f};
  glm::vec2 RowSize{0.0f};
  glm::vec2 AutoPos{0.0f};
  glm::vec2 AutoSize{0.0f};
  glm::vec2 GraphPos{0.0f};
  glm::vec2 GraphSize{0.0f};
  glm::vec2 TablePos{0.0f};  // bottom-left corner
  glm::vec2 TableSize{0.0f};
};
PerformanceLayout PerformanceWidgetsLayout(glm::vec2 window, const PanelLayout& panel, glm::vec2 tableSize);

// Queues the panel's widgets into the GUI queue, the automatic scale's
// switch and the frame-time graph included; drawn by this frame's GUI pass.
void RenderSidePanel();

// Applies lighting preset `index` (0-3) to the named Things of the first
// active level, to its Sky (sky and sun, while PresetsSetTheSky) and to the
// "Exposure" variable.
void ApplyLightingPreset(int index);
// Off when the level's sky is the program's (a level without one, --sky)
// or darkness the level asked for (a Sky of no strength): the presets then
// leave it as it was given.
inline bool PresetsSetTheSky = true;
// How many presets there are (they are numbered from 0).
int LightingPresetCount();

}  // namespace KestorEngine
