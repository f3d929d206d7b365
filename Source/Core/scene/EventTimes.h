#pragma once
// When keys were really pressed. SDL 2 stamps an event with its own clock
// when it reads it from the window system, so every key pressed during a
// slow frame carries the time of the next pump, and a tap would last no
// time at all. On X11 the server's own time of each key event rides on the
// window-system event SDL sends just before it; those times are moved onto
// SDL's clock and put on the key events. Elsewhere the stamps stay SDL's.
#include <SDL_events.h>

#include <cstdint>

namespace KestorEngine {

// Maps the times of another millisecond clock onto SDL's. An event read at
// SDL time r that happened at t on the other clock bounds their offset from
// above by r - t; the smallest bound seen is the guess, late by the shortest
// delay any event had between happening and being read (a pump's worth at
// most, and far less once one event arrives just before a pump).
class ClockMatch {
 public:
  void Observe(uint32_t readAt, uint32_t happenedAt);
  bool Known() const { return known; }
  // `happenedAt` on SDL's clock, never after `readAt`.
  uint32_t ToSdl(uint32_t happenedAt, uint32_t readAt) const;

 private:
  bool known = false;
  uint32_t offset = 0;  // SDL time minus the other clock's, modulo 2^32
};

class EventTimes {
 public:
  // Asks SDL for the window-system events that carry the times.
  static void Enable();
  // Every event goes through here first. True for a window-system event,
  // which nothing else needs.
  static bool Note(const SDL_Event& event);
  // A key event that follows its window-system event gets that event's
  // time on SDL's clock.
  static void Restamp(SDL_KeyboardEvent& key);
};

}  // namespace KestorEngine
