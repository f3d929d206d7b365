#include "renderer/HelpOverlay.h"

#include <SDL_scancode.h>

#include <iterator>

#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "renderer/FrameGraph.h"
#include "scene/FlyCam.h"
#include "scene/InputSystem.h"

namespace KestorEngine {

namespace {

struct KeyRow {
  const char* Keys;
  const char* Does;
};
const KeyRow Rows[] = {
    {"W A S D", "fly forward, left, back, right"},
    {"Q  E", "fly down, up"},
    {"Shift", "fly four times as fast"},
    {"Mouse", "look around"},
    {"Wheel", "glide forward or back"},
    {"Home", "back to the start"},
    {"P", "stop flying: control panel"},
    {"C  Y", "make, detach the curtain"},
    {"B  I", "tear, delete the curtain"},
    {"F11", "full screen or window"},
    {"F12", "save frame as PNG and PFM"},
    {"F1", "hide this help"},
    {"Esc", "quit"},
};
// The bitmap font is about 10 pixels a character.
constexpr float RowHeight = 18.0f;
constexpr float KeysWidth = 90.0f;
constexpr float TableWidth = 430.0f;
constexpr float Margin = 8.0f;
constexpr float GraphWidth = 290.0f;
constexpr float GraphHeight = 130.0f;

}  // namespace

HelpOverlay::Layout HelpOverlay::Place(glm::vec2 window) {
  Layout out;
  out.TablePos = glm::vec2(Margin);
  out.TableSize = glm::vec2(TableWidth, RowHeight * static_cast<float>(std::size(Rows)) + 2.0f * Margin);
  const glm::vec2 graph(out.TablePos.x + out.TableSize.x + Margin, Margin);
  if (graph.x + GraphWidth + Margin <= window.x && graph.y + GraphHeight + Margin <= window.y) {
    out.GraphPos = graph;
    out.GraphSize = glm::vec2(GraphWidth, GraphHeight);
  }
  return out;
}

void HelpOverlay::Queue() {
  // Typed into a panel field, F1 is still no text: it always counts.
  if (InputSystem::PressesThisFrame(SDL_SCANCODE_F1) % 2 != 0) Shown = !Shown;
  if (!Shown || FlyCamSystem::pause) return;

  const Layout layout = Place(glm::vec2(Shutter::Width(), Shutter::Height()));
  static GUIStyle back = [] {
    GUIStyle b = GUI::Default.Content;
    b.TopColor = b.BottomColor = glm::vec4(0.05f, 0.05f, 0.05f, 0.75f);
    return b;
  }();
  GUIStyle keys = GUI::Default.Click;
  keys.HAlign = GUIStyle::TextHAlign::Left;
  GUIStyle does = keys;
  does.ContentColor = glm::vec4(0.85f, 0.85f, 0.85f, 1.0f);
  GUI::DrawStyle(layout.TablePos, layout.TableSize, &back);
  float y = layout.TablePos.y + layout.TableSize.y - Margin - RowHeight;
  for (const KeyRow& row : Rows) {
    GUI::DrawText(glm::vec2(layout.TablePos.x + Margin, y), glm::vec2(KeysWidth, RowHeight), &keys, row.Keys);
    GUI::DrawText(glm::vec2(layout.TablePos.x + Margin + KeysWidth, y),
                  glm::vec2(layout.TableSize.x - KeysWidth - 2.0f * Margin, RowHeight), &does, row.Does);
    y -= RowHeight;
  }
  FrameGraph::Draw(layout.GraphPos, layout.GraphSize);
}

}  // namespace KestorEngine
