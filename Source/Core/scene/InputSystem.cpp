#include "scene/InputSystem.h"

#include <SDL.h>

#include <algorithm>
#include <iostream>

#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUISystem.h"
#include "scene/EventTimes.h"
#include "scene/Physics.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {
// Lock states, not keys being pressed: Num Lock or Caps Lock left on must not
// stop Ctrl+Z or Backspace from matching.
constexpr Uint16 LockModifiers = KMOD_NUM | KMOD_CAPS | KMOD_MODE | KMOD_SCROLL;
}  // namespace

// ---------------------------------------------------------------------------
// InputEvent

InputEvent InputEvent::Keyboard(SDL_Scancode scancode, unsigned type, unsigned short mod) {
  InputEvent e;
  e.kind = KeyboardKind;
  e.key.type = type;
  e.key.keysym.scancode = scancode;
  e.key.keysym.mod = mod;
  return e;
}

InputEvent InputEvent::Mouse(unsigned char button, unsigned type, unsigned char clicks) {
  InputEvent e;
  e.kind = MouseKind;
  e.button.type = type;
  e.button.button = button;
  e.button.clicks = clicks;
  return e;
}

InputEvent InputEvent::Drop(unsigned type) {
  InputEvent e;
  e.kind = DropKind;
  e.drop.type = type;
  return e;
}

InputEvent InputEvent::Scroll(int x, int y) {
  InputEvent e;
  e.kind = WheelKind;
  e.wheel.x = x;
  e.wheel.y = y;
  return e;
}

InputEvent InputEvent::TextInput() {
  InputEvent e;
  e.kind = TextKind;
  return e;
}

bool InputEvent::operator==(const InputEvent& other) const {
  if (other.kind != kind) return false;
  switch (kind) {
    case Action:
      return id == other.id;
    case KeyboardKind:
      return key.keysym.scancode == other.key.keysym.scancode &&
             (key.keysym.mod & ~LockModifiers) == (other.key.keysym.mod & ~LockModifiers) &&
             key.type == other.key.type;
    case MouseKind:
      return button.button == other.button.button && button.type == other.button.type &&
             button.clicks == other.button.clicks;
    case WindowKind:
      return window.event == other.window.event;
    case DropKind:
      return drop.type == other.drop.type;
    case WheelKind:
      return wheel.y == other.wheel.y || wheel.x == other.wheel.x;
    case TextKind:
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// Action records: ids are handed out here, in declaration order.

InputEvent InputSystem::ActionHold = GetEventID();
InputEvent InputSystem::ActionClick = GetEventID();
InputEvent InputSystem::PossibleActionClick = GetEventID();
InputEvent InputSystem::AdditionalActionClick = GetEventID();
InputEvent InputSystem::PossibleAdditionalActionClick = GetEventID();
InputEvent InputSystem::LateContextClick = GetEventID();
InputEvent InputSystem::ContextClick = GetEventID();
InputEvent InputSystem::WindowResize = GetEventID();
InputEvent InputSystem::TogglePlayback = GetEventID();
InputEvent InputSystem::ToggleClipHide = GetEventID();
InputEvent InputSystem::ToggleClipMute = GetEventID();
InputEvent InputSystem::SetClipStart = GetEventID();
InputEvent InputSystem::TrimClipStart = GetEventID();
InputEvent InputSystem::TrimClipEnd = GetEventID();
InputEvent InputSystem::DeleteClip = GetEventID();
InputEvent InputSystem::DeleteEffect = GetEventID();
InputEvent InputSystem::RazorCutClip = GetEventID();
InputEvent InputSystem::CopyEffect = GetEventID();
InputEvent InputSystem::PasteEffect = GetEventID();
InputEvent InputSystem::CopyClip = GetEventID();
InputEvent InputSystem::PasteClip = GetEventID();
InputEvent InputSystem::AddTextClip = GetEventID();
InputEvent InputSystem::AddEffect = GetEventID();
InputEvent InputSystem::SwitchTimeline = GetEventID();
InputEvent InputSystem::ExecuteCommand = GetEventID();
InputEvent InputSystem::DropFile = GetEventID();
InputEvent InputSystem::Undo = GetEventID();
InputEvent InputSystem::Redo = GetEventID();
InputEvent InputSystem::SaveProject = GetEventID();
InputEvent InputSystem::OpenProject = GetEventID();
InputEvent InputSystem::NewProject = GetEventID();
InputEvent InputSystem::NewTimeline = GetEventID();
InputEvent InputSystem::ExportTimeline = GetEventID();
InputEvent InputSystem::TextInput = GetEventID();
InputEvent InputSystem::TextInputBackspace = GetEventID();
InputEvent InputSystem::TimelineScroll = GetEventID();
InputEvent InputSystem::Fullscreen = GetEventID();

InputEvent InputSystem::GetEventID() { return InputEvent(++eventIDCount); }

// ---------------------------------------------------------------------------
// Attachment and the binding table

void InputSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->StartList[15] = [] { return ItWoruldHaveBeenFunToHaveInstancedSystemsXD(); };
  engine->UpdateList[10] = [engine] { return ISwearIDidntClickThereOohhhNooo(engine); };
  Thing::HereItsFunc.push_back(&ComponentHandler<Clickable>::HereItsBunk);
  Thing::HereItsFunc.push_back(&ComponentHandler<Collider>::HereItsBunk);
  Thing::HereItsFunc.push_back(&ComponentHandler<Transform>::HereItsBunk);
  ComponentHandler<Clickable>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Clickable>::FoodGoSad.push_back(&FoodGoSad);
  ComponentHandler<Collider>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Collider>::FoodGoSad.push_back(&FoodGoSad);
  ComponentHandler<Transform>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Transform>::FoodGoSad.push_back(&FoodGoSad);
}

namespace {
bool IsClickable(Thing t) {
  return ComponentHandler<Clickable>::Get(t) != nullptr && ComponentHandler<Collider>::Get(t) != nullptr &&
         ComponentHandler<Transform>::Get(t) != nullptr;
}
}  // namespace

void InputSystem::GoodYumidk(Thing t) {
  if (IsClickable(t)) ClickableThings.push_back(t);
}

void InputSystem::FoodGoSad(Thing t) {
  if (IsClickable(t)) return;
  auto it = std::find(ClickableThings.begin(), ClickableThings.end(), t);
  if (it != ClickableThings.end()) ClickableThings.erase(it);
}

void InputSystem::AddInputMapping(const InputEvent& from, const InputEvent& to) {
  InputMappingFrom.push_back(from);
  InputMappingTo.push_back(to);
}

std::string InputSystem::ItWoruldHaveBeenFunToHaveInstancedSystemsXD() {
  std::cout << "i am being called for a reason :)" << std::endl;
  EventTimes::Enable();

  // Exact modifier masks: normalisation sets both bits of a pressed pair.
  const unsigned short none = 0;
  const unsigned short ctrl = KMOD_CTRL;
  const unsigned short alt = KMOD_ALT;
  const unsigned short ctrlShift = KMOD_CTRL | KMOD_SHIFT;
  const unsigned short ctrlAlt = KMOD_CTRL | KMOD_ALT;
  auto press = [](SDL_Scancode key, unsigned short mod) { return InputEvent::Keyboard(key, SDL_KEYDOWN, mod); };

  // Order matters: an event's actions follow it in this order.
  AddInputMapping(InputEvent::Mouse(SDL_BUTTON_LEFT, SDL_MOUSEBUTTONUP), ActionClick);
  AddInputMapping(InputEvent::Mouse(SDL_BUTTON_LEFT, SDL_MOUSEBUTTONDOWN), PossibleActionClick);
  AddInputMapping(InputEvent::Mouse(SDL_BUTTON_MIDDLE, SDL_MOUSEBUTTONUP), AdditionalActionClick);
  AddInputMapping(InputEvent::Mouse(SDL_BUTTON_MIDDLE, SDL_MOUSEBUTTONDOWN), PossibleAdditionalActionClick);
  AddInputMapping(InputEvent::Mouse(SDL_BUTTON_RIGHT, SDL_MOUSEBUTTONUP), LateContextClick);
  AddInputMapping(InputEvent::Mouse(SDL_BUTTON_RIGHT, SDL_MOUSEBUTTONDOWN), ContextClick);
  AddInputMapping(press(SDL_SCANCODE_SPACE, none), TogglePlayback);
  AddInputMapping(press(SDL_SCANCODE_H, none), ToggleClipHide);
  AddInputMapping(press(SDL_SCANCODE_M, none), ToggleClipMute);
  AddInputMapping(press(SDL_SCANCODE_LEFTBRACKET, none), SetClipStart);
  AddInputMapping(press(SDL_SCANCODE_LEFTBRACKET, alt), TrimClipStart);
  AddInputMapping(press(SDL_SCANCODE_RIGHTBRACKET, alt), TrimClipEnd);
  AddInputMapping(press(SDL_SCANCODE_R, none), RazorCutClip);
  AddInputMapping(press(SDL_SCANCODE_DELETE, none), DeleteClip);
  AddInputMapping(press(SDL_SCANCODE_DELETE, none), DeleteEffect);
  AddInputMapping(press(SDL_SCANCODE_C, ctrl), CopyEffect);
  AddInputMapping(press(SDL_SCANCODE_C, ctrl), CopyClip);
  AddInputMapping(press(SDL_SCANCODE_V, ctrl), PasteEffect);
  AddInputMapping(press(SDL_SCANCODE_V, ctrl), PasteClip);
  AddInputMapping(press(SDL_SCANCODE_T, none), AddTextClip);
  AddInputMapping(press(SDL_SCANCODE_E, ctrl), AddEffect);
  AddInputMapping(press(SDL_SCANCODE_T, ctrl), SwitchTimeline);
  AddInputMapping(press(SDL_SCANCODE_RETURN, none), ExecuteCommand);
  AddInputMapping(InputEvent::Scroll(1, 1), TimelineScroll);
  AddInputMapping(InputEvent::Scroll(0, 0), TimelineScroll);
  AddInputMapping(press(SDL_SCANCODE_Z, ctrl), Undo);
  AddInputMapping(press(SDL_SCANCODE_Y, ctrl), Redo);
  AddInputMapping(press(SDL_SCANCODE_Z, ctrlShift), Redo);
  AddInputMapping(press(SDL_SCANCODE_O, ctrl), OpenProject);
  AddInputMapping(press(SDL_SCANCODE_S, ctrl), SaveProject);
  AddInputMapping(press(SDL_SCANCODE_N, ctrlAlt), NewProject);
  AddInputMapping(press(SDL_SCANCODE_N, ctrl), NewTimeline);
  AddInputMapping(press(SDL_SCANCODE_R, ctrl), ExportTimeline);
  AddInputMapping(InputEvent::TextInput(), TextInput);
  AddInputMapping(press(SDL_SCANCODE_BACKSPACE, none), TextInputBackspace);
  AddInputMapping(press(SDL_SCANCODE_F, none), Fullscreen);
  AddInputMapping(InputEvent::Drop(SDL_DROPFILE), DropFile);
  InputEvent resized;
  resized.kind = InputEvent::WindowKind;
  resized.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
  AddInputMapping(resized, WindowResize);
  return "";
}

// ---------------------------------------------------------------------------
// The pump

std::string InputSystem::ISwearIDidntClickThereOohhhNooo(KestorEngineFlyHahaJk* engine) {
  int x = 0, y = 0;
  uint32_t buttons = SDL_GetMouseState(&x, &y);
  BeginFrame(glm::vec2(static_cast<float>(x), static_cast<float>(y)));
  SDL_Event event;
  while (SDL_PollEvent(&event)) Receive(event, engine);
  EndFrame(buttons);
  return "";
}

void InputSystem::BeginFrame(glm::vec2 pointer) {
  Held.BeginFrame(Clock());
  mousePos = pointer;
  mouseMovement = glm::vec2(0.0f);
  mouseScroll = glm::vec2(0.0f);
  InputEvents.clear();
}

template <typename Extra>
void InputSystem::AppendWithActions(const InputEvent& record, Extra extra) {
  InputEvents.push_back(record);
  for (size_t i = 0; i < InputMappingFrom.size() && i < InputMappingTo.size(); ++i) {
    if (!(record == InputMappingFrom[i])) continue;
    InputEvent action = InputMappingTo[i];
    extra(action);
    InputEvents.push_back(std::move(action));
  }
}

namespace {
// Left and right modifiers count alike; lock-key bits stay on the record but
// are ignored by matching.
void MergeModifierSides(Uint16& mod) {
  if (mod & KMOD_ALT) mod |= KMOD_ALT;
  if (mod & KMOD_CTRL) mod |= KMOD_CTRL;
  if (mod & KMOD_SHIFT) mod |= KMOD_SHIFT;
}

// Keys the engine answers itself, whatever the frame is doing.
void ApplyEngineKeys(const SDL_KeyboardEvent& key, KestorEngineFlyHahaJk* engine) {
  if (engine == nullptr) return;
  if (key.keysym.scancode == SDL_SCANCODE_ESCAPE) engine->Quit();
  if (key.keysym.scancode == SDL_SCANCODE_F11 && key.repeat == 0 && engine->window != nullptr) {
    engine->window->Fullscreen(!engine->window->IsFullscreen());
  }
}
}  // namespace

void InputSystem::Receive(SDL_Event& event, KestorEngineFlyHahaJk* engine) {
  if (EventTimes::Note(event)) return;
  switch (event.type) {
    case SDL_QUIT:
      if (engine != nullptr) engine->Quit();
      break;
    case SDL_MOUSEMOTION:
      ReceiveMotion(event.motion);
      break;
    case SDL_WINDOWEVENT:
      ReceiveWindow(event.window);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      ReceiveButton(event.button);
      break;
    case SDL_MOUSEWHEEL:
      ReceiveWheel(event.wheel);
      break;
    case SDL_TEXTINPUT:
      ReceiveText(event.text);
      break;
    case SDL_DROPFILE:
      ReceiveDrop(event.drop);
      break;
    case SDL_DROPTEXT:
      // Not understood, but SDL hands its text over to us: free it.
      SDL_free(event.drop.file);
      event.drop.file = nullptr;
      break;
    case SDL_KEYUP:
      ReceiveKeyUp(event.key);
      break;
    case SDL_KEYDOWN:
      ReceiveKeyDown(event.key, engine);
      break;
    default:
      break;
  }
}

void InputSystem::ReceiveMotion(const SDL_MouseMotionEvent& motion) {
  // Summed: a slow frame holds many motion events, and the camera must turn
  // by all of them.
  mouseMovement += glm::vec2(static_cast<float>(motion.xrel), static_cast<float>(motion.yrel));
  mousePos = glm::vec2(static_cast<float>(motion.x), static_cast<float>(motion.y));
}

void InputSystem::ReceiveWindow(const SDL_WindowEvent& window) {
  InputEvent record(window);
  record.pos = glm::ivec2(window.data1, window.data2);
  AppendWithActions(record, [&](InputEvent& a) { a.pos = record.pos; });
  // After the action, so a listener sees the old size with the new one in pos.
  if (window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
    Shutter::Width(static_cast<float>(window.data1));
    Shutter::Height(static_cast<float>(window.data2));
  }
}

void InputSystem::ReceiveButton(const SDL_MouseButtonEvent& button) {
  InputEvent record(button);
  record.pos = glm::ivec2(button.x, button.y);
  mousePos = glm::vec2(record.pos);
  AppendWithActions(record, [&](InputEvent& a) { a.pos = record.pos; });
}

void InputSystem::ReceiveWheel(const SDL_MouseWheelEvent& wheel) {
  InputEvent record(wheel);
  record.pos = glm::ivec2(wheel.x, wheel.y);
  mouseScroll += glm::vec2(static_cast<float>(wheel.x), static_cast<float>(wheel.y));
  AppendWithActions(record, [&](InputEvent& a) { a.pos = record.pos; });
}

void InputSystem::ReceiveText(const SDL_TextInputEvent& text) {
  InputEvent record(text);
  AppendWithActions(record, [&](InputEvent& a) { a.textInput = record.textInput; });
}

void InputSystem::ReceiveDrop(SDL_DropEvent& drop) {
  InputEvent record(drop);
  if (drop.file != nullptr) record.text = drop.file;
  SDL_free(drop.file);
  drop.file = nullptr;
  record.drop.file = nullptr;  // freed above; the path lives on in `text`
  AppendWithActions(record, [&](InputEvent& a) { a.text = record.text; });
}

// Not a record (nothing matches releases), but it ends a key's hold.
void InputSystem::ReceiveKeyUp(SDL_KeyboardEvent& key) {
  EventTimes::Restamp(key);
  Held.Up(key.keysym.scancode, key.timestamp);
}

void InputSystem::ReceiveKeyDown(SDL_KeyboardEvent& key, KestorEngineFlyHahaJk* engine) {
  EventTimes::Restamp(key);
  Held.Down(key.keysym.scancode, key.timestamp);
  InputEvent record(key);
  MergeModifierSides(record.key.keysym.mod);
  AppendWithActions(record, [](InputEvent&) {});
  ApplyEngineKeys(key, engine);
}

void InputSystem::EndFrame(uint32_t buttons) {
  Held.EndFrame();
  if (buttons & SDL_BUTTON_LMASK) AppendWithActions(ActionHold, [](InputEvent&) {});
}

int InputSystem::PressesThisFrame(SDL_Scancode scancode) {
  int presses = 0;
  for (const InputEvent& e : InputEvents) {
    if (e.kind == InputEvent::KeyboardKind && e.key.type == SDL_KEYDOWN && e.key.repeat == 0 &&
        e.key.keysym.scancode == scancode) {
      ++presses;
    }
  }
  return presses;
}

bool InputSystem::PressedThisFrame(SDL_Scancode scancode, const uint8_t* keys) {
  if (keys != nullptr && keys[scancode] != 0) return true;
  return PressesThisFrame(scancode) > 0;
}

}  // namespace KestorEngine
