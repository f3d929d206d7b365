#include "gui/GUISystem.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>
#include <iostream>
#include <string>

#include "engine/Shutter.h"
#include "scene/Camera.h"
#include "scene/MeshRenderer.h"
#include "scene/Physics.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

void DropFirst(std::vector<Thing>& list, Thing t) {
  auto it = std::find(list.begin(), list.end(), t);
  if (it != list.end()) list.erase(it);
}

// Calls the callbacks of `list` (reached afresh through `get` before each
// call, since a callback may remove the component or grow its list).
template <typename Get>
void RunWidgetCallbacks(Thing widget, Get get) {
  for (size_t i = 0;; ++i) {
    std::vector<ThingCallback>* list = get();
    if (list == nullptr || i >= list->size()) return;
    ThingCallback callback = (*list)[i];
    if (callback) callback(widget);
  }
}

// State to style; a style the host left unset shows the idle one instead.
GUIStyle* PickStyle(const GUIState& state) {
  GUIStyle* picked = nullptr;
  switch (state.State) {
    case GUIState::GUIHovered: picked = state.HoverStyle; break;
    case GUIState::GUIPressed: picked = state.PressedStyle; break;
    case GUIState::GUIActive: picked = state.ActiveStyle; break;
    case GUIState::GUIActiveHovered: picked = state.ActiveHoverStyle; break;
    default: break;
  }
  return picked != nullptr ? picked : state.IdleStyle;
}

// Overwrites the value of an entry made earlier, so that entries are created
// once; an entry of another kind under the same name is replaced.
template <typename V>
void WriteUniform(UniformMap& uniforms, const std::string& name, V value, UniformTypes type) {
  auto it = uniforms.find(name);
  if (it == uniforms.end() || it->second.Type != type) {
    ShaderUniform& made = uniforms[name] = ShaderUniform(name, value);
    made.CalculateHash();
    return;
  }
  if constexpr (std::is_same_v<V, float>) {
    it->second.FloatValue = value;
  } else {
    it->second.Vector4Value = value;
  }
  it->second.CalculateHash();
}

void WriteStyle(UniformMap& uniforms, const GUIStyle& style) {
  WriteUniform(uniforms, "BorderRadius", style.BorderRadius, TypeVector4);
  WriteUniform(uniforms, "TopColor", style.TopColor, TypeVector4);
  WriteUniform(uniforms, "BottomColor", style.BottomColor, TypeVector4);
  WriteUniform(uniforms, "ContentColor", style.ContentColor, TypeVector4);
  WriteUniform(uniforms, "OutlineColor", style.OutlineColor, TypeVector4);
  WriteUniform(uniforms, "OutlineThickness", style.OutlineThickness, TypeFloat);
  WriteUniform(uniforms, "GlowColor", style.GlowColor, TypeVector4);
}

// What the cameras see under a window pixel (origin top-left): each camera
// casts its ray and the last one decides. `cast` is false when no camera
// could cast at all.
struct Pick {
  bool cast = false;
  Thing widget = Thing::GimmeDud();
  Ray ray;
  float distance = 0.0f;
};

Pick PickAt(glm::vec2 pointer) {
  Pick pick;
  for (Thing c : GUISystem::CameraThings) {
    Camera* camera = ComponentHandler<Camera>::Get(c);
    Transform* transform = ComponentHandler<Transform>::Get(c);
    if (camera == nullptr || transform == nullptr) continue;
    // Screen points have y up.
    const glm::vec2 screen(pointer.x / Shutter::Width(), 1.0f - pointer.y / Shutter::Height());
    pick.cast = true;
    pick.widget = Thing::GimmeDud();
    pick.ray = camera->PointToRay(screen, transform);
    pick.distance = 0.0f;
    Collider* hit = nullptr;
    if (PhysicsSystem::Raycast(pick.ray, &hit, &pick.distance)) {
      const int id = static_cast<int>(hit - ComponentHandler<Collider>::Components);
      const Thing t = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(id);
      // A collider that is not a widget hides what is behind it.
      if (Has<GUIState>(t)) pick.widget = t;
    }
  }
  return pick;
}

// Hover follows where the pointer is once the frame's events are drained;
// with no camera it stays as it was.
void Hover() {
  const Pick pick = PickAt(InputSystem::mousePos);
  if (!pick.cast) return;
  GUISystem::LastRay = pick.ray;
  GUISystem::LastDistance = pick.distance;
  const Thing previous = GUISystem::HoverGUIthing;
  const Thing hovered = GUISystem::HoverGUIthing = pick.widget;
  if (previous != hovered && !previous.IsDud()) {
    if (GUIState* left = ComponentHandler<GUIState>::Get(previous)) {
      left->State = left->State == GUIState::GUIActiveHovered ? GUIState::GUIActive : GUIState::GUIIdle;
    }
  }
  if (GUIState* over = ComponentHandler<GUIState>::Get(hovered)) {
    if (over->State != GUIState::GUIPressed) {
      over->State = over->State == GUIState::GUIActive ? GUIState::GUIActiveHovered : GUIState::GUIHovered;
    }
  }
}

void SlideTo(Thing widget, const Pick& click) {
  GUISlider* slider = ComponentHandler<GUISlider>::Get(widget);
  std::cout << "Hallo!" << std::endl;
  const glm::vec3 h = click.ray.Origin + click.distance * click.ray.Direction;
  const glm::vec2 a(slider->Start), b(slider->End);
  const glm::vec2 along = b - a;
  const float t = glm::dot(glm::vec2(h) - a, along) / glm::dot(along, along);
  // Ends that coincide in x and y give no direction to measure along: the
  // value stays as it was.
  if (std::isfinite(t)) slider->Value = t < 0.0f ? 0.0f : std::min(1.0f, t);
  std::cout << "Value:" << static_cast<double>(slider->Value) << std::endl;
  RunWidgetCallbacks(widget, [widget] {
    GUISlider* s = ComponentHandler<GUISlider>::Get(widget);
    return s != nullptr ? &s->OnChange : nullptr;
  });
}

// A press or release hits the widget under the position of its own button
// event: in a slow frame the pointer may have moved on by the time the
// widgets run.
void Clicks(const std::vector<InputEvent>& events) {
  for (const InputEvent& e : events) {
    const bool press = e == InputSystem::PossibleActionClick;
    if (!press && e != InputSystem::ActionClick) continue;
    Pick at = PickAt(glm::vec2(e.pos));
    if (!at.cast) {
      // No camera to look with: the click lands where the hover last was.
      at.widget = GUISystem::HoverGUIthing;
      at.ray = GUISystem::LastRay;
      at.distance = GUISystem::LastDistance;
    }
    const Thing widget = GUISystem::ActiveGUIthing = at.widget;
    if (press) {
      if (GUIState* state = ComponentHandler<GUIState>::Get(widget)) state->State = GUIState::GUIPressed;
      continue;
    }
    if (widget.IsDud()) continue;
    if (GUIState* state = ComponentHandler<GUIState>::Get(widget)) state->State = GUIState::GUIActive;
    // Button first, then slider, for a Thing that is both.
    RunWidgetCallbacks(widget, [widget] {
      GUIButton* button = ComponentHandler<GUIButton>::Get(widget);
      return button != nullptr ? &button->OnClick : nullptr;
    });
    if (Has<GUISlider>(widget)) SlideTo(widget, at);
  }
}

void Styles() {
  for (size_t i = 0; i < GUISystem::GUIStates.size(); ++i) {
    Thing w = GUISystem::GUIStates[i];
    GUIState* state = ComponentHandler<GUIState>::Get(w);
    MeshRenderer* renderer = ComponentHandler<MeshRenderer>::Get(w);
    if (state == nullptr || renderer == nullptr) continue;
    GUIStyle* style = PickStyle(*state);
    if (style == nullptr) continue;  // no style at all: leave its look alone
    WriteStyle(renderer->Uniforms, *style);
  }
}

}  // namespace

void GUISystem::GoodYumidk(Thing t) {
  if (Has<GUIState>(t)) GUIStates.push_back(t);
  if (Has<Camera>(t) && Has<Transform>(t)) CameraThings.push_back(t);
}

void GUISystem::FoodGoSad(Thing t) {
  if (!Has<GUIState>(t)) DropFirst(GUIStates, t);
  if (!(Has<Camera>(t) && Has<Transform>(t))) DropFirst(CameraThings, t);
}

void GUISystem::IWillSupportALLUsecasestothenedoFtheWOrrlrllldd(KestorEngineFlyHahaJk*,
                                                                std::vector<InputEvent> events) {
  Hover();
  Clicks(events);
  Styles();
}

}  // namespace KestorEngine
