// Control-panel rows of the configuration variables.
#include <algorithm>
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

// The filled square inside a toggle that is on; off leaves the box empty,
// so the two read apart at a glance.
GUIStyle MarkStyle() {
  GUIStyle mark = GUI::Default.Click;
  mark.TopColor = mark.BottomColor = mark.OutlineColor;
  mark.OutlineThickness = 0.0f;
  mark.BorderRadius = glm::vec4(2.0f);
  return mark;
}

template <>
int CVar<bool>::DrawGUI(glm::vec2 pos, glm::vec2 size) {
  GUIStyle label = LabelStyle();
  const glm::vec2 box(pos.x + size.x - size.y, pos.y);
  if (IMGUI::SelectableButton(box, glm::vec2(size.y, size.y), value) == 3) value = !value;
  if (value) {
    GUIStyle mark = MarkStyle();
    const float inset = std::floor(size.y * 0.25f);
    GUI::DrawStyle(box + glm::vec2(inset), glm::vec2(size.y - 2.0f * inset), &mark);
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
  // A row two lines tall gives the name the whole top line, so a long name
  // reads in full; one line shares it with the slider.
  const bool twoLines = size.y >= 2.0f * rowHeight;
  const float sliderFrom = twoLines ? 0.0f : textLen;
  if (twoLines) {
    GUI::DrawText(glm::vec2(pos.x, pos.y + size.y - rowHeight), glm::vec2(size.x, rowHeight), &label, name);
  } else {
    GUI::DrawText(pos, glm::vec2(textLen, rowHeight), &label, name);
  }
  IMGUI::Slider(glm::vec2(pos.x + sliderFrom, pos.y), glm::vec2(size.x - sliderFrom - editLen, rowHeight), &value);
  // The slider spans 0 to 1 whatever the variable takes; the code using it
  // copes only with its limits (a render scale of 0 has no pixels).
  value = static_cast<float>(std::clamp<double>(value, Low, High));

  std::string& field = FieldTexts()[this];
  char shown[64];
  std::snprintf(shown, sizeof shown, "%.2f", value);
  field = shown;
  if (IMGUI::TextInput(glm::vec2(pos.x + size.x - editLen, pos.y), glm::vec2(editLen, rowHeight), &field, false,
                       GUI::Default) == 3) {
    // Text that is not a number, all of it ("0.5pc" is a slip, not 0.5),
    // or a number beyond the variable's limits leaves the value as it was,
    // as the command line and the configuration file refuse it.
    float typed = 0.0f;
    if (ParseWholeFloat(field, typed) && Allows(typed)) value = typed;
  }
  return 0;
}

}  // namespace KestorEngine
