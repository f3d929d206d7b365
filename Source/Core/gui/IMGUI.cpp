// Immediate-mode widgets.
//
// Sections:
//   1. State and the per-frame reset
//   2. Buttons
//   3. Sliders
//   4. Text field, quick-select box, drop zone
//   5. Colour wheel and colours
//   6. Textures
//   7. File dialogs and command output
//
// Every widget has the same shape: rectangle, behaviour from this frame's
// events (action records only), style picked from that behaviour, draw.
#include "gui/IMGUI.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <glm/common.hpp>
#include <glm/ext/matrix_transform.hpp>

#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/Subprocess.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/Shader.h"
#include "render/ShaderUniform.h"

namespace KestorEngine {

// ===========================================================================
// 1. State and the per-frame reset
// ===========================================================================

std::vector<InputEvent> IMGUI::InputEvents;
glm::vec2 IMGUI::mousePos{0.0f};
int IMGUI::curState = 0;
int IMGUI::toState = 0;
float* IMGUI::globalval = nullptr;
glm::vec3* IMGUI::globalvec3 = nullptr;
std::string* IMGUI::globalstring = nullptr;
bool IMGUI::globalstringvalid = false;
std::string IMGUI::stringedit;
std::chrono::system_clock::time_point IMGUI::lastinputtime{};
bool IMGUI::lastinputtimeused = false;
float IMGUI::valedit = 0.0f;
float IMGUI::valedit2 = 0.0f;
std::vector<float> IMGUI::valedits;
glm::vec2 IMGUI::dragMousePos{0.0f};
Window::Cursors IMGUI::cursor = Window::Arrow;
bool IMGUI::globaldragvalid = false;
bool IMGUI::globalstringinplace = false;
std::string* IMGUI::committedstring = nullptr;

namespace {

Resource<Shader> UnlitWorldSpace;
Resource<Shader> UnlitWorldSpaceFromLinear;

// The typing pause after which a text field reports 4 once.
constexpr auto TypingPause = std::chrono::nanoseconds(1000999999);

bool Is(const InputEvent& e, const InputEvent& action) { return e == action; }

bool IsButtonAction(const InputEvent& e) {
  return Is(e, InputSystem::PossibleActionClick) || Is(e, InputSystem::ActionClick) ||
         Is(e, InputSystem::PossibleAdditionalActionClick) || Is(e, InputSystem::AdditionalActionClick) ||
         Is(e, InputSystem::ContextClick) || Is(e, InputSystem::LateContextClick);
}

// Where a record happened, in GUI pixels. A press or release is tested where
// its own button event was: in a slow frame the pointer may have moved on
// (or only just arrived) by the time the widgets run. Everything else (the
// held button, keys, text) happens where the pointer is now.
glm::vec2 PointOf(const InputEvent& e) {
  if (!IsButtonAction(e)) return IMGUI::mousePos;
  return glm::vec2(static_cast<float>(e.pos.x), Shutter::Height() - static_cast<float>(e.pos.y));
}

// x of the knob for `v` on a track from min to max.
float KnobX(glm::vec2 pos, glm::vec2 size, float v, float min, float max) {
  float range = max - min;
  float t = range != 0.0f ? (v - min) / range : 0.0f;
  return pos.x + t * (size.x - IMGUI::KnobWidth);
}

bool OnKnob(glm::vec2 mouse, glm::vec2 pos, glm::vec2 size, float knobX) {
  return mouse.x >= knobX && mouse.x <= knobX + IMGUI::KnobWidth && mouse.y >= pos.y && mouse.y <= pos.y + size.y;
}

void DrawKnob(glm::vec2 pos, glm::vec2 size, float knobX, GUIStyle* style) {
  GUI::DrawStyle(glm::vec2(knobX, pos.y), glm::vec2(IMGUI::KnobWidth, size.y), style);
}

// Pointer travel since the drag began, in value units.
float DragDelta(glm::vec2 size, float range) {
  return size.x != 0.0f ? (IMGUI::mousePos.x - IMGUI::dragMousePos.x) * range / size.x : 0.0f;
}

}  // namespace

void IMGUI::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->UpdateList[15] = [] { return ReceiveInputs(); };
}

std::string IMGUI::ReceiveInputs() {
  curState = toState;
  // A drag whose widget was not drawn since the last reset cannot end by
  // itself (it never sees the release): drop it rather than block every
  // other drag and keep CurrentlyPreoccupied true for good.
  if (curState != 0 && !globaldragvalid) {
    curState = toState = 0;
    globalval = nullptr;
    globalvec3 = nullptr;
  }
  globaldragvalid = false;
  mousePos = glm::vec2(InputSystem::mousePos.x, Shutter::Height() - InputSystem::mousePos.y);
  cursor = Window::Arrow;
  if (!globalstringvalid && globalstring != nullptr) {
    // The edited field was not drawn: its edit is dropped without commit.
    globalstring = nullptr;
    SDL_StopTextInput();
  }
  globalstringvalid = false;
  committedstring = nullptr;
  InputEvents = InputSystem::InputEvents;
  return "";
}

bool IMGUI::InRect(glm::vec2 point, glm::vec2 pos, glm::vec2 size) {
  return pos.x <= point.x && point.x <= pos.x + size.x && pos.y <= point.y && point.y <= pos.y + size.y;
}

void IMGUI::TakeAll() {
  InputEvents.clear();
  mousePos = glm::vec2(-1e8f, -1e9f);
}

bool IMGUI::CurrentlyPreoccupied() { return curState != 0 || globalstring != nullptr; }

void IMGUI::StartDrag(int state) {
  curState = toState = state;
  globaldragvalid = true;
}

// ===========================================================================
// 2. Buttons
// ===========================================================================

int IMGUI::Button(glm::vec2 pos, glm::vec2 size, std::string label, InputEvent** clickEvent) {
  return Button(pos, size, std::move(label), clickEvent, GUI::Default);
}

int IMGUI::Button(glm::vec2 pos, glm::vec2 size, std::string label, InputEvent** clickEvent,
                  GUIStyleCollection styles) {
  int result = 0;
  bool pressed = false;
  for (size_t i = 0; i < InputEvents.size(); ++i) {
    const InputEvent& e = InputEvents[i];
    if (!InRect(PointOf(e), pos, size)) continue;
    if (Is(e, InputSystem::ActionClick)) {
      result = 3;
      // The caller reads the click's position from the input system's own
      // list, which outlives this frame's copy.
      if (clickEvent != nullptr) {
        *clickEvent = i < InputSystem::InputEvents.size() ? &InputSystem::InputEvents[i] : nullptr;
      }
    } else if (Is(e, InputSystem::PossibleActionClick) || Is(e, InputSystem::ActionHold)) {
      pressed = true;
    }
  }
  GUIStyle* style = pressed ? &styles.Click : (InRect(mousePos, pos, size) ? &styles.Hover : &styles.Content);
  GUI::DrawStyle(pos, size, style);
  GUI::DrawText(pos, size, &styles.Content, label);
  return result;
}

int IMGUI::SelectableButton(glm::vec2 pos, glm::vec2 size, bool selected) {
  return SelectableButton(pos, size, selected, nullptr, GUI::Default);
}

int IMGUI::SelectableButton(glm::vec2 pos, glm::vec2 size, bool selected, InputEvent** clickEvent) {
  return SelectableButton(pos, size, selected, clickEvent, GUI::Default);
}

int IMGUI::SelectableButton(glm::vec2 pos, glm::vec2 size, bool selected, InputEvent** clickEvent,
                            GUIStyleCollection styles) {
  int result = 0;
  for (size_t i = 0; i < InputEvents.size(); ++i) {
    const InputEvent& e = InputEvents[i];
    const bool additional = Is(e, InputSystem::PossibleAdditionalActionClick);
    if (!(Is(e, InputSystem::PossibleActionClick) || additional || Is(e, InputSystem::ContextClick))) continue;
    if (!InRect(PointOf(e), pos, size)) continue;
    result = 3;
    if (clickEvent != nullptr) *clickEvent = &InputEvents[i];
    if (additional) {
      std::string line;
      for (int n = 0; n < 20; ++n) line += "PossibleAdditionalActionClick";
      std::cout << line << std::endl;
    }
  }
  GUIStyle* style;
  if (selected || result == 3) {
    style = &styles.Click;
  } else {
    style = InRect(mousePos, pos, size) ? &styles.Hover : &styles.Content;
  }
  GUI::DrawStyle(pos, size, style);
  return result;
}

// ===========================================================================
// 3. Sliders
// ===========================================================================

int IMGUI::Slider(glm::vec2 pos, glm::vec2 size, float* value) { return Slider(pos, size, value, GUI::Default); }

int IMGUI::Slider(glm::vec2 pos, glm::vec2 size, float* value, GUIStyleCollection styles) {
  GUI::DrawStyle(pos, size, &styles.Content);
  int result = 0;
  auto mine = [&] { return value == globalval && curState == 1; };
  if (mine()) globaldragvalid = true;
  bool move = false;
  for (const InputEvent& e : InputEvents) {
    // A press here starts the drag, after which the rest of the frame is ours.
    if (!mine() && !(curState == 0 && InRect(PointOf(e), pos, size))) continue;
    if (Is(e, InputSystem::ActionHold)) {
      if (result < 2) result = 2;
      move = true;
    } else if (Is(e, InputSystem::PossibleActionClick)) {
      StartDrag(1);
      globalval = value;
      if (result == 0) result = 1;
      move = true;
    } else if (Is(e, InputSystem::ActionClick)) {
      toState = 0;
      result = 3;
      move = true;
    }
  }
  if (move) {
    float t = size.x != 0.0f ? (mousePos.x - pos.x) / size.x : 0.0f;
    *value = glm::clamp(t, 0.0f, 1.0f);
  }
  DrawKnob(pos, size, pos.x + (size.x - KnobWidth) * *value, &styles.Click);
  return result;
}

int IMGUI::MinMaxSlider(glm::vec2 pos, glm::vec2 size, float min, float max, float* low, float* high) {
  return MinMaxSlider(pos, size, min, max, low, high, GUI::Default);
}

int IMGUI::MinMaxSlider(glm::vec2 pos, glm::vec2 size, float min, float max, float* low, float* high,
                        GUIStyleCollection styles) {
  const float range = max - min;
  GUI::DrawStyle(pos, size, &styles.Content);
  int result = 0;
  auto dragged = [&] {
    const bool lowDragged = globalval == low && (curState == 1 || curState == 3 || (curState == 4 && low == high));
    const bool highDragged = globalval == high && curState == 4;
    return lowDragged || highDragged;
  };
  if (dragged()) globaldragvalid = true;
  bool move = false;
  for (const InputEvent& e : InputEvents) {
    const glm::vec2 at = PointOf(e);
    if (!dragged() && !(curState == 0 && InRect(at, pos, size))) continue;
    if (Is(e, InputSystem::ActionHold)) {
      if (result < 2) result = 2;
      move = true;
    } else if (Is(e, InputSystem::PossibleActionClick)) {
      if (OnKnob(at, pos, size, KnobX(pos, size, *low, min, max))) {
        globalval = low;
        valedit = *low;
        StartDrag(3);
        valedit2 = *high;
      } else if (OnKnob(at, pos, size, KnobX(pos, size, *high, min, max))) {
        globalval = high;
        valedit = *high;
        StartDrag(4);
        valedit2 = *low;
      } else {
        globalval = low;
        valedit = *low;
        StartDrag(1);
        valedit2 = *high - *low;
      }
      dragMousePos = at;
      if (result == 0) result = 1;
      move = true;
    } else if (Is(e, InputSystem::ActionClick)) {
      toState = 0;
      result = 3;
      move = true;
    }
  }
  if (move) {
    const float d = DragDelta(size, range);
    if (curState == 1 && globalval == low) {
      *low = std::min(std::max(valedit + d, min), *high);
      *high = std::min(*low + valedit2, max);
    } else if (curState == 4 && globalval == high) {
      *high = std::min(std::max(valedit + d, *low), max);
      *low = valedit2;
    } else if (curState == 3 && globalval == low) {
      *low = std::min(std::max(valedit + d, min), *high);
      *high = valedit2;
    }
  }
  DrawKnob(pos, size, KnobX(pos, size, *low, min, max),
           (globalval == low && curState == 3) ? &styles.Click : &styles.Hover);
  DrawKnob(pos, size, KnobX(pos, size, *high, min, max),
           (globalval == high && curState == 4) ? &styles.Click : &styles.Hover);
  return result;
}

int IMGUI::GenericSlider(glm::vec2 pos, glm::vec2 size, float min, float max, std::vector<float*> values,
                         bool unused, SegmentBehaviour behaviour) {
  return GenericSlider(pos, size, min, max, std::move(values), unused, behaviour, GUI::Default);
}

// A press on the track beside every knob: the nearest knob jumps there and
// drags, or the whole group drags together.
void IMGUI::GrabFromTrack(glm::vec2 at, glm::vec2 pos, glm::vec2 size, float min, float max,
                          const std::vector<float*>& values, SegmentBehaviour behaviour) {
  if (behaviour == SnapNearest) {
    size_t nearest = 0;
    float best = 1000000.0f;
    for (size_t k = 0; k < values.size(); ++k) {
      float distance = std::abs(KnobX(pos, size, *values[k], min, max) - at.x);
      if (distance < best) {
        best = distance;
        nearest = k;
      }
    }
    globalval = values[nearest];
    StartDrag(3);
    float t = size.x != 0.0f ? (at.x - pos.x) / size.x : 0.0f;
    *globalval = glm::clamp(min + (max - min) * t, min, max);
    valedit = *globalval;
  } else if (behaviour == DragAll) {
    valedits.clear();
    for (float* v : values) valedits.push_back(*v);
    globalval = values.front();
    StartDrag(1);
  }
}

int IMGUI::GenericSlider(glm::vec2 pos, glm::vec2 size, float min, float max, std::vector<float*> values,
                         bool, SegmentBehaviour behaviour, GUIStyleCollection styles) {
  const float range = max - min;
  GUI::DrawStyle(pos, size, &styles.Content);
  auto holds = [&](float* v) { return std::find(values.begin(), values.end(), v) != values.end(); };
  auto dragged = [&] {
    const bool groupDragged = curState == 1 && !values.empty() && globalval == values.front();
    const bool knobDragged = curState == 3 && holds(globalval);
    return groupDragged || knobDragged;
  };
  auto reaches = [&](const InputEvent& e) { return dragged() || (curState == 0 && InRect(PointOf(e), pos, size)); };
  if (!dragged() && std::none_of(InputEvents.begin(), InputEvents.end(), reaches)) {
    for (float* v : values) DrawKnob(pos, size, KnobX(pos, size, *v, min, max), &styles.Hover);
    return 0;
  }
  if (dragged()) globaldragvalid = true;

  int result = 0;
  bool move = false;
  for (const InputEvent& e : InputEvents) {
    if (!reaches(e)) continue;
    const glm::vec2 at = PointOf(e);
    if (Is(e, InputSystem::ActionHold)) {
      if (result < 2) result = 2;
      move = true;
    } else if (Is(e, InputSystem::PossibleActionClick)) {
      bool grabbed = false;
      for (float* v : values) {
        if (OnKnob(at, pos, size, KnobX(pos, size, *v, min, max))) {
          globalval = v;
          valedit = *v;
          StartDrag(3);
          grabbed = true;
        }
      }
      if (!grabbed && !values.empty()) GrabFromTrack(at, pos, size, min, max, values, behaviour);
      dragMousePos = at;
      if (result == 0) result = 1;
      move = true;
    } else if (Is(e, InputSystem::ActionClick)) {
      toState = 0;
      result = 3;
      move = true;
    }
  }
  if (move) {
    const float d = DragDelta(size, range);
    if (curState == 1 && !values.empty() && globalval == values.front() && valedits.size() == values.size()) {
      for (size_t k = 0; k < values.size(); ++k) *values[k] = glm::clamp(valedits[k] + d, min, max);
    } else if (curState == 3 && holds(globalval)) {
      *globalval = glm::clamp(valedit + d, min, max);
    }
  }
  for (float* v : values) {
    bool lit = curState == 1 || (curState == 3 && globalval == v);
    DrawKnob(pos, size, KnobX(pos, size, *v, min, max), lit ? &styles.Click : &styles.Hover);
  }
  return result;
}

// ===========================================================================
// 4. Text field, quick-select box, drop zone
// ===========================================================================

namespace {

// Drops the last character: a whole UTF-8 sequence, so the text stays valid.
void EraseLastCharacter(std::string& text) {
  if (text.size() <= 1) {
    text.clear();
    return;
  }
  size_t end = text.size() - 1;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.erase(end);
}

}  // namespace

int IMGUI::TextInput(glm::vec2 pos, glm::vec2 size, std::string* value, bool inPlace) {
  return TextInput(pos, size, value, inPlace, GUI::Default);
}

int IMGUI::TextInput(glm::vec2 pos, glm::vec2 size, std::string* value, bool inPlace,
                     GUIStyleCollection styles) {
  std::string& buffer = inPlace ? *value : stringedit;
  const bool inside = InRect(mousePos, pos, size);
  int result = 0;
  if (committedstring == value) {
    // Another field took the edit over earlier this frame and committed ours.
    committedstring = nullptr;
    result = 3;
  }
  for (const InputEvent& e : InputEvents) {
    if (Is(e, InputSystem::PossibleActionClick) || Is(e, InputSystem::ContextClick)) {
      if (InRect(PointOf(e), pos, size)) {
        if (value != globalstring) {
          // A field drawn later would never see this click as one outside
          // itself: commit its edit now, before the shared buffer is reused.
          if (globalstring != nullptr) {
            if (!globalstringinplace) *globalstring = stringedit;
            committedstring = globalstring;
          }
          SDL_StartTextInput();
          buffer = *value;
          result = 4;
        }
        globalstring = value;
        globalstringinplace = inPlace;
      } else if (globalstring == value) {
        globalstring = nullptr;
        *value = buffer;
        SDL_StopTextInput();
        result = 3;
        continue;
      }
    }
    if (globalstring == value) {
      std::cout << "asdasdasdas" << std::endl;
      const bool keypadEnter = e.kind == InputEvent::KeyboardKind && e.key.type == SDL_KEYDOWN &&
                               e.key.keysym.scancode == SDL_SCANCODE_KP_ENTER;
      if (Is(e, InputSystem::ExecuteCommand) || keypadEnter) {
        // Enter commits, as a click outside does.
        globalstring = nullptr;
        *value = buffer;
        SDL_StopTextInput();
        result = 3;
        continue;
      }
      if (Is(e, InputSystem::TextInput)) {
        const char* typed = e.textInput.text;
        buffer.append(typed, strnlen(typed, sizeof e.textInput.text));
        lastinputtime = std::chrono::system_clock::now();
        lastinputtimeused = false;
      } else if (Is(e, InputSystem::TextInputBackspace)) {
        EraseLastCharacter(buffer);
        lastinputtime = std::chrono::system_clock::now();
        lastinputtimeused = false;
      }
    }
  }

  const bool edited = globalstring == value;
  GUIStyle* style = edited ? &styles.Click : (inside ? &styles.Hover : &styles.Content);
  GUI::DrawStyle(pos, size, style);
  GUI::DrawText(pos, size, &styles.Content, edited ? buffer : *value);
  if (edited) {
    if (result == 0) result = 2;
    globalstringvalid = true;
  }
  if (!lastinputtimeused && std::chrono::system_clock::now() - lastinputtime > TypingPause) {
    lastinputtimeused = true;
    if (result != 3) result = 4;
  }
  return result;
}

int IMGUI::QuickSelectBox(glm::vec2 pos, glm::vec2 size, unsigned* selected, std::string* filter,
                          std::vector<std::string> options) {
  return QuickSelectBox(pos, size, selected, filter, std::move(options), GUI::Default);
}

int IMGUI::QuickSelectBox(glm::vec2 pos, glm::vec2 size, unsigned* selected, std::string* filter,
                          std::vector<std::string> options, GUIStyleCollection styles) {
  constexpr float RowHeight = 16.0f;
  constexpr float TextSize = 12.0f;
  GUI::DrawStyle(pos, size, &styles.Content);
  const std::string prefix = filter != nullptr ? *filter : std::string();

  bool shown = false;
  unsigned candidate = 0;
  float y = pos.y + size.y - RowHeight;
  for (size_t i = 0; i < options.size(); ++i) {
    if (options[i].compare(0, prefix.size(), prefix) != 0) continue;
    glm::vec2 row(pos.x, y);
    GUIStyle* style = &styles.Content;
    if (InRect(mousePos, row, glm::vec2(size.x, RowHeight))) {
      candidate = static_cast<unsigned>(i);
      style = &styles.Hover;
    } else if (!shown) {
      candidate = static_cast<unsigned>(i);
    }
    shown = true;
    GUI::DrawStyle(row, glm::vec2(size.x, RowHeight), style);
    GUI::DrawText(row, TextSize, options[i]);
    y -= RowHeight;
  }

  int result = 0;
  for (const InputEvent& e : InputEvents) {
    if (Is(e, InputSystem::ExecuteCommand) || (Is(e, InputSystem::ActionClick) && InRect(PointOf(e), pos, size))) {
      result = 3;
    }
  }
  GUI::DrawStyle(pos, glm::vec2(size.x, RowHeight), &styles.Click);
  GUI::DrawText(pos, TextSize, prefix);
  if (shown && selected != nullptr) *selected = candidate;
  return result;
}

int IMGUI::DropZone(glm::vec2 pos, glm::vec2 size, std::string* path) {
  int result = 0;
  if (!InRect(mousePos, pos, size)) return 0;
  for (const InputEvent& e : InputEvents) {
    if (Is(e, InputSystem::DropFile)) {
      if (path != nullptr) *path = e.text;
      result = 3;
    }
  }
  return result;
}

// ===========================================================================
// 5. Colour wheel and colours
// ===========================================================================

namespace {

void PrintVec3(const char* label, glm::vec3 v) {
  std::printf("%svec3(%f, %f, %f)\n", label, v.x, v.y, v.z);
  std::fflush(stdout);
}

}  // namespace

int IMGUI::ColorWheel(glm::vec2 pos, glm::vec2 size, glm::vec3* color) {
  return ColorWheel(pos, size, color, GUI::Default);
}

int IMGUI::ColorWheel(glm::vec2 pos, glm::vec2 size, glm::vec3* color, GUIStyleCollection styles) {
  constexpr float Pi = 3.14159265358979f;
  GUI::DrawStyle(pos, size, &styles.Content);
  const glm::vec2 centre = pos + size * 0.5f;
  UniformBuffer wheel;
  wheel.SetVector("_ButtonCoords", GUI::ButtonCoords(pos, size));
  glm::mat4 model = glm::scale(glm::translate(glm::mat4(1.0f), glm::vec3(centre, GUI::GetLayer())),
                               glm::vec3(size * 0.5f, 1.0f));
  DrawSystem::QueueDrawGUI(Draw::Quad, -1, model, model, GUI::GUIColorWheel, wheel);

  glm::vec3 hsv = ColorStuff::RGBtoHSV(*color);
  int result = 0;
  auto mine = [&] { return color == globalvec3 && curState == 2; };
  if (mine()) globaldragvalid = true;
  bool move = false;
  for (const InputEvent& e : InputEvents) {
    const glm::vec2 at = PointOf(e);
    if (!mine() && !(curState == 0 && InRect(at, pos, size))) continue;
    const bool press = Is(e, InputSystem::PossibleActionClick);
    if (press || Is(e, InputSystem::ActionHold)) {
      if (result < 2) result = 2;
      move = true;
    }
    if (press) {
      StartDrag(2);
      globalvec3 = color;
      std::cout << "hccr,u.dcr.udcr.dgu,.,u.g" << std::endl;
      // A virtual centre that puts the pointer on the colour's own spot.
      float a = 2.0f * Pi * hsv.x + Pi;
      dragMousePos = at - glm::vec2(std::sin(a) * size.x * hsv.y * 2.0f, std::cos(a) * size.y * hsv.y * 2.0f);
      if (result == 0) result = 1;
    } else if (Is(e, InputSystem::ActionClick)) {
      toState = 0;
      result = 3;
      move = true;
    }
  }
  if (move && size.x != 0.0f && size.y != 0.0f) {
    float p = mousePos.y - dragMousePos.y;
    float q = mousePos.x - dragMousePos.x;
    hsv.y = std::sqrt((p / size.y * 0.5f) * (p / size.y * 0.5f) + (q / size.x * 0.5f) * (q / size.x * 0.5f));
    hsv.x = (std::atan2(q, p) + Pi) / (2.0f * Pi);
    PrintVec3("HSV: ", hsv);
    *color = ColorStuff::HSVtoRGB(hsv);
    PrintVec3("RGB: ", *color);
  }
  glm::vec2 marker(centre.x - size.x * std::sin(2.0f * Pi * hsv.x) * hsv.y * 0.5f - 3.0f,
                   centre.y - size.y * std::cos(2.0f * Pi * hsv.x) * hsv.y * 0.5f - 3.0f);
  GUI::DrawStyle(marker, glm::vec2(6.0f), &styles.Click);
  return result;
}

namespace ColorStuff {

glm::vec3 RGBtoHSV(glm::vec3 rgb) {
  const float r = rgb.x, g = rgb.y, b = rgb.z;
  const float v = std::max(r, std::max(g, b));
  const float delta = v - std::min(r, std::min(g, b));
  if (delta == 0.0f) return glm::vec3(0.0f, 0.0f, v);
  const float s = delta / v;
  const float dR = ((v - r) / 6.0f + delta / 2.0f) / delta;
  const float dG = ((v - g) / 6.0f + delta / 2.0f) / delta;
  const float dB = ((v - b) / 6.0f + delta / 2.0f) / delta;
  float h = 0.0f;
  if (r == v) {
    h = dB - dG;
  } else if (g == v) {
    h = 1.0f / 3.0f + dR - dB;
  } else if (b == v) {
    h = 2.0f / 3.0f + dG - dR;
  }
  if (h < 0.0f) h += 1.0f;
  if (h > 1.0f) h -= 1.0f;
  return glm::vec3(h, s, v);
}

glm::vec3 HSVtoRGB(glm::vec3 hsv) {
  const float x = hsv.x * 6.0f, s = hsv.y, v = hsv.z;
  const float r = v * (1.0f + s * (glm::clamp(std::abs(x - 3.0f) - 1.0f, 0.0f, 1.0f) - 1.0f));
  const float g = v * (1.0f + s * (glm::clamp(2.0f - std::abs(x - 2.0f), 0.0f, 1.0f) - 1.0f));
  const float b = v * (1.0f + s * (glm::clamp(2.0f - std::abs(x - 4.0f), 0.0f, 1.0f) - 1.0f));
  return glm::vec3(r, g, b);
}

}  // namespace ColorStuff

// ===========================================================================
// 6. Textures
// ===========================================================================

void IMGUI::TextureDraw(glm::vec2 pos, glm::vec2 size, Texbit* texture, Resource<Shader>& shader,
                        const char* name) {
  // Kept for the run: a handle held only by the queue would reload the
  // shader file every frame once the queue is cleared.
  if (!shader) shader = Resources<Shader>::Get(name);
  UniformBuffer buffer;
  buffer.SetTexture("_MainTex", texture);
  glm::mat4 model = glm::scale(
      glm::translate(glm::mat4(1.0f), glm::vec3(pos.x + size.x * 0.5f, pos.y + size.y * 0.5f, GUI::GetLayer())),
      glm::vec3(size.x * 0.5f, -size.y * 0.5f, 1.0f));
  DrawSystem::QueueDraw(Draw::Quad, -1, model, model, shader, buffer);
}

void IMGUI::DrawTexture(glm::vec2 pos, glm::vec2 size, Texbit* texture) {
  TextureDraw(pos, size, texture, UnlitWorldSpace, "UnlitWorldSpace");
}

void IMGUI::DrawLinearTexture(glm::vec2 pos, glm::vec2 size, Texbit* texture) {
  TextureDraw(pos, size, texture, UnlitWorldSpaceFromLinear, "UnlitWorldSpaceFromLinear");
}

void IMGUI::ReleaseResources() {
  UnlitWorldSpace = Resource<Shader>();
  UnlitWorldSpaceFromLinear = Resource<Shader>();
}

// ===========================================================================
// 7. File dialogs and command output
// ===========================================================================

std::function<void(const std::string&, const std::string&)> IMGUI::ShowErrorBox =
    [](const std::string& title, const std::string& text) {
      if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), text.c_str(), nullptr) != 0) {
        // No way to show a box (no display): the console is all we have.
        std::cout << title << ": " << text << std::endl;
      }
    };

std::vector<std::string> IMGUI::FileDialogArguments(bool save, const std::string& title,
                                                    const std::string& defaultPath,
                                                    const std::vector<std::string>& filters) {
  std::vector<std::string> args = {"zenity", "--file-selection"};
  if (save) args.push_back("--save");
  args.push_back("--title=" + title);
  args.push_back("--filename=" + defaultPath);
  for (const std::string& filter : filters) args.push_back("--file-filter=" + filter);
  args.push_back("--file-filter=All files | *");
  return args;
}

std::string IMGUI::RunFileDialog(bool save, const std::string& title, const std::string& defaultPath,
                                 const std::vector<std::string>& filters) {
  std::string program = Subprocess::FindProgram("zenity");
  if (program.empty()) {
    ShowErrorBox("Missing Zenity",
                 "Sorry, to show useful dialogs I need the Zenity program to be installed. Should be in your "
                 "package manager :)");
    return "";
  }
  std::string output;
  int status = 0;
  if (!Subprocess::Run(program, FileDialogArguments(save, title, defaultPath, filters), output, status)) {
    std::cout << "Could not start " << program << " for the file dialog" << std::endl;
    return "";
  }
  // The first line is the chosen path; a cancelled dialog prints nothing.
  std::string line = output.substr(0, output.find('\n'));
  if (line.size() > 1023) line.resize(1023);
  return line;
}

std::string IMGUI::FileOpenDialog(std::string title, std::string defaultPath, std::vector<std::string> filters) {
  return RunFileDialog(false, title, defaultPath, filters);
}

std::string IMGUI::FileSaveDialog(std::string title, std::string defaultPath, std::vector<std::string> filters) {
  return RunFileDialog(true, title, defaultPath, filters);
}

std::string getCmdOutput(const std::string& command) {
  FILE* stream = popen(command.c_str(), "r");
  if (stream == nullptr) {
    std::cout << "Could not run: " << command << std::endl;
    return "";
  }
  std::string result;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, stream) != nullptr) {
    std::string piece(chunk);
    // Only a line break is dropped: a chunk cut from a long line keeps all
    // of its bytes.
    if (!piece.empty() && piece.back() == '\n') piece.pop_back();
    result += piece;
  }
  pclose(stream);
  return result;
}

}  // namespace KestorEngine
