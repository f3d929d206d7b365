#pragma once
// Drives the immediate-mode widgets frame by frame with synthetic input, no
// GPU needed: without GUI::Initialize the widgets still queue their
// rectangles (with empty mesh and shader handles) and skip their text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "render/DrawSystem.h"
#include "scene/InputSystem.h"

namespace KestorTest {

class WidgetFrames : public ::testing::Test {
 protected:
  static constexpr float WindowHeight = 600.0f;
  static inline const glm::ivec2 PointerMark{-1000000, -1000000};

  void SetUp() override {
    using namespace KestorEngine;
    Shutter::Width(800.0f);
    Shutter::Height(WindowHeight);
    GUI::SetUpStyles();
    IMGUI::curState = IMGUI::toState = 0;
    IMGUI::globalval = nullptr;
    IMGUI::globalvec3 = nullptr;
    IMGUI::globalstring = nullptr;
    IMGUI::globalstringvalid = false;
    IMGUI::globaldragvalid = false;
    // Long past: the typing-pause report is spent unless a test types.
    IMGUI::lastinputtimeused = true;
    DrawSystem::ClearCache();
  }

  // Starts a frame with the pointer at `gui` (GUI pixels, y up) and these
  // events, as the input pump and ReceiveInputs would leave them. Button
  // actions made by AtPointer happened where the pointer ends the frame.
  void Frame(glm::vec2 gui, std::vector<KestorEngine::InputEvent> events = {}) {
    using namespace KestorEngine;
    DrawSystem::ClearCache();
    InputSystem::mousePos = Window(gui);
    for (InputEvent& e : events) {
      if (e.pos == PointerMark) e.pos = glm::ivec2(InputSystem::mousePos);
    }
    InputSystem::InputEvents = std::move(events);
    IMGUI::ReceiveInputs();
  }

  // GUI pixels to the pump's window pixels (y down).
  static glm::vec2 Window(glm::vec2 gui) { return glm::vec2(gui.x, WindowHeight - gui.y); }
  static KestorEngine::InputEvent AtPointer(KestorEngine::InputEvent action) {
    action.pos = PointerMark;
    return action;
  }
  // A button action that happened at `gui`, wherever the pointer ends up.
  static KestorEngine::InputEvent At(KestorEngine::InputEvent action, glm::vec2 gui) {
    action.pos = glm::ivec2(Window(gui));
    return action;
  }

  static KestorEngine::InputEvent Press() { return AtPointer(KestorEngine::InputSystem::PossibleActionClick); }
  static KestorEngine::InputEvent Hold() { return KestorEngine::InputSystem::ActionHold; }
  static KestorEngine::InputEvent Release() { return AtPointer(KestorEngine::InputSystem::ActionClick); }
  static KestorEngine::InputEvent Typed(const std::string& text) {
    KestorEngine::InputEvent e = KestorEngine::InputSystem::TextInput;
    snprintf(e.textInput.text, sizeof e.textInput.text, "%s", text.c_str());
    return e;
  }

  // The top colour of the n-th rectangle queued this frame: which style it
  // was drawn in.
  static glm::vec4 QueuedTopColor(size_t n) {
    auto& entry = KestorEngine::DrawSystem::guidrawthings.at(n);
    return std::get<6>(entry).Uniforms.at("TopColor").Vector4Value;
  }
};

}  // namespace KestorTest
