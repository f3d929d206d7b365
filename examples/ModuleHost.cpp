// A host for the modules the demo does not start: a world-space button and
// slider picked by the mouse (retained widgets over physics queries), a tone
// played on each click of the button (audio), and a knob that eases towards
// the slider's value (state interpolation). There is no renderer here, so
// the host draws its few quads itself in the renderer's update slot, with the
// same widget shader the flat GUI uses.
//
// Each change is printed on its own line ("clicked N", the slider's own
// "Value:" line, "eased V"), so scripted clicks can be checked from the
// console; "ready ..." gives the widgets' window pixels once the first frame
// is on screen.
//
//   ModuleHost [width height]     (default 800 x 600; Escape quits)
#include <SDL.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "engine/CVar.h"
#include "engine/Engine.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/GUISystem.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/FrameBuffer.h"
#include "render/Material.h"
#include "sanegl/SaneGL.h"
#include "scene/AudioSystem.h"
#include "scene/Camera.h"
#include "scene/InputSystem.h"
#include "scene/MeshRenderer.h"
#include "scene/Physics.h"
#include "scene/StateInterpolator.h"
#include "scene/Transform.h"

using namespace KestorEngine;

namespace {

// Update slots of this host's own stages, between the engine's systems: the
// easing before the transform pass (30) so the knob is drawn where it eased
// to, the refit and the widgets after it, the drawing where the renderer
// would run (45, before the queues are cleared at 46).
constexpr size_t EaseSlot = 20;
constexpr size_t RefitSlot = 32;
constexpr size_t WidgetSlot = 33;
constexpr size_t DrawSlot = 45;

constexpr float WidgetDepth = -5.0f;   // the widgets' plane, in front of the camera
constexpr float KnobSeconds = 0.35f;   // approach time of the eased knob

struct Host {
  KestorEngineFlyHahaJk* engine = nullptr;
  Thing camera, button, slider, knob, easer, speaker;
  Resource<Material> widgetMaterial;
  GUIStyle idle, hover, pressed, active, activeHover, knobStyle;
  std::vector<float> tone;  // interleaved stereo, owned here for the Sound
  bool sound = false;       // the output stream started
  int clicks = 0;
  float knobValue = 0.0f;   // eased in place by the interpolator
  bool easedReported = true;
  bool shown = false;       // the first frame is on screen
};

Host host;

template <typename T>
T* Of(Thing t) {
  return ComponentHandler<T>::Get(t);
}

// ---------------------------------------------------------------------------
// Content

// A short bell-like tone: two partials under a fast attack and an
// exponential decay, so it never clicks at either end.
std::vector<float> MakeTone(float seconds, float frequency) {
  const int frames = static_cast<int>(seconds * AudioSystem::SampleRate);
  std::vector<float> samples(static_cast<size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const float t = static_cast<float>(i) / AudioSystem::SampleRate;
    const float attack = std::min(1.0f, t / 0.005f);
    const float release = std::min(1.0f, (seconds - t) / 0.02f);
    const float envelope = attack * release * std::exp(-t * 9.0f);
    const float wave = std::sin(6.2831853f * frequency * t) + 0.3f * std::sin(6.2831853f * 2.0f * frequency * t);
    samples[2 * i] = samples[2 * i + 1] = 0.6f * envelope * wave;
  }
  return samples;
}

void MakeStyles() {
  auto colours = [](GUIStyle& s, glm::vec3 top, glm::vec3 bottom) {
    s.BorderRadius = glm::vec4(12.0f);
    s.TopColor = glm::vec4(top, 1.0f);
    s.BottomColor = glm::vec4(bottom, 1.0f);
  };
  colours(host.idle, {0.25f, 0.32f, 0.42f}, {0.18f, 0.23f, 0.30f});
  colours(host.hover, {0.34f, 0.44f, 0.58f}, {0.24f, 0.31f, 0.41f});
  host.hover.GlowColor = glm::vec4(0.3f, 0.6f, 1.0f, 0.6f);
  colours(host.pressed, {0.13f, 0.17f, 0.23f}, {0.16f, 0.21f, 0.28f});
  host.pressed.OutlineColor = glm::vec4(0.4f, 0.8f, 1.0f, 1.0f);
  host.pressed.OutlineThickness = 3.0f;
  colours(host.active, {0.22f, 0.58f, 0.36f}, {0.15f, 0.42f, 0.26f});
  colours(host.activeHover, {0.30f, 0.70f, 0.46f}, {0.20f, 0.52f, 0.33f});
  host.activeHover.GlowColor = glm::vec4(0.5f, 1.0f, 0.6f, 0.6f);
  colours(host.knobStyle, {0.95f, 0.95f, 0.97f}, {0.75f, 0.78f, 0.82f});
  host.knobStyle.BorderRadius = glm::vec4(6.0f);
}

// Window pixels per world unit on the widgets' plane, for the shape that the
// widget shader measures in pixels (corner radii, outline).
float PixelsPerUnit() {
  const Camera* camera = Of<Camera>(host.camera);
  return Shutter::Height() * 0.5f / (std::fabs(WidgetDepth) * std::tan(camera->FieldOfView * 0.5f));
}

// A quad of the given half size drawn with the widget shader; `pickable`
// gives it a collider.
Thing MakeQuad(glm::vec3 centre, glm::vec2 halfSize, bool pickable) {
  Thing t = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(t);
  Of<Transform>(t)->Position = centre;
  Of<Transform>(t)->Scale = glm::vec3(halfSize, 1.0f);
  ComponentHandler<MeshRenderer>::Gimmoo(t);
  MeshRenderer* r = Of<MeshRenderer>(t);
  r->Mesh = Draw::Quad;
  r->Materials = {host.widgetMaterial};
  const glm::vec2 pixels = 2.0f * halfSize * PixelsPerUnit();
  r->Uniforms["_ButtonCoords"] = ShaderUniform("_ButtonCoords", glm::vec4(0.0f, 0.0f, pixels));
  if (pickable) {
    ComponentHandler<Collider>::Gimmoo(t);
    Of<Collider>(t)->Mesh = Draw::Quad.Object();
  }
  return t;
}

void MakeWidgetState(Thing t) {
  ComponentHandler<GUIState>::Gimmoo(t);
  GUIState* s = Of<GUIState>(t);
  s->IdleStyle = &host.idle;
  s->HoverStyle = &host.hover;
  s->PressedStyle = &host.pressed;
  s->ActiveStyle = &host.active;
  s->ActiveHoverStyle = &host.activeHover;
}

void PlayTone() {
  if (!host.sound) return;
  AudioSystem::Lock();
  Sound* s = Of<Sound>(host.speaker);
  s->StartTime = AudioSystem::Now();
  s->Playing = true;
  AudioSystem::Unlock();
}

void BuildScene() {
  MakeStyles();
  host.widgetMaterial = Resources<Material>::Make("ModuleHostWidget", new Material(GUI::GUIGeneric));

  host.camera = Thing::Gimme();
  ComponentHandler<Transform>::Gimmoo(host.camera);
  ComponentHandler<Camera>::Gimmoo(host.camera);
  Of<Camera>(host.camera)->FocalLength(24);
  Of<Camera>(host.camera)->UpdatePerspectiveMatrix();

  host.button = MakeQuad({-2.2f, 0.6f, WidgetDepth}, {1.3f, 0.45f}, true);
  MakeWidgetState(host.button);
  ComponentHandler<GUIButton>::Gimmoo(host.button);
  Of<GUIButton>(host.button)->OnClick.push_back([](Thing) {
    ++host.clicks;
    std::cout << "clicked " << host.clicks << std::endl;
    PlayTone();
  });

  host.slider = MakeQuad({1.9f, 0.6f, WidgetDepth}, {1.7f, 0.3f}, true);
  MakeWidgetState(host.slider);
  ComponentHandler<GUISlider>::Gimmoo(host.slider);
  GUISlider* slider = Of<GUISlider>(host.slider);
  slider->Start = glm::vec3(0.35f, 0.6f, WidgetDepth);
  slider->End = glm::vec3(3.45f, 0.6f, WidgetDepth);
  slider->OnChange.push_back([](Thing t) {
    Of<StateInterpolator>(host.easer)->SetTarget("knob", Of<GUISlider>(t)->Value);
    host.easedReported = false;
  });

  // The knob only shows the eased value: no collider, so it never hides the
  // track from the pointer.
  host.knob = MakeQuad({slider->Start.x, 0.6f, WidgetDepth + 0.01f}, {0.12f, 0.42f}, false);
  UniformMap& look = Of<MeshRenderer>(host.knob)->Uniforms;
  for (auto& [name, value] : std::vector<std::pair<std::string, glm::vec4>>{
           {"BorderRadius", host.knobStyle.BorderRadius}, {"TopColor", host.knobStyle.TopColor},
           {"BottomColor", host.knobStyle.BottomColor}, {"OutlineColor", host.knobStyle.OutlineColor},
           {"GlowColor", host.knobStyle.GlowColor}}) {
    look[name] = ShaderUniform(name, value);
  }
  look["OutlineThickness"] = ShaderUniform("OutlineThickness", 0.0f);

  host.easer = Thing::Gimme();
  ComponentHandler<StateInterpolator>::Gimmoo(host.easer);
  Of<StateInterpolator>(host.easer)->AddTarget("knob", &host.knobValue);
  Of<StateInterpolator>(host.easer)->SetTargetSpeed("knob", KnobSeconds);

  // The sound's fields and the audio system's list change only under the
  // audio lock while the stream runs.
  host.tone = MakeTone(0.35f, 660.0f);
  host.speaker = Thing::Gimme();
  AudioSystem::Lock();
  ComponentHandler<Sound>::Gimmoo(host.speaker);
  Sound* s = Of<Sound>(host.speaker);
  s->Samples = host.tone.data();
  s->SampleCount = host.tone.size();
  s->Loop = false;
  s->Playing = false;
  AudioSystem::Unlock();
}

// ---------------------------------------------------------------------------
// Stages

std::string Ease() {
  StateInterpolatorSystem::demsmooooothanimatosn(host.engine);
  const GUISlider* slider = Of<GUISlider>(host.slider);
  Of<Transform>(host.knob)->Position.x = slider->Start.x + (slider->End.x - slider->Start.x) * host.knobValue;
  if (!host.easedReported && std::fabs(host.knobValue - slider->Value) < 1e-3f) {
    host.easedReported = true;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", host.knobValue);
    std::cout << "eased " << text << std::endl;
  }
  return "";
}

void QueueReadout() {
  GUIStyle text = GUI::Default.Content;
  text.HAlign = GUIStyle::TextHAlign::Left;
  text.TextSize = 16.0f;
  char line[64];
  std::vector<std::string> lines = {"Click the button; click along the slider. Escape quits."};
  lines.push_back("Clicks: " + std::to_string(host.clicks) + (host.sound ? "" : "   (no sound: no output device)"));
  std::snprintf(line, sizeof line, "Slider: %.2f   Eased: %.2f", Of<GUISlider>(host.slider)->Value, host.knobValue);
  lines.push_back(line);
  float y = 20.0f + 22.0f * static_cast<float>(lines.size());
  for (const std::string& l : lines) {
    y -= 22.0f;
    GUI::DrawText(glm::vec2(20.0f, y), glm::vec2(700.0f, 22.0f), &text, l);
  }
}

// The renderer's part, in small: every mesh renderer with its material's
// values, then its own values (the widget styles), then the camera's.
// The draw queue is not used: a queued request keeps its material's buffer
// but not the renderer's own values, so the styles would not reach it.
void ReportLayout();

std::string DrawFrame() {
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(host.engine->window->window, &w, &h);
  Shutter::Width(static_cast<float>(w));
  Shutter::Height(static_cast<float>(h));
  Camera* camera = Of<Camera>(host.camera);
  camera->UpdatePerspectiveMatrix();

  FrameBuffer::ClearRenderTargets();
  SaneGL::Viewport(0, 0, w, h);
  SaneGL::ClearColor(glm::vec4(0.07f, 0.08f, 0.10f, 1.0f));
  SaneGL::Clear(SaneGL::ClearTypes::Color);

  GUI::Begin(glm::vec2(0.0f), glm::vec2(0.0f));
  UniformBuffer view;
  view.SetMatrix4("_WorldToView", camera->Matrix(Of<Transform>(host.camera)->WorldInverse));
  for (size_t i = 0; i < MeshRendererSystem::MeshyThings.size(); ++i) {
    Thing t = MeshRendererSystem::MeshyThings[i];
    MeshRenderer* r = Of<MeshRenderer>(t);
    Transform* x = Of<Transform>(t);
    if (r == nullptr || x == nullptr || !r->Mesh || r->Materials.empty() || !r->Materials[0]) continue;
    Material& material = *r->Materials[0];
    if (!material.ShaderResource) continue;
    UniformBuffer own;
    for (const auto& entry : r->Uniforms) own.Ingest(entry.second);
    std::vector<UniformBuffer*> buffers{&material.Buffer, &own, &view};
    material.ShaderResource->Use(&buffers);
    Draw::DrawMesh(r->Mesh, x->World, -1);
  }

  QueueReadout();
  GUI::DrawQueuedNow(glm::vec2(static_cast<float>(w), static_cast<float>(h)));
  SDL_GL_SwapWindow(host.engine->window->window);
  // Only now is there something to point at.
  if (!host.shown) {
    host.shown = true;
    ReportLayout();
  }
  // No vertical sync under a virtual display: keep the loop from spinning.
  SDL_Delay(15);
  return "";
}

void ReportLayout() {
  const Camera* camera = Of<Camera>(host.camera);
  const glm::mat4& view = Of<Transform>(host.camera)->WorldInverse;
  auto pixel = [&](glm::vec3 p) {
    glm::vec2 s = camera->WorldPointToScreen(p, view);
    return glm::ivec2(static_cast<int>(s.x * Shutter::Width()), static_cast<int>((1.0f - s.y) * Shutter::Height()));
  };
  const GUISlider* slider = Of<GUISlider>(host.slider);
  glm::ivec2 button = pixel(Of<Transform>(host.button)->Position);
  glm::ivec2 from = pixel(slider->Start), to = pixel(slider->End);
  std::cout << "ready button " << button.x << "," << button.y << " slider " << from.x << "," << from.y << " "
            << to.x << "," << to.y << " sound " << (host.sound ? "on" : "off") << std::endl;
}

// ---------------------------------------------------------------------------
// Composition

template <typename T>
void Follow(void (*added)(Thing), void (*removed)(Thing)) {
  ComponentHandler<T>::GoodYumidk.push_back(added);
  ComponentHandler<T>::FoodGoSad.push_back(removed);
}

}  // namespace

int main(int argc, char** argv) {
  glm::vec2 size(800.0f, 600.0f);
  if (argc == 3) size = glm::vec2(std::strtof(argv[1], nullptr), std::strtof(argv[2], nullptr));

  auto* engine = new KestorEngineFlyHahaJk();
  engine->Title = "Kestor module host";
  host.engine = engine;
  // Registered before Initialize reads them: a window, not the full screen.
  CVarHandler::Create<glm::vec2>("Screen Resolution", size)->value = size;
  CVarHandler::Create<bool>("Fullscreen", false)->value = false;

  engine->PrepareStageLists();
  InputSystem::Attach(engine);
  GUI::Attach(engine);
  DrawSystem::Attach(engine);
  TransformSystem::Attach(engine);
  MeshRendererSystem::Attach(engine);

  // Audio: attached like the other systems, before Initialize, whose start
  // list opens the stream. Its start text says whether that worked.
  AudioSystem::Attach(engine);
  engine->StartList[10] = [] {
    std::string problem = AudioSystem::Butyeahmaybenot();
    host.sound = problem.empty();
    return problem;
  };

  // Physics queries: follow colliders with transforms; refit after the
  // transform pass, before anything casts.
  Follow<Collider>(&PhysicsSystem::GoodYumidk, &PhysicsSystem::FoodGoSad);
  Follow<Transform>(&PhysicsSystem::GoodYumidk, &PhysicsSystem::FoodGoSad);
  Thing::HereItsFunc.push_back(&ComponentHandler<Collider>::HereItsBunk);
  engine->UpdateList[RefitSlot] = [engine] { return PhysicsSystem::IsRealityTemporallyCoherentEverywhere(engine); };

  // Retained widgets: follow widget states and cameras; update after the
  // input pump and the refit, with the frame's events.
  Follow<GUIState>(&GUISystem::GoodYumidk, &GUISystem::FoodGoSad);
  Follow<Camera>(&GUISystem::GoodYumidk, &GUISystem::FoodGoSad);
  Follow<Transform>(&GUISystem::GoodYumidk, &GUISystem::FoodGoSad);
  Thing::HereItsFunc.push_back(&ComponentHandler<GUIState>::HereItsBunk);
  Thing::HereItsFunc.push_back(&ComponentHandler<Camera>::HereItsBunk);
  engine->UpdateList[WidgetSlot] = [engine] {
    GUISystem::IWillSupportALLUsecasestothenedoFtheWOrrlrllldd(engine, InputSystem::InputEvents);
    return std::string();
  };

  // State interpolation: follow interpolators; step once per frame.
  Follow<StateInterpolator>(&StateInterpolatorSystem::GoodYumidk, &StateInterpolatorSystem::FoodGoSad);
  Thing::HereItsFunc.push_back(&ComponentHandler<StateInterpolator>::HereItsBunk);
  engine->UpdateList[EaseSlot] = [] { return Ease(); };

  engine->UpdateList[DrawSlot] = [] { return DrawFrame(); };

  engine->Initialize();
  // The window starts in relative mouse mode for the fly camera; the widgets
  // want a free pointer.
  SDL_SetRelativeMouseMode(SDL_FALSE);
  SaneGL::StateSyncForce();
  BuildScene();
  std::cout << std::endl;

  engine->RunGame();
  delete engine;
  return 0;
}
