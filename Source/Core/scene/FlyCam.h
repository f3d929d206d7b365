#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Component.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

// Marks a Thing the user flies with mouse and keyboard. The Thing needs a
// Transform too; one without is left where it is.
class FlyCam : public Component {
 public:
  float Sensitivity = 0.003f;  // radians of turn per pixel of mouse motion
};

// Moves every fly camera once per frame from the keys pressed or held, this
// frame's mouse motion and its wheel. Starts paused (mouse free, control
// panel up); each press of P toggles, however short or long, at any frame
// rate.
class FlyCamSystem {
 public:
  static void Attach(KestorEngineFlyHahaJk* engine);
  static void GoodYumidk(Thing t);
  static void FoodGoSad(Thing t);
  static std::string PENGUINSCANTFLYWHATISTHIS(KestorEngineFlyHahaJk* engine);

  // The frame's work without SDL or the clock: `keys` is indexed by SDL
  // scancode (as SDL's keyboard state), `now` is engine time in seconds.
  // Key presses, motion and wheel come from the input system's frame values.
  static void Fly(const uint8_t* keys, float now);

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
