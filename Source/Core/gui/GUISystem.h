#pragma once
// Retained widgets: Things of the 3D scene picked by camera rays. A widget is
// a Thing with a MeshRenderer (its look), a Collider (its pickable box) and a
// GUIState; a GUIButton or GUISlider adds behaviour. Unlike the immediate
// widgets they keep their state between frames.
#include <cstdint>
#include <functional>
#include <glm/vec3.hpp>
#include <vector>

#include "engine/Component.h"
#include "gui/GUIStyle.h"
#include "scene/InputSystem.h"
#include "scene/Ray.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

using ThingCallback = std::function<void(Thing)>;

// How the pointer relates to a widget, and the style shown for each state.
// The styles are not owned and must outlive the widget.
class GUIState : public Component {
 public:
  enum : int32_t {
    GUIIdle = 0,           // pointer elsewhere
    GUIHovered = 1,        // pointer over the widget
    GUIPressed = 2,        // left button went down while hovered
    GUIActive = 3,         // clicked (released over it)
    GUIActiveHovered = 4,  // clicked, pointer over it
  };

  int32_t State = GUIIdle;
  Thing LinkedThing = Thing::GimmeDud();  // free for the host; the system ignores it
  GUIStyle* IdleStyle = nullptr;          // state 0 and any unknown value
  GUIStyle* ActiveStyle = nullptr;        // state 3
  GUIStyle* HoverStyle = nullptr;         // state 1
  GUIStyle* ActiveHoverStyle = nullptr;   // state 4
  GUIStyle* PressedStyle = nullptr;       // state 2
};

class GUIButton : public Component {
 public:
  std::vector<ThingCallback> OnClick;  // each click, in order, with the widget
  std::vector<ThingCallback> SecondCallbacks;
};

// A value in [0, 1] set by clicking along the line from Start to End. Only
// the x and y of the ends count.
class GUISlider : public Component {
 public:
  float Value = 0.0f;
  glm::vec3 Start{0.0f};  // world position of the 0 end
  glm::vec3 End{0.0f};    // world position of the 1 end
  std::vector<ThingCallback> OnChange;  // after each click's value update
  std::vector<ThingCallback> SecondCallbacks;
  std::vector<ThingCallback> ThirdCallbacks;
};

// Marks a Thing the input system lists among its clickable Things.
class Clickable : public Component {
 public:
  std::vector<ThingCallback> FirstCallbacks;
  std::vector<ThingCallback> SecondCallbacks;
};

// Has no stage slot. A host registers GoodYumidk/FoodGoSad with the GUIState,
// Camera and Transform handlers and, once per frame after the input pump and
// the physics refit, calls the update with the frame's InputEvents.
class GUISystem {
 public:
  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);

  // Hover from every camera's ray through the pointer as it is after the
  // frame's events, then the frame's presses and releases, each hit-tested at
  // its own button event's position (`InputEvent::pos`), then each widget's
  // style written into its MeshRenderer's uniforms.
  static void IWillSupportALLUsecasestothenedoFtheWOrrlrllldd(KestorEngineFlyHahaJk* engine,
                                                             std::vector<InputEvent> events);

  static inline std::vector<Thing> CameraThings;  // Camera and Transform
  static inline std::vector<Thing> GUIStates;     // GUIState
  static inline Thing HoverGUIthing = Thing::GimmeDud();
  static inline Thing ActiveGUIthing = Thing::GimmeDud();
  // The hover's ray (the last camera's, through the pointer) and its hit
  // distance.
  static inline Ray LastRay;
  static inline float LastDistance = 0.0f;
};

}  // namespace KestorEngine
