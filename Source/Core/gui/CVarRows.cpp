// Control-panel rows of the configuration variables.
#include <cmath>
#include <cstdio>
#include <map>

#include "engine/CVar.h"
#include "engine/TextNumbers.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"

namespace KestorEngine {

namespace {

GUIStyle LabelStyle() {
  GUIStyle label = GUI::Default.Click;
  label.HAlign = GUIStyle::TextHAlign::Left;
  return label;
}

// The number field's text of each float variable. Text fields recognise the
// string they edit by its address, so every row needs a string of its own
// that lives from frame to frame; a local would share one stack address
// between rows.
std::map<const CVarT*, std::string>& FieldTexts() {
  static std::map<const CVarT*, std::string> texts;
  return texts;
}

}  // namespace

template <>
int CVar<bool>::DrawGUI(glm::vec2 pos, glm::vec2 size) {
  GUIStyle label = LabelStyle();
  if (IMGUI::SelectableButton(glm::vec2(pos.x + size.x - size.y, pos.y), glm::vec2(size.y, size.y), value) == 3) {
    value = !value;
  }
  GUI::DrawText(pos, size, &label, name);
  return 0;
}

template <>
int CVar<float>::DrawGUI(glm::vec2 pos, glm::vec2 size) {
  constexpr float textLen = CVarHandler::textLen;
  constexpr float editLen = CVarHandler::editLen;
  constexpr float rowHeight = CVarHandler::rowHeight;
  GUIStyle label = LabelStyle();
  GUI::DrawText(pos, glm::vec2(textLen, rowHeight), &label, name);
  IMGUI::Slider(glm::vec2(pos.x + textLen, pos.y), glm::vec2(size.x - textLen - editLen, rowHeight), &value);

  std::string& field = FieldTexts()[this];
  char shown[64];
  std::snprintf(shown, sizeof shown, "%.2f", value);
  field = shown;
  if (IMGUI::TextInput(glm::vec2(pos.x + size.x - editLen, pos.y), glm::vec2(editLen, rowHeight), &field, false,
                       GUI::Default) == 3) {
    // Text that is not a number leaves the value as it was.
    float typed = 0.0f;
    if (TryParseFloat(field, typed) && std::isfinite(typed)) value = typed;
  }
  return 0;
}

}  // namespace KestorEngine
