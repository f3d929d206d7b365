#pragma once
// Immediate-mode widgets: call one function per widget every frame with its
// rectangle (GUI pixels, origin bottom-left) and a pointer to the value it
// edits; it draws itself through GUI and returns what happened this frame:
//
//   0 nothing, 1 pressed, 2 held or being edited, 3 clicked / released /
//   committed, 4 text editing started (or the typing pause elapsed).
//
// No widget object persists. The few statics below remember which value is
// being dragged (recognised by its address) and which string is edited, so
// a drag keeps going while the pointer is elsewhere and ends on release.
//
// Frame by frame, for a drag (p = press, h = held, r = release):
//   frame  input   ReceiveInputs        widget                 result
//   N      p       curState = 0         curState = toState = 1   1
//   N+1    h       curState = 1         moves (own pointer)      2
//   N+2    r       curState = 1         toState = 0              3
//   N+3    -       curState = 0         idle                     0
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "engine/Resource.h"
#include "engine/Window.h"
#include "gui/GUIStyle.h"
#include "scene/InputSystem.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;
class Shader;
class Texbit;

class IMGUI {
 public:
  enum SegmentBehaviour : int { SnapNearest = 0, KnobsOnly = 1, DragAll = 2 };

  static constexpr float KnobWidth = 8.0f;

  // Update slot 15.
  static void Attach(KestorEngineFlyHahaJk* engine);
  // Per-frame reset: takes this frame's events and the pointer (y flipped).
  static std::string ReceiveInputs();

  static bool InRect(glm::vec2 point, glm::vec2 pos, glm::vec2 size);
  // Hides the pointer and every event from the widgets drawn after it.
  static void TakeAll();
  // A drag or a text edit is in progress.
  static bool CurrentlyPreoccupied();
  static void SetCursor(Window::Cursors c) { cursor = c; }

  static int Button(glm::vec2 pos, glm::vec2 size, std::string label, InputEvent** clickEvent,
                    GUIStyleCollection styles);
  static int Button(glm::vec2 pos, glm::vec2 size, std::string label, InputEvent** clickEvent = nullptr);

  static int SelectableButton(glm::vec2 pos, glm::vec2 size, bool selected);
  static int SelectableButton(glm::vec2 pos, glm::vec2 size, bool selected, InputEvent** clickEvent);
  static int SelectableButton(glm::vec2 pos, glm::vec2 size, bool selected, InputEvent** clickEvent,
                              GUIStyleCollection styles);

  static int Slider(glm::vec2 pos, glm::vec2 size, float* value, GUIStyleCollection styles);
  static int Slider(glm::vec2 pos, glm::vec2 size, float* value);

  static int MinMaxSlider(glm::vec2 pos, glm::vec2 size, float min, float max, float* low, float* high,
                          GUIStyleCollection styles);
  static int MinMaxSlider(glm::vec2 pos, glm::vec2 size, float min, float max, float* low, float* high);

  static int GenericSlider(glm::vec2 pos, glm::vec2 size, float min, float max, std::vector<float*> values,
                           bool unused, SegmentBehaviour behaviour, GUIStyleCollection styles);
  static int GenericSlider(glm::vec2 pos, glm::vec2 size, float min, float max, std::vector<float*> values,
                           bool unused, SegmentBehaviour behaviour);

  // With inPlace false the caller's string changes only on commit (3).
  static int TextInput(glm::vec2 pos, glm::vec2 size, std::string* value, bool inPlace,
                       GUIStyleCollection styles);
  static int TextInput(glm::vec2 pos, glm::vec2 size, std::string* value, bool inPlace);

  static int QuickSelectBox(glm::vec2 pos, glm::vec2 size, unsigned* selected, std::string* filter,
                            std::vector<std::string> options, GUIStyleCollection styles);
  static int QuickSelectBox(glm::vec2 pos, glm::vec2 size, unsigned* selected, std::string* filter,
                            std::vector<std::string> options);

  static int DropZone(glm::vec2 pos, glm::vec2 size, std::string* path);

  static int ColorWheel(glm::vec2 pos, glm::vec2 size, glm::vec3* color, GUIStyleCollection styles);
  static int ColorWheel(glm::vec2 pos, glm::vec2 size, glm::vec3* color);

  // Queued into the scene queue, flipped vertically.
  static void DrawTexture(glm::vec2 pos, glm::vec2 size, Texbit* texture);
  static void DrawLinearTexture(glm::vec2 pos, glm::vec2 size, Texbit* texture);

  // Run the Zenity file dialog (blocking) and return the chosen path, or ""
  // when cancelled or when Zenity is missing (a message box says so).
  static std::string FileOpenDialog(std::string title, std::string defaultPath, std::vector<std::string> filters);
  static std::string FileSaveDialog(std::string title, std::string defaultPath, std::vector<std::string> filters);
  // The dialog's argument vector. Each text is one argument as it is: no
  // shell ever sees it, so quotes, $(...) and ; are only characters.
  static std::vector<std::string> FileDialogArguments(bool save, const std::string& title,
                                                      const std::string& defaultPath,
                                                      const std::vector<std::string>& filters);
  // Shows the "Missing Zenity" box; tests replace it (a real box would wait
  // for a click).
  static std::function<void(const std::string& title, const std::string& text)> ShowErrorBox;

  // Releases the shaders the texture draws hold; GUI::Deinitialize calls it.
  static void ReleaseResources();

  static std::vector<InputEvent> InputEvents;
  static glm::vec2 mousePos;
  static int curState;  // 0 none, 1 value or group, 2 colour wheel, 3 knob / low knob, 4 high knob
  static int toState;
  static float* globalval;
  static glm::vec3* globalvec3;
  static std::string* globalstring;
  static bool globalstringvalid;
  static std::string stringedit;
  static std::chrono::system_clock::time_point lastinputtime;
  static bool lastinputtimeused;
  static float valedit;
  static float valedit2;
  static std::vector<float> valedits;
  static glm::vec2 dragMousePos;
  static Window::Cursors cursor;
  // The dragging widget was drawn since the last ReceiveInputs.
  static bool globaldragvalid;
  // The edited field changes its string in place (no use of stringedit).
  static bool globalstringinplace;
  // A field whose edit another field committed when it took the editing over
  // this frame; it reports the commit (3) when it is drawn.
  static std::string* committedstring;

 private:
  static void StartDrag(int state);
  static void GrabFromTrack(glm::vec2 at, glm::vec2 pos, glm::vec2 size, float min, float max,
                            const std::vector<float*>& values, SegmentBehaviour behaviour);
  static void TextureDraw(glm::vec2 pos, glm::vec2 size, Texbit* texture, Resource<Shader>& shader,
                         const char* name);
  static std::string RunFileDialog(bool save, const std::string& title, const std::string& defaultPath,
                                   const std::vector<std::string>& filters);
};

// Colour conversions, every component in 0 to 1.
namespace ColorStuff {
glm::vec3 RGBtoHSV(glm::vec3 rgb);
glm::vec3 HSVtoRGB(glm::vec3 hsv);
}  // namespace ColorStuff

// Runs `command` through the shell and returns its standard output with the
// line breaks removed. For trusted, fixed commands only.
std::string getCmdOutput(const std::string& command);

}  // namespace KestorEngine
