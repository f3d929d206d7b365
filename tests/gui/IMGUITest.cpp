// Widget state machines driven by synthetic input, frame by frame: result
// codes, drags that keep their value while the pointer is elsewhere, text
// editing and commits, and the styles each state is drawn in.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "WidgetFrames.h"
#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "render/DrawSystem.h"
#include "scene/InputSystem.h"

using namespace KestorEngine;
using KestorTest::WidgetFrames;

namespace {

const glm::vec4 ContentTop(0.2f, 0.2f, 0.2f, 1.0f);
const glm::vec4 HoverTop(0.21f, 0.21f, 0.21f, 1.0f);
const glm::vec4 ClickTop(0.17f, 0.17f, 0.17f, 1.0f);

}  // namespace

using InputCapture = WidgetFrames;

TEST_F(InputCapture, PointerIsFlippedAndTakeAllHidesEverything) {
  Frame(glm::vec2(30.0f, 100.0f), {Press()});
  EXPECT_EQ(InputSystem::mousePos, glm::vec2(30.0f, 500.0f));  // as SDL reported it
  EXPECT_EQ(IMGUI::mousePos, glm::vec2(30.0f, 100.0f));
  ASSERT_EQ(IMGUI::InputEvents.size(), 1u);
  EXPECT_TRUE(IMGUI::InRect(glm::vec2(10.0f, 40.0f), glm::vec2(10.0f, 10.0f), glm::vec2(100.0f, 30.0f)));

  IMGUI::TakeAll();
  EXPECT_TRUE(IMGUI::InputEvents.empty());
  EXPECT_EQ(IMGUI::Button(glm::vec2(0.0f), glm::vec2(800.0f, 600.0f), "window", nullptr), 0);
  EXPECT_EQ(QueuedTopColor(0), ContentTop);
}

TEST(StageSlots, GuiAndWidgetsRunWhereTheFrameExpectsThem) {
  KestorEngineFlyHahaJk engine;
  GUI::Attach(&engine);
  IMGUI::Attach(&engine);
  EXPECT_TRUE(engine.StartList[25] && engine.ShutdownList[10] && engine.UpdateList[5] && engine.UpdateList[15] &&
              engine.UpdateList[55]);
  EXPECT_EQ(std::count_if(engine.UpdateList.begin(), engine.UpdateList.end(),
                          [](const StageCallback& c) { return static_cast<bool>(c); }),
            3);

  // Slot 5 clears the marks; slot 55 drops what nothing marked since.
  const decltype(GUI::TextCache)::key_type shown{"shown"}, gone{"gone"};
  GUI::TextCache[shown];
  GUI::TextCache[gone];
  GUI::TextUsed[shown] = true;
  GUI::TextUsed[gone] = true;
  engine.UpdateList[5]();
  GUI::TextUsed[shown] = true;  // drawn this frame
  engine.UpdateList[55]();
  EXPECT_EQ(GUI::TextCache.count(shown), 1u);
  EXPECT_EQ(GUI::TextCache.count(gone), 0u);

  InputSystem::mousePos = glm::vec2(3.0f, 4.0f);
  Shutter::Height(100.0f);
  engine.UpdateList[15]();
  EXPECT_EQ(IMGUI::mousePos, glm::vec2(3.0f, 96.0f));
}

using ButtonWidget = WidgetFrames;

TEST_F(ButtonWidget, PressOnlyLooksPressedAndReleaseInsideClicks) {
  const glm::vec2 pos(10.0f, 10.0f), size(100.0f, 30.0f), inside(50.0f, 20.0f);

  Frame(inside);
  EXPECT_EQ(IMGUI::Button(pos, size, "Go", nullptr), 0);
  EXPECT_EQ(QueuedTopColor(0), HoverTop);

  Frame(inside, {Press()});
  EXPECT_EQ(IMGUI::Button(pos, size, "Go", nullptr), 0);
  EXPECT_EQ(QueuedTopColor(0), ClickTop);

  // The release counts even though the press began elsewhere; the event
  // handed out lives in the input system's own list, at the same index.
  SDL_MouseButtonEvent up{};
  up.type = SDL_MOUSEBUTTONUP;
  up.button = SDL_BUTTON_LEFT;
  Frame(inside, {InputEvent(up), Release()});
  InputEvent* click = nullptr;
  EXPECT_EQ(IMGUI::Button(pos, size, "Go", &click), 3);
  EXPECT_EQ(click, &InputSystem::InputEvents[1]);

  Frame(glm::vec2(200.0f, 200.0f), {Release()});
  EXPECT_EQ(IMGUI::Button(pos, size, "Go", nullptr), 0);
  EXPECT_EQ(QueuedTopColor(0), ContentTop);
}

TEST_F(ButtonWidget, SelectableButtonAnswersInThePressFrameOfAnyButton) {
  const glm::vec2 pos(0.0f), size(24.0f), inside(12.0f, 12.0f);
  for (const InputEvent& press :
       {InputSystem::PossibleActionClick, InputSystem::PossibleAdditionalActionClick, InputSystem::ContextClick}) {
    Frame(inside, {AtPointer(press)});
    InputEvent* event = nullptr;
    EXPECT_EQ(IMGUI::SelectableButton(pos, size, false, &event), 3);
    EXPECT_EQ(event, &IMGUI::InputEvents[0]);
    EXPECT_EQ(QueuedTopColor(0), ClickTop);
  }
  Frame(inside, {Release()});
  EXPECT_EQ(IMGUI::SelectableButton(pos, size, false), 0);
  EXPECT_EQ(QueuedTopColor(0), HoverTop);

  Frame(glm::vec2(100.0f), {Press()});
  EXPECT_EQ(IMGUI::SelectableButton(pos, size, true), 0);
  EXPECT_EQ(QueuedTopColor(0), ClickTop);  // selected shows pressed
}

TEST_F(ButtonWidget, PressesAndReleasesHitWhereTheirOwnEventsHappened) {
  // A slow frame: the click fell on the first button, then the pointer moved
  // on to the second before the widgets ran.
  const glm::vec2 first(10.0f, 10.0f), second(200.0f, 10.0f), size(100.0f, 30.0f);
  const glm::vec2 onFirst(50.0f, 20.0f), onSecond(250.0f, 20.0f);
  Frame(onSecond, {At(Press(), onFirst), At(Release(), onFirst)});
  EXPECT_EQ(IMGUI::Button(first, size, "first", nullptr), 3);
  EXPECT_EQ(IMGUI::Button(second, size, "second", nullptr), 0);
  EXPECT_EQ(QueuedTopColor(1), HoverTop) << "the second is only hovered";
  EXPECT_EQ(IMGUI::SelectableButton(first, size, false), 3);
  EXPECT_EQ(IMGUI::SelectableButton(second, size, false), 0);
}

using SliderWidget = WidgetFrames;

TEST_F(SliderWidget, DragKeepsItsSliderOutsideAndLeavesOthersAlone) {
  const glm::vec2 pos(100.0f, 100.0f), size(200.0f, 24.0f);
  float dragged = 0.5f, other = 0.5f;
  const glm::vec2 otherPos(350.0f, 290.0f), otherSize(100.0f, 24.0f);

  Frame(glm::vec2(150.0f, 110.0f), {Press()});
  EXPECT_EQ(IMGUI::Slider(pos, size, &dragged), 1);
  EXPECT_FLOAT_EQ(dragged, 0.25f);
  EXPECT_EQ(IMGUI::curState, 1);

  // Far outside, over the other slider: the drag stays with its value.
  Frame(glm::vec2(400.0f, 300.0f), {Hold()});
  EXPECT_EQ(IMGUI::Slider(pos, size, &dragged), 2);
  EXPECT_EQ(IMGUI::Slider(otherPos, otherSize, &other), 0);
  EXPECT_FLOAT_EQ(dragged, 1.0f);
  EXPECT_FLOAT_EQ(other, 0.5f);
  EXPECT_TRUE(IMGUI::CurrentlyPreoccupied());

  Frame(glm::vec2(0.0f, 300.0f), {Release()});
  EXPECT_EQ(IMGUI::Slider(pos, size, &dragged), 3);
  EXPECT_FLOAT_EQ(dragged, 0.0f);

  Frame(glm::vec2(0.0f, 300.0f));
  EXPECT_EQ(IMGUI::curState, 0);
  EXPECT_EQ(IMGUI::Slider(pos, size, &dragged), 0);
  EXPECT_FALSE(IMGUI::CurrentlyPreoccupied());
}

TEST_F(SliderWidget, DragOfAVanishedSliderDoesNotBlockOthers) {
  float gone = 0.0f, next = 0.0f;
  Frame(glm::vec2(50.0f, 10.0f), {Press()});
  IMGUI::Slider(glm::vec2(0.0f), glm::vec2(100.0f, 20.0f), &gone);
  Frame(glm::vec2(50.0f, 10.0f), {Hold()});  // its panel is no longer drawn
  Frame(glm::vec2(250.0f, 10.0f), {Press()});
  EXPECT_FALSE(IMGUI::CurrentlyPreoccupied() && IMGUI::globalval == &gone);
  EXPECT_EQ(IMGUI::Slider(glm::vec2(200.0f, 0.0f), glm::vec2(100.0f, 20.0f), &next), 1);
  EXPECT_FLOAT_EQ(next, 0.5f);
}

TEST_F(SliderWidget, MinMaxDraggedByItsMiddleMovesBothEndsAndStopsAtMax) {
  // Track 108 wide: knobs travel 100 pixels for 0..100, so x = value.
  const glm::vec2 pos(0.0f), size(108.0f, 10.0f);
  float low = 20.0f, high = 40.0f;
  Frame(glm::vec2(30.0f, 5.0f), {Press()});
  EXPECT_EQ(IMGUI::MinMaxSlider(pos, size, 0.0f, 100.0f, &low, &high), 1);
  EXPECT_EQ(IMGUI::curState, 1);

  Frame(glm::vec2(35.4f, 50.0f), {Hold()});  // 5.4 px = 5 units
  EXPECT_EQ(IMGUI::MinMaxSlider(pos, size, 0.0f, 100.0f, &low, &high), 2);
  EXPECT_NEAR(low, 25.0f, 1e-4);
  EXPECT_NEAR(high, 45.0f, 1e-4);

  for (int frame = 0; frame < 6; ++frame) {
    Frame(glm::vec2(30.0f + 108.0f, 5.0f), {Hold()});
    IMGUI::MinMaxSlider(pos, size, 0.0f, 100.0f, &low, &high);
  }
  EXPECT_FLOAT_EQ(high, 100.0f);
  EXPECT_LT(high - low, 20.0f);
  EXPECT_LE(low, high);
}

TEST_F(SliderWidget, MinMaxGrabsTheHighKnobAlone) {
  const glm::vec2 pos(0.0f), size(108.0f, 10.0f);
  float low = 20.0f, high = 40.0f;
  Frame(glm::vec2(44.0f, 5.0f), {Press()});
  IMGUI::MinMaxSlider(pos, size, 0.0f, 100.0f, &low, &high);
  EXPECT_EQ(IMGUI::curState, 4);
  Frame(glm::vec2(44.0f - 54.0f, 5.0f), {Hold()});  // 50 units left: stops at low
  IMGUI::MinMaxSlider(pos, size, 0.0f, 100.0f, &low, &high);
  EXPECT_FLOAT_EQ(high, 20.0f);
  EXPECT_FLOAT_EQ(low, 20.0f);
}

TEST_F(SliderWidget, GenericSliderSnapsTheNearestKnobOrDragsAll) {
  const glm::vec2 pos(0.0f), size(108.0f, 10.0f);
  float a = 10.0f, b = 60.0f;
  Frame(glm::vec2(54.0f, 5.0f), {Press()});
  EXPECT_EQ(IMGUI::GenericSlider(pos, size, 0.0f, 100.0f, {&a, &b}, false, IMGUI::SnapNearest), 1);
  EXPECT_EQ(IMGUI::globalval, &b);
  EXPECT_NEAR(b, 50.0f, 1e-4);
  EXPECT_FLOAT_EQ(a, 10.0f);
  Frame(glm::vec2(64.8f, 5.0f), {Hold()});
  IMGUI::GenericSlider(pos, size, 0.0f, 100.0f, {&a, &b}, false, IMGUI::SnapNearest);
  EXPECT_NEAR(b, 60.0f, 1e-4);
  Frame(glm::vec2(64.8f, 5.0f), {Release()});
  EXPECT_EQ(IMGUI::GenericSlider(pos, size, 0.0f, 100.0f, {&a, &b}, false, IMGUI::SnapNearest), 3);

  Frame(glm::vec2(30.0f, 5.0f), {Press()});
  IMGUI::GenericSlider(pos, size, 0.0f, 100.0f, {&a, &b}, false, IMGUI::DragAll);
  Frame(glm::vec2(30.0f + 108.0f, 5.0f), {Hold()});  // +100 units: both clamp at max
  IMGUI::GenericSlider(pos, size, 0.0f, 100.0f, {&a, &b}, false, IMGUI::DragAll);
  EXPECT_FLOAT_EQ(a, 100.0f);
  EXPECT_FLOAT_EQ(b, 100.0f);
  Frame(glm::vec2(30.0f + 108.0f, 5.0f), {Release()});
  IMGUI::GenericSlider(pos, size, 0.0f, 100.0f, {&a, &b}, false, IMGUI::DragAll);

  Frame(glm::vec2(80.0f, 5.0f), {Press()});
  a = 10.0f;
  b = 60.0f;
  IMGUI::GenericSlider(pos, size, 0.0f, 100.0f, {&a, &b}, false, IMGUI::KnobsOnly);
  EXPECT_EQ(IMGUI::curState, 0);
}

using TextField = WidgetFrames;

TEST_F(TextField, EditsABufferAndCommitsOnClickOutside) {
  const glm::vec2 pos(10.0f, 10.0f), size(100.0f, 24.0f), inside(20.0f, 20.0f), outside(300.0f, 300.0f);
  std::string value;

  Frame(inside, {Press()});
  EXPECT_EQ(IMGUI::TextInput(pos, size, &value, false), 4);
  EXPECT_EQ(IMGUI::globalstring, &value);

  Frame(outside, {Typed("a"), Typed("b")});
  EXPECT_EQ(IMGUI::TextInput(pos, size, &value, false), 2);
  EXPECT_EQ(IMGUI::stringedit, "ab");
  EXPECT_EQ(value, "");  // not in place: nothing reaches the caller yet
  EXPECT_EQ(QueuedTopColor(0), ClickTop);

  Frame(outside, {InputSystem::TextInputBackspace});
  IMGUI::TextInput(pos, size, &value, false);
  EXPECT_EQ(IMGUI::stringedit, "a");

  Frame(outside, {Press()});
  EXPECT_EQ(IMGUI::TextInput(pos, size, &value, false), 3);
  EXPECT_EQ(value, "a");
  EXPECT_EQ(IMGUI::globalstring, nullptr);

  Frame(inside, {Press()});
  IMGUI::TextInput(pos, size, &value, true);
  Frame(outside, {InputSystem::TextInputBackspace});
  IMGUI::TextInput(pos, size, &value, true);
  EXPECT_EQ(value, "");  // in place: edits land at once
}

TEST_F(TextField, ClickingIntoAFieldDrawnEarlierCommitsTheEditedOne) {
  const glm::vec2 size(100.0f, 24.0f), firstPos(10.0f, 10.0f), secondPos(10.0f, 50.0f);
  const glm::vec2 inFirst(20.0f, 20.0f), inSecond(20.0f, 60.0f);
  std::string first = "one", second = "two";
  auto draw = [&](int expectFirst, int expectSecond) {
    EXPECT_EQ(IMGUI::TextInput(firstPos, size, &first, false), expectFirst);
    EXPECT_EQ(IMGUI::TextInput(secondPos, size, &second, false), expectSecond);
  };
  Frame(inSecond, {Press()});
  draw(0, 4);
  Frame(inSecond, {Typed("!")});
  draw(0, 2);
  // The first field is drawn before the second: the second never sees this
  // click as one outside itself, yet its edit must not be lost.
  Frame(inFirst, {Press()});
  draw(4, 3);
  EXPECT_EQ(second, "two!");
  EXPECT_EQ(IMGUI::globalstring, &first);
  EXPECT_EQ(IMGUI::stringedit, "one");
  Frame(inFirst);
  draw(2, 0);
}

TEST_F(TextField, BackspaceRemovesAWholeCharacter) {
  std::string value = "a\xC3\xA9";  // "a" then a two-byte e-acute
  Frame(glm::vec2(5.0f), {Press()});
  IMGUI::TextInput(glm::vec2(0.0f), glm::vec2(50.0f), &value, true);
  Frame(glm::vec2(5.0f), {InputSystem::TextInputBackspace});
  IMGUI::TextInput(glm::vec2(0.0f), glm::vec2(50.0f), &value, true);
  EXPECT_EQ(value, "a");
}

TEST_F(TextField, FieldThatStopsBeingDrawnLosesItsEdit) {
  std::string value = "keep";
  Frame(glm::vec2(5.0f), {Press()});
  IMGUI::TextInput(glm::vec2(0.0f), glm::vec2(50.0f), &value, false);
  Frame(glm::vec2(5.0f), {Typed("x")});
  IMGUI::TextInput(glm::vec2(0.0f), glm::vec2(50.0f), &value, false);
  Frame(glm::vec2(5.0f));  // the field is not drawn in this frame
  Frame(glm::vec2(5.0f));
  EXPECT_EQ(IMGUI::globalstring, nullptr);
  EXPECT_EQ(value, "keep");
  EXPECT_FALSE(IMGUI::CurrentlyPreoccupied());
}

TEST_F(TextField, TypingPauseIsReportedOnceByTheFirstFieldDrawn) {
  std::string first, second;
  IMGUI::lastinputtimeused = false;
  IMGUI::lastinputtime = std::chrono::system_clock::now() - std::chrono::seconds(2);
  Frame(glm::vec2(500.0f));
  EXPECT_EQ(IMGUI::TextInput(glm::vec2(0.0f), glm::vec2(50.0f), &first, false), 4);
  EXPECT_EQ(IMGUI::TextInput(glm::vec2(0.0f, 60.0f), glm::vec2(50.0f), &second, false), 0);
  Frame(glm::vec2(500.0f));
  EXPECT_EQ(IMGUI::TextInput(glm::vec2(0.0f), glm::vec2(50.0f), &first, false), 0);
}

using OtherWidgets = WidgetFrames;

TEST_F(OtherWidgets, QuickSelectBoxShowsMatchesFromTheTop) {
  const glm::vec2 pos(0.0f), size(100.0f, 100.0f);
  std::string filter = "Te";
  unsigned selected = 99;
  const std::vector<std::string> options = {"Test", "Other", "Temp"};

  Frame(glm::vec2(50.0f, 40.0f));
  EXPECT_EQ(IMGUI::QuickSelectBox(pos, size, &selected, &filter, options), 0);
  EXPECT_EQ(selected, 0u);
  EXPECT_EQ(DrawSystem::guidrawthings.size(), 4u);  // box, two rows, filter line
  EXPECT_FLOAT_EQ(std::get<2>(DrawSystem::guidrawthings[1])[3].y, 92.0f);  // "Test" on top

  Frame(glm::vec2(50.0f, 70.0f), {InputSystem::ExecuteCommand});
  EXPECT_EQ(IMGUI::QuickSelectBox(pos, size, &selected, &filter, options), 3);
  EXPECT_EQ(selected, 2u);

  filter = "Zz";
  Frame(glm::vec2(50.0f, 70.0f));
  IMGUI::QuickSelectBox(pos, size, &selected, &filter, options);
  EXPECT_EQ(selected, 2u);  // nothing shown: unchanged
}

TEST_F(OtherWidgets, DropZoneTakesTheDroppedPathWhenPointedAt) {
  InputEvent drop = InputSystem::DropFile;
  drop.text = "/tmp/level.xml";
  std::string path;
  Frame(glm::vec2(5.0f), {drop});
  EXPECT_EQ(IMGUI::DropZone(glm::vec2(0.0f), glm::vec2(10.0f), &path), 3);
  EXPECT_EQ(path, "/tmp/level.xml");
  Frame(glm::vec2(50.0f), {drop});
  EXPECT_EQ(IMGUI::DropZone(glm::vec2(0.0f), glm::vec2(10.0f), nullptr), 0);
}

TEST_F(OtherWidgets, ColorWheelDraggedFarOutsideOversaturates) {
  const glm::vec2 pos(0.0f), size(100.0f, 100.0f);
  glm::vec3 color(1.0f, 0.0f, 0.0f);
  Frame(glm::vec2(50.0f, 50.0f), {Press()});
  EXPECT_EQ(IMGUI::ColorWheel(pos, size, &color), 2);
  EXPECT_EQ(IMGUI::curState, 2);
  EXPECT_NEAR(IMGUI::dragMousePos.x, 50.0f, 1e-3);
  EXPECT_NEAR(IMGUI::dragMousePos.y, 250.0f, 1e-3);

  Frame(glm::vec2(50.0f, -250.0f), {Hold()});
  IMGUI::ColorWheel(pos, size, &color);
  glm::vec3 hsv = ColorStuff::RGBtoHSV(color);
  EXPECT_NEAR(color.r, 1.0f, 1e-4);
  EXPECT_NEAR(color.g, -1.5f, 1e-4);  // saturation 2.5
  EXPECT_GT(hsv.y, 1.0f);
}

TEST(ColorStuff, HueSaturationValueRoundTrips) {
  for (glm::vec3 rgb : {glm::vec3(1, 0, 0), glm::vec3(0.2f, 0.6f, 0.4f), glm::vec3(0.9f, 0.1f, 0.7f),
                        glm::vec3(0.5f, 0.5f, 0.5f)}) {
    glm::vec3 back = ColorStuff::HSVtoRGB(ColorStuff::RGBtoHSV(rgb));
    EXPECT_NEAR(back.r, rgb.r, 1e-5);
    EXPECT_NEAR(back.g, rgb.g, 1e-5);
    EXPECT_NEAR(back.b, rgb.b, 1e-5);
  }
  EXPECT_NEAR(ColorStuff::RGBtoHSV(glm::vec3(0, 0, 1)).x, 2.0f / 3.0f, 1e-6);
  EXPECT_EQ(ColorStuff::RGBtoHSV(glm::vec3(0.3f)), glm::vec3(0.0f, 0.0f, 0.3f));
}
