#pragma once
// How long each key was held within the last frame, from the times its
// presses and releases happened rather than from whether it is down when
// the frame is looked at. A tap of 0.1 s is 0.1 s of holding at 1 frame a
// second as at 60; a key held on fills every frame it spans.
//
// Frame by frame (the pump's times, milliseconds; D down, U up):
//   frame (from, to]   events          Held
//   (0, 500]           D at 100        400   (held on at the frame's end)
//   (500, 1000]        U at 600        100   (from the frame's start)
//   (1000, 1500]       D 1100, U 1200  100
#include <SDL_scancode.h>

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace KestorEngine {

class HeldKeys {
 public:
  // A new frame that ends at `now` (the previous one's end is its start);
  // keys held on carry over. Times are SDL's milliseconds.
  void BeginFrame(uint32_t now);
  // A press or release at `at`; times outside the frame count at its edge.
  // A press of a key already down (an auto-repeat) and a release of one
  // that is up change nothing.
  void Down(SDL_Scancode key, uint32_t at);
  void Up(SDL_Scancode key, uint32_t at);
  // Closes the spans of the keys still held at the frame's end.
  void EndFrame();

  // Seconds `key` was held this frame.
  float Held(SDL_Scancode key) const;
  // Seconds `key` was held while any of `with` was held too.
  float HeldWith(SDL_Scancode key, std::initializer_list<SDL_Scancode> with) const;
  // The frame's length in seconds; 0 before the second frame.
  float FrameSeconds() const;
  // Whether `key` has been seen going down and not yet up.
  bool IsDown(SDL_Scancode key) const { return key >= 0 && key < SDL_NUM_SCANCODES && down[key]; }

 private:
  using Span = std::pair<uint32_t, uint32_t>;  // from, to
  uint32_t Clamp(uint32_t at) const;

  bool started = false;
  uint32_t frameStart = 0, frameEnd = 0;
  bool down[SDL_NUM_SCANCODES] = {};
  uint32_t since[SDL_NUM_SCANCODES] = {};
  // This frame's spans, per key that had one.
  std::vector<std::pair<SDL_Scancode, Span>> spans;
};

}  // namespace KestorEngine
