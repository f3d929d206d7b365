#pragma once
#include <SDL_events.h>
#include <SDL_timer.h>

#include <cstdint>
#include <glm/vec2.hpp>
#include <string>
#include <vector>

#include "engine/Thing.h"
#include "scene/HeldKeys.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

// One entry of a frame's input: a raw SDL event the system understands, or
// a named action (kind 0) generated from one. Each kind keeps its own copy
// of the SDL record; only the one that belongs to `kind` is meaningful.
class InputEvent {
 public:
  enum Kind : uint32_t { Action = 0, KeyboardKind, MouseKind, WindowKind, DropKind, WheelKind, TextKind };

  InputEvent() = default;
  explicit InputEvent(uint32_t actionId) : kind(Action), id(actionId) {}
  explicit InputEvent(const SDL_KeyboardEvent& e) : kind(KeyboardKind), key(e) {}
  explicit InputEvent(const SDL_MouseButtonEvent& e) : kind(MouseKind), button(e) {}
  explicit InputEvent(const SDL_WindowEvent& e) : kind(WindowKind), window(e) {}
  explicit InputEvent(const SDL_DropEvent& e) : kind(DropKind), drop(e) {}
  explicit InputEvent(const SDL_MouseWheelEvent& e) : kind(WheelKind), wheel(e) {}
  explicit InputEvent(const SDL_TextInputEvent& e) : kind(TextKind), textInput(e) {}

  // Patterns for the binding table: only the fields that take part in
  // matching are set.
  static InputEvent Keyboard(SDL_Scancode scancode, unsigned type, unsigned short mod = 0);
  static InputEvent Mouse(unsigned char button, unsigned type, unsigned char clicks = 1);
  static InputEvent Drop(unsigned type);
  static InputEvent Scroll(int x, int y);
  static InputEvent TextInput();

  // The left operand's kind picks the rule; a raw event therefore never
  // equals an action record. Wheel patterns match on either axis.
  bool operator==(const InputEvent& other) const;
  bool operator!=(const InputEvent& other) const { return !(*this == other); }

  glm::ivec2 pos{0};  // click position, wheel amounts or new window size
  uint32_t kind = Action;
  uint32_t id = 0;
  SDL_KeyboardEvent key{};
  SDL_MouseButtonEvent button{};
  SDL_WindowEvent window{};
  SDL_DropEvent drop{};  // its file pointer is dead after the pump; the path is in `text`
  SDL_MouseWheelEvent wheel{};
  SDL_TextInputEvent textInput{};
  std::string text;  // dropped file's path
};

// Turns SDL's event queue into one flat list per frame: each understood raw
// event, then right behind it every action it is bound to. Also publishes
// the pointer position, motion and wheel of the frame, and asks the engine
// to quit on a window close request or Escape.
class InputSystem {
 public:
  static void Attach(KestorEngineFlyHahaJk* engine);
  // Start stage: builds the binding table (once; a second run adds it again).
  static std::string ItWoruldHaveBeenFunToHaveInstancedSystemsXD();
  static void AddInputMapping(const InputEvent& from, const InputEvent& to);
  // A fresh action id after every one handed out so far.
  static InputEvent GetEventID();
  // Follow Things that have a Clickable, a Collider and a Transform.
  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);
  // The per-frame pump.
  static std::string ISwearIDidntClickThereOohhhNooo(KestorEngineFlyHahaJk* engine);

  // The pump's three steps, for callers that feed events themselves.
  // `pointer` is in window pixels, y down; `buttons` an SDL button mask read
  // when the frame began. The frame ends at Clock()'s time.
  static void BeginFrame(glm::vec2 pointer);
  static void Receive(SDL_Event& event, KestorEngineFlyHahaJk* engine);
  static void EndFrame(uint32_t buttons);

  // Fresh presses of a key among this frame's records: key-downs that are
  // not auto-repeats. A tap that begins and ends between two pumps never
  // shows in SDL's held-key array but still counts here, once.
  static int PressesThisFrame(SDL_Scancode scancode);
  // Whether a key acts this frame: pressed during it, or held at its end by
  // `keys` (SDL's keyboard state array, indexed by scancode; null holds
  // nothing).
  static bool PressedThisFrame(SDL_Scancode scancode, const uint8_t* keys);

  // How long each key was held within the frame the pump just ended, from
  // the events' stamps.
  static inline HeldKeys Held;
  // SDL's milliseconds; tests give the pump the times of their schedule.
  static inline uint32_t (*Clock)() = &SDL_GetTicks;

  static inline std::vector<InputEvent> InputEvents;
  static inline std::vector<InputEvent> InputMappingFrom;
  static inline std::vector<InputEvent> InputMappingTo;
  static inline uint32_t eventIDCount = 0;
  // Where the pointer is once the frame's events are drained: the last
  // motion or button event's position, else where SDL had it at the start.
  static inline glm::vec2 mousePos{0.0f};       // origin top-left, y down
  static inline glm::vec2 mouseMovement{0.0f};  // relative motion summed over the frame
  static inline glm::vec2 mouseScroll{0.0f};    // wheel amounts summed over the frame
  // Things with a Clickable, a Collider and a Transform; nothing reads it yet.
  static inline std::vector<Thing> ClickableThings;

  // Actions, ids 1 to 37 in this order (defined in one translation unit so
  // that static initialisation hands the ids out in declaration order).
  static InputEvent ActionHold;
  static InputEvent ActionClick;
  static InputEvent PossibleActionClick;
  static InputEvent AdditionalActionClick;
  static InputEvent PossibleAdditionalActionClick;
  static InputEvent LateContextClick;
  static InputEvent ContextClick;
  static InputEvent WindowResize;
  static InputEvent TogglePlayback;
  static InputEvent ToggleClipHide;
  static InputEvent ToggleClipMute;
  static InputEvent SetClipStart;
  static InputEvent TrimClipStart;
  static InputEvent TrimClipEnd;
  static InputEvent DeleteClip;
  static InputEvent DeleteEffect;
  static InputEvent RazorCutClip;
  static InputEvent CopyEffect;
  static InputEvent PasteEffect;
  static InputEvent CopyClip;
  static InputEvent PasteClip;
  static InputEvent AddTextClip;
  static InputEvent AddEffect;
  static InputEvent SwitchTimeline;
  static InputEvent ExecuteCommand;
  static InputEvent DropFile;
  static InputEvent Undo;
  static InputEvent Redo;
  static InputEvent SaveProject;
  static InputEvent OpenProject;
  static InputEvent NewProject;
  static InputEvent NewTimeline;
  static InputEvent ExportTimeline;
  static InputEvent TextInput;
  static InputEvent TextInputBackspace;
  static InputEvent TimelineScroll;
  static InputEvent Fullscreen;

 private:
  // Appends `record`, then a copy of every action its bindings produce;
  // `extra` gives each copy the record's per-kind payload.
  template <typename Extra>
  static void AppendWithActions(const InputEvent& record, Extra extra);

  // Receive's handlers, one per understood kind of SDL event. Those taking a
  // mutable record restamp it or take over what SDL allocated in it.
  static void ReceiveMotion(const SDL_MouseMotionEvent& motion);
  static void ReceiveWindow(const SDL_WindowEvent& window);
  static void ReceiveButton(const SDL_MouseButtonEvent& button);
  static void ReceiveWheel(const SDL_MouseWheelEvent& wheel);
  static void ReceiveText(const SDL_TextInputEvent& text);
  static void ReceiveDrop(SDL_DropEvent& drop);
  static void ReceiveKeyUp(SDL_KeyboardEvent& key);
  static void ReceiveKeyDown(SDL_KeyboardEvent& key, KestorEngineFlyHahaJk* engine);
};

}  // namespace KestorEngine
