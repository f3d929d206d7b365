#include "scene/EventTimes.h"

#include <SDL.h>
#include <SDL_syswm.h>

namespace KestorEngine {

namespace {

int32_t Difference(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

ClockMatch& ServerClock() {
  static ClockMatch clock;
  return clock;
}

// The server time of the key event SDL is about to deliver, if the last
// window-system event was one.
bool pending = false;
uint32_t pendingTime = 0;
uint32_t pendingReadAt = 0;

}  // namespace

void ClockMatch::Observe(uint32_t readAt, uint32_t happenedAt) {
  const uint32_t bound = readAt - happenedAt;
  if (!known || Difference(bound, offset) < 0) offset = bound;
  known = true;
}

uint32_t ClockMatch::ToSdl(uint32_t happenedAt, uint32_t readAt) const {
  if (!known) return readAt;
  const uint32_t mapped = happenedAt + offset;
  return Difference(mapped, readAt) > 0 ? readAt : mapped;
}

void EventTimes::Enable() {
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
#endif
}

bool EventTimes::Note(const SDL_Event& event) {
  if (event.type != SDL_SYSWMEVENT) return false;
  pending = false;
#if defined(SDL_VIDEO_DRIVER_X11)
  const SDL_SysWMmsg* msg = event.syswm.msg;
  if (msg == nullptr || msg->subsystem != SDL_SYSWM_X11) return true;
  const XEvent& x = msg->msg.x11.event;
  uint32_t time = 0;
  switch (x.type) {
    case KeyPress:
    case KeyRelease:
      time = static_cast<uint32_t>(x.xkey.time);
      pending = true;
      break;
    case ButtonPress:
    case ButtonRelease:
      time = static_cast<uint32_t>(x.xbutton.time);
      break;
    case MotionNotify:
      time = static_cast<uint32_t>(x.xmotion.time);
      break;
    default:
      return true;
  }
  // Pointer events sharpen the guess too: a moving mouse sends many.
  ServerClock().Observe(event.syswm.timestamp, time);
  pendingTime = time;
  pendingReadAt = event.syswm.timestamp;
#endif
  return true;
}

void EventTimes::Restamp(SDL_KeyboardEvent& key) {
  if (!pending) return;
  pending = false;
  key.timestamp = ServerClock().ToSdl(pendingTime, pendingReadAt);
}

}  // namespace KestorEngine
