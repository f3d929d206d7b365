#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <glm/gtc/quaternion.hpp>
#include <glm/vec3.hpp>

#include "engine/Component.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;
class HeldKeys;

// Marks a Thing the user flies with mouse and keyboard. The Thing needs a
// Transform too; one without is left where it is.
class FlyCam : public Component {
 public:
  float Sensitivity = 0.003f;  // radians of turn per pixel of mouse motion
  // Where Home puts the Thing back: the level's viewpoint, as the program
  // placed the camera when it opened the level.
  glm::vec3 HomePosition{0.0f};
  glm::quat HomeRotation{1.0f, 0.0f, 0.0f, 0.0f};
};

// Moves every fly camera once per frame from the keys pressed or held, this
// frame's mouse motion and its wheel. Starts paused (mouse free, control
// panel up); each press of P toggles, however short or long, at any frame
// rate. Flying: W/S forward and back, A/D left and right, Q/E down and up
// (world up), each by how long it was held in the frame, four times as fast
// with Shift; the pointer turns the view, except in the frame that starts
// flying (its motion was made over the panel). Home, paused or flying, puts
// every fly camera back where it started and stops its glide.
class FlyCamSystem {
 public:
  static void Attach(KestorEngineFlyHahaJk* engine);
  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);
  static std::string PENGUINSCANTFLYWHATISTHIS(KestorEngineFlyHahaJk* engine);

  // The frame's work without SDL or the clock: `keys` is indexed by SDL
  // scancode (as SDL's keyboard state), `now` is engine time in seconds.
  // Key presses, motion and wheel come from the input system's frame values.
  // With `held` the movement keys count for as long as it says they were
  // held; without, a key down in `keys` counts for the whole frame.
  static void Fly(const uint8_t* keys, float now, const HeldKeys* held = nullptr);
  // Every fly camera back at its home; the glide stops.
  static void GoHome();

  static inline std::vector<Thing> BasicallyEverything;
  static inline bool pause = true;
};

// Shared by every fly camera.
inline bool offP = true;          // P released since the last toggle
inline float lastTime = 0.0f;     // engine time of the previous update, seconds
inline float velocity = 0.0f;     // glide speed along the view, fed by the wheel
inline float scroll = 0.0f;       // smoothed wheel input
inline float glidePhase = 0.0f;   // how far the glide is into its current 60th of a second

}  // namespace KestorEngine
