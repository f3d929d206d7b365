// The control-panel rows of configuration variables: the toggle flips a bool,
// the slider and the number field edit one float, Enter commits a field, a
// committed non-number (or a number with more after it) leaves the value alone, and two float rows never share an edit.
#include <gtest/gtest.h>

#include "WidgetFrames.h"
#include "engine/CVar.h"

using namespace KestorEngine;
using KestorTest::WidgetFrames;

using CVarRows = WidgetFrames;

namespace {

const glm::vec2 RowSize(290.0f, 24.0f);

}  // namespace

TEST_F(CVarRows, ToggleSquareFlipsTheBoolAndShowsAMarkWhenOn) {
  CVar<bool>* flag = CVarHandler::Create<bool>("Row Test Toggle", false);
  const glm::vec2 row(10.0f, 100.0f);
  Frame(glm::vec2(50.0f, 110.0f));
  flag->DrawGUI(row, RowSize);
  EXPECT_EQ(DrawSystem::guidrawthings.size(), 1u);  // the empty box
  Frame(glm::vec2(288.0f, 110.0f), {Press()});
  EXPECT_EQ(flag->DrawGUI(row, RowSize), 0);
  EXPECT_TRUE(flag->value);
  // The box, then a filled mark inside it, drawn in the frame of the press.
  ASSERT_EQ(DrawSystem::guidrawthings.size(), 2u);
  EXPECT_EQ(std::get<2>(DrawSystem::guidrawthings[1]),
            GUI::RectangleMatrix(glm::vec2(282.0f, 106.0f), glm::vec2(12.0f)));
  EXPECT_EQ(QueuedTopColor(1), GUI::Default.Click.OutlineColor);
  Frame(glm::vec2(288.0f, 110.0f), {Hold()});
  flag->DrawGUI(row, RowSize);
  EXPECT_TRUE(flag->value);  // only the press toggles
  Frame(glm::vec2(50.0f, 110.0f), {Press()});  // on the label
  flag->DrawGUI(row, RowSize);
  EXPECT_TRUE(flag->value);
}

TEST_F(CVarRows, SliderAndFieldEditOneFloatAndNonNumbersAreIgnored) {
  CVar<float>* blend = CVarHandler::Create<float>("Row Test Blend", 0.2f);
  blend->Limit(0.1, 0.9);
  const glm::vec2 row(10.0f, 100.0f);
  // Slider from x 110, 140 wide.
  Frame(glm::vec2(145.0f, 110.0f), {Press()});
  blend->DrawGUI(row, RowSize);
  EXPECT_FLOAT_EQ(blend->value, 0.25f);
  Frame(glm::vec2(145.0f, 110.0f), {Release()});
  blend->DrawGUI(row, RowSize);

  // Committed by a click outside, or by Enter in the field.
  auto edit = [&](const std::string& typed, bool enter) {
    Frame(glm::vec2(270.0f, 110.0f), {Press()});  // the field, x 250 to 300
    blend->DrawGUI(row, RowSize);
    std::vector<InputEvent> keys(4, InputSystem::TextInputBackspace);  // "0.25" has four bytes
    keys.push_back(Typed(typed));
    Frame(glm::vec2(270.0f, 110.0f), keys);
    blend->DrawGUI(row, RowSize);
    EXPECT_EQ(IMGUI::stringedit, typed);
    if (enter) {
      Frame(glm::vec2(270.0f, 110.0f), {InputSystem::ExecuteCommand});
    } else {
      Frame(glm::vec2(500.0f, 500.0f), {Press()});
    }
    blend->DrawGUI(row, RowSize);
    EXPECT_EQ(IMGUI::globalstring, nullptr) << typed << ": committed";
  };
  for (const char* refused : {"abc", "nan", "0.5pc", "1e99", "0.95", "-1"}) {
    edit(refused, false);
    EXPECT_FLOAT_EQ(blend->value, 0.25f) << refused;
  }
  edit("0.75", true);
  EXPECT_FLOAT_EQ(blend->value, 0.75f);

  // Two lines tall: the name has the top line, the slider the whole width
  // of the bottom one (x 10 to 250).
  Frame(glm::vec2(70.0f, 110.0f), {Press()});
  blend->DrawGUI(row, glm::vec2(290.0f, 48.0f));
  EXPECT_FLOAT_EQ(blend->value, 0.25f);
  // The slider's left end stops at the variable's lower limit.
  Frame(glm::vec2(70.0f, 110.0f), {Release()});
  blend->DrawGUI(row, glm::vec2(290.0f, 48.0f));
  Frame(glm::vec2(12.0f, 110.0f), {Press()});
  blend->DrawGUI(row, glm::vec2(290.0f, 48.0f));
  EXPECT_FLOAT_EQ(blend->value, 0.1f);
}

TEST_F(CVarRows, TwoFloatRowsKeepTheirEditsApart) {
  CVar<float>* a = CVarHandler::Create<float>("Row Test A", 0.25f);
  CVar<float>* b = CVarHandler::Create<float>("Row Test B", 0.5f);
  const glm::vec2 rowA(10.0f, 100.0f), rowB(10.0f, 60.0f);
  auto draw = [&] {
    a->DrawGUI(rowA, RowSize);
    b->DrawGUI(rowB, RowSize);
  };
  Frame(glm::vec2(270.0f, 110.0f), {Press()});
  draw();
  Frame(glm::vec2(270.0f, 110.0f), {Typed("9")});
  draw();
  Frame(glm::vec2(500.0f, 500.0f), {Press()});
  draw();
  EXPECT_FLOAT_EQ(a->value, 0.259f);
  EXPECT_FLOAT_EQ(b->value, 0.5f);
}
