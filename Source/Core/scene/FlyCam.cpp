#include "scene/FlyCam.h"

#include <SDL.h>

#include <algorithm>
#include <glm/gtc/quaternion.hpp>
#include <glm/mat3x3.hpp>

#include "engine/Engine.h"
#include "scene/InputSystem.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

constexpr float StepsPerSecond = 60.0f;  // movement constants are per 60th of a second
constexpr float KeySpeed = 0.05f;
constexpr float GlideSpeed = 0.025f;
constexpr float Decay = 0.9f;          // per-frame decay of glide speed and wheel input
constexpr float WheelToVelocity = 0.5f;
constexpr float WheelIntake = 0.1f;

const glm::vec3 WorldUp(0.0f, 0.0f, 1.0f);
const glm::vec3 CameraRight(1.0f, 0.0f, 0.0f);

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
  if (ComponentHandler<FlyCam>::Get(t) != nullptr) BasicallyEverything.push_back(t);
}

void FlyCamSystem::FoodGoSad(Thing t) {
  if (ComponentHandler<FlyCam>::Get(t) != nullptr) return;
  auto listed = std::find(BasicallyEverything.begin(), BasicallyEverything.end(), t);
  if (listed != BasicallyEverything.end()) BasicallyEverything.erase(listed);
}

std::string FlyCamSystem::PENGUINSCANTFLYWHATISTHIS(KestorEngineFlyHahaJk* engine) {
  Fly(SDL_GetKeyboardState(nullptr), engine->TimeSinceStart());
  // Flying captures the mouse; paused, it is free for the control panel.
  SDL_SetRelativeMouseMode(pause ? SDL_FALSE : SDL_TRUE);
  return "";
}

void FlyCamSystem::Fly(const uint8_t* keys, float now) {
  float step = (now - lastTime) * StepsPerSecond;
  lastTime = now;

  // One toggle per press, however long P is held.
  if (!keys[SDL_SCANCODE_P]) {
    offP = true;
  } else if (offP) {
    pause = !pause;
    offP = false;
  }
  // Paused frames lose their wheel input; glide and momentum resume as left.
  if (pause) return;

  glm::vec2 motion = InputSystem::mouseMovement;
  float glide = -GlideSpeed * velocity * step;  // the speed before this frame's change
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
    glm::vec3 right = axes[0];
    glm::vec3 back = axes[2];

    t->Position += back * glide;
    if (keys[SDL_SCANCODE_W]) t->Position += back * (-KeySpeed * step);
    if (keys[SDL_SCANCODE_S]) t->Position += back * (KeySpeed * step);
    if (keys[SDL_SCANCODE_D]) t->Position += right * (KeySpeed * step);
    if (keys[SDL_SCANCODE_A]) t->Position += right * (-KeySpeed * step);
  }

  // Momentum advances once per frame, not once per camera, so a second fly
  // camera neither speeds up the decay nor reads the wheel twice.
  if (flew) {
    velocity = Decay * velocity + WheelToVelocity * scroll;
    scroll = Decay * scroll + WheelIntake * InputSystem::mouseScroll.y;
  }
}

}  // namespace KestorEngine
