#include "scene/HeldKeys.h"

#include <algorithm>

namespace KestorEngine {

namespace {

bool Valid(SDL_Scancode key) { return key > SDL_SCANCODE_UNKNOWN && key < SDL_NUM_SCANCODES; }

// Signed, so that the clock's wrap after 49 days is one more millisecond.
int32_t Since(uint32_t later, uint32_t earlier) { return static_cast<int32_t>(later - earlier); }

}  // namespace

void HeldKeys::BeginFrame(uint32_t now) {
  frameStart = started ? frameEnd : now;
  // A clock that went back (a test's, or a stamp from another source) makes
  // an empty frame rather than a negative one.
  if (Since(now, frameStart) < 0) frameStart = now;
  frameEnd = now;
  started = true;
  spans.clear();
  for (int key = 0; key < SDL_NUM_SCANCODES; ++key) {
    if (down[key]) since[key] = frameStart;
  }
}

uint32_t HeldKeys::Clamp(uint32_t at) const {
  if (Since(at, frameStart) < 0) return frameStart;
  if (Since(frameEnd, at) < 0) return frameEnd;
  return at;
}

void HeldKeys::Down(SDL_Scancode key, uint32_t at) {
  if (!Valid(key) || down[key]) return;
  down[key] = true;
  since[key] = Clamp(at);
}

void HeldKeys::Up(SDL_Scancode key, uint32_t at) {
  if (!Valid(key) || !down[key]) return;
  down[key] = false;
  // Stamps of one frame may come out of order by a millisecond or two.
  const uint32_t to = Clamp(at);
  spans.push_back({key, {since[key], Since(to, since[key]) < 0 ? since[key] : to}});
}

void HeldKeys::EndFrame() {
  for (int key = 0; key < SDL_NUM_SCANCODES; ++key) {
    if (down[key]) spans.push_back({static_cast<SDL_Scancode>(key), {since[key], frameEnd}});
  }
}

float HeldKeys::Held(SDL_Scancode key) const {
  uint32_t total = 0;
  for (const auto& [k, span] : spans) {
    if (k == key) total += span.second - span.first;
  }
  return static_cast<float>(total) / 1000.0f;
}

float HeldKeys::HeldWith(SDL_Scancode key, std::initializer_list<SDL_Scancode> with) const {
  // Each millisecond of the key's spans counts once, however many of `with`
  // were held in it.
  std::vector<Span> others;
  for (const auto& [k, span] : spans) {
    if (std::find(with.begin(), with.end(), k) != with.end()) others.push_back(span);
  }
  std::sort(others.begin(), others.end());
  std::vector<Span> merged;
  for (const Span& s : others) {
    if (!merged.empty() && s.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, s.second);
    } else {
      merged.push_back(s);
    }
  }
  uint32_t total = 0;
  for (const auto& [k, span] : spans) {
    if (k != key) continue;
    for (const Span& m : merged) {
      const uint32_t from = std::max(span.first, m.first), to = std::min(span.second, m.second);
      if (to > from) total += to - from;
    }
  }
  return static_cast<float>(total) / 1000.0f;
}

float HeldKeys::FrameSeconds() const { return static_cast<float>(frameEnd - frameStart) / 1000.0f; }

}  // namespace KestorEngine
