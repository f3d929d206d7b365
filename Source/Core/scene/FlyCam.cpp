#include "scene/FlyCam.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <glm/gtc/quaternion.hpp>
#include <glm/mat3x3.hpp>

#include "engine/Engine.h"
#include "gui/IMGUI.h"
#include "scene/HeldKeys.h"
#include "scene/InputSystem.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

constexpr float StepsPerSecond = 60.0f;  // movement constants are per 60th of a second
constexpr float KeySpeed = 0.05f;
constexpr float GlideSpeed = 0.025f;
constexpr float Decay = 0.9f;          // decay of glide speed and wheel input per 60th of a second
constexpr float WheelToVelocity = 0.5f;
constexpr float WheelIntake = 0.1f;
constexpr float Boost = 4.0f;          // Shift's factor on the keys' speed

const glm::vec3 WorldUp(0.0f, 0.0f, 1.0f);
const glm::vec3 CameraRight(1.0f, 0.0f, 0.0f);

// The wheel's glide runs on its own clock of 60 ticks a second, whatever the
// frame rate: per tick the camera moves GlideSpeed * velocity, then
// velocity <- Decay * velocity + WheelToVelocity * scroll and
// scroll <- Decay * scroll. A frame advances that clock by its own length,
// part of a tick included (the glide is steady within a tick), so a slow
// frame lands exactly where the ticks it stands for would have, and a frame
// of one whole tick is the per-frame rule of a 60 fps frame.
struct Glide {
  float distance = 0.0f;  // forward, along the view
  float velocity;
  float scroll;
  float phase;  // how far into its current tick the clock is, 0 to 1
};

Glide Advance(float velocity, float scroll, float phase, float ticks) {
  // Frame times carry float rounding: within this much of a tick's end is
  // its end, so 60 fps frames stay one whole tick each.
  constexpr float Snap = 1e-3f;
  Glide g{0.0f, velocity, scroll, phase};
  if (!std::isfinite(ticks)) return g;
  while (ticks > 0.0f) {
    if (g.velocity == 0.0f && g.scroll == 0.0f) {
      // At rest (or decayed to nothing): only the clock moves on.
      g.phase = std::fmod(g.phase + ticks, 1.0f);
      if (g.phase >= 1.0f - Snap) g.phase = 0.0f;
      break;
    }
    const float part = std::min(ticks, 1.0f - g.phase);
    g.distance += GlideSpeed * g.velocity * part;
    g.phase += part;
    ticks -= part;
    if (g.phase >= 1.0f - Snap) {
      g.phase = 0.0f;
      g.velocity = Decay * g.velocity + WheelToVelocity * g.scroll;
      g.scroll = Decay * g.scroll;
      if (ticks < Snap) ticks = 0.0f;
    }
  }
  return g;
}

}  // namespace

void FlyCamSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  // Inserted, not assigned: every later stage moves up one place.
  auto at = engine->UpdateList.begin() + std::min<size_t>(16, engine->UpdateList.size());
  engine->UpdateList.insert(at, [engine] { return PENGUINSCANTFLYWHATISTHIS(engine); });
  Thing::HereItsFunc.push_back(&ComponentHandler<FlyCam>::HereItsBunk);
  ComponentHandler<FlyCam>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<FlyCam>::FoodGoSad.push_back(&FoodGoSad);
}

void FlyCamSystem::GoodYumidk(Thing t) {
  // Listed once: a FlyCam added again, or a second attach, must not make the
  // Thing fly twice as fast.
  if (ComponentHandler<FlyCam>::Get(t) == nullptr) return;
  if (std::find(BasicallyEverything.begin(), BasicallyEverything.end(), t) == BasicallyEverything.end()) {
    BasicallyEverything.push_back(t);
  }
}

void FlyCamSystem::FoodGoSad(Thing t) {
  if (ComponentHandler<FlyCam>::Get(t) != nullptr) return;
  auto listed = std::find(BasicallyEverything.begin(), BasicallyEverything.end(), t);
  if (listed != BasicallyEverything.end()) BasicallyEverything.erase(listed);
}

std::string FlyCamSystem::PENGUINSCANTFLYWHATISTHIS(KestorEngineFlyHahaJk* engine) {
  const bool wasPaused = pause;
  Fly(SDL_GetKeyboardState(nullptr), engine->TimeSinceStart(), &InputSystem::Held);
  // Flying captures the mouse; paused, it is free for the control panel.
  SDL_SetRelativeMouseMode(pause ? SDL_FALSE : SDL_TRUE);
  if (wasPaused && !pause) {
    // Motion made over the panel since the pump (and the jump SDL may make
    // when it captures the pointer) is no turn of the view.
    SDL_PumpEvents();
    SDL_FlushEvent(SDL_MOUSEMOTION);
  }
  return "";
}

namespace {

// Seconds each movement key counts for this frame, Shift's boost included.
struct KeyTime {
  const uint8_t* keys;
  const HeldKeys* held;
  float frameSeconds;

  float operator()(SDL_Scancode key) const {
    if (held != nullptr) {
      return held->Held(key) + (Boost - 1.0f) * held->HeldWith(key, {SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT});
    }
    if (keys[key] == 0) return 0.0f;
    const bool shift = keys[SDL_SCANCODE_LSHIFT] != 0 || keys[SDL_SCANCODE_RSHIFT] != 0;
    return frameSeconds * (shift ? Boost : 1.0f);
  }
};

}  // namespace

void FlyCamSystem::Fly(const uint8_t* keys, float now, const HeldKeys* held) {
  float step = (now - lastTime) * StepsPerSecond;
  lastTime = now;

  // One toggle per press: a press seen as an event counts even when it was
  // released before the frame ended, and a key held over many frames toggles
  // only at its first press. SDL's held-key array is the fallback for a
  // press that came without an event. Typed into a panel field, P is text.
  const bool heldP = keys[SDL_SCANCODE_P] != 0;
  const bool wasPaused = pause;
  if (!IMGUI::CurrentlyPreoccupied()) {
    int toggles = InputSystem::PressesThisFrame(SDL_SCANCODE_P);
    if (toggles == 0 && heldP && offP) toggles = 1;
    if (toggles % 2 != 0) pause = !pause;
  }
  offP = !heldP;
  if (InputSystem::PressesThisFrame(SDL_SCANCODE_HOME) > 0) GoHome();
  // Paused frames lose their wheel input; glide and momentum resume as left.
  if (pause) return;

  // Movement keys count for the time they were held within the frame, so a
  // tap moves as far at 1 frame a second as at 60.
  const KeyTime time{keys, held, step / StepsPerSecond};
  const float forward = time(SDL_SCANCODE_W) - time(SDL_SCANCODE_S);
  const float right = time(SDL_SCANCODE_D) - time(SDL_SCANCODE_A);
  const float up = time(SDL_SCANCODE_E) - time(SDL_SCANCODE_Q);

  // The pointer's motion in the frame that starts flying was made over the
  // panel, to reach P: it is no turn of the view.
  const glm::vec2 motion = wasPaused ? glm::vec2(0.0f) : InputSystem::mouseMovement;
  const Glide glide = Advance(velocity, scroll, glidePhase, step);
  bool flew = false;
  for (size_t i = 0; i < BasicallyEverything.size(); ++i) {
    Thing thing = BasicallyEverything[i];
    Transform* t = ComponentHandler<Transform>::Get(thing);
    FlyCam* c = ComponentHandler<FlyCam>::Get(thing);
    if (t == nullptr || c == nullptr) continue;
    flew = true;

    float s = -c->Sensitivity;
    // Yaw about the world up axis, pitch about the camera's own right axis:
    // roll never builds up.
    t->Rotation = glm::angleAxis(s * motion.x, WorldUp) * t->Rotation;
    t->Rotation = t->Rotation * glm::angleAxis(s * motion.y, CameraRight);
    glm::mat3 axes = glm::mat3_cast(t->Rotation);
    glm::vec3 rightAxis = axes[0];
    glm::vec3 back = axes[2];

    t->Position -= back * glide.distance;
    const float speed = KeySpeed * StepsPerSecond;
    t->Position += (-back * forward + rightAxis * right + WorldUp * up) * speed;
  }

  // Momentum advances once per frame, not once per camera, so a second fly
  // camera neither speeds up the decay nor reads the wheel twice. The
  // frame's wheel enters at its end, as it did when frames were ticks.
  if (flew) {
    velocity = glide.velocity;
    scroll = glide.scroll + WheelIntake * InputSystem::mouseScroll.y;
    glidePhase = glide.phase;
  }
}

void FlyCamSystem::GoHome() {
  for (Thing thing : BasicallyEverything) {
    Transform* t = ComponentHandler<Transform>::Get(thing);
    FlyCam* c = ComponentHandler<FlyCam>::Get(thing);
    if (t == nullptr || c == nullptr) continue;
    t->Position = c->HomePosition;
    t->Rotation = c->HomeRotation;
  }
  velocity = scroll = glidePhase = 0.0f;
}

}  // namespace KestorEngine
