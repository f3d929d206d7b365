#pragma once
// The last few hundred frames' times, as a bar graph with the figures that
// matter beside it: this second's frame time and rate, the pass timers'
// total and the render scale. The control panel shows it while paused, the
// help overlay (F1) while flying.
#include <cstddef>
#include <deque>

#include <glm/vec2.hpp>

namespace KestorEngine {

class FrameGraph {
 public:
  static constexpr std::size_t KeptFrames = 300;

  // A frame ended at `now` (engine seconds); its time is the span since the
  // last one. The first call only starts the clock.
  static void Record(float now);
  // Milliseconds, oldest first, at most KeptFrames.
  static const std::deque<float>& Times() { return times; }
  static void Reset();

  // The graph's top value in milliseconds for these times and a target
  // (0: none): a round figure at or above the slowest frames (all but the
  // slowest tenth, which reach the top) and a quarter above the target, so
  // the target line sits inside the graph.
  static float ScaleFor(const std::deque<float>& times, float targetMs);

  // Queues the graph (background, one bar per frame, the target's line and
  // the text rows above the bars) into a box of `size` at `pos`, GUI pixels.
  static void Draw(glm::vec2 pos, glm::vec2 size);
  // Pixels the text rows above the bars take.
  static constexpr float TextRows = 54.0f;

 private:
  static inline std::deque<float> times;
  static inline float last = -1.0f;
};

}  // namespace KestorEngine
