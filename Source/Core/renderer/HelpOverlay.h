#pragma once
// The keys while flying: F1 shows or hides a short table of them in the
// bottom-left corner with the frame-time graph beside it. The control panel
// has its own help while paused.
#include <glm/vec2.hpp>

namespace KestorEngine {

class HelpOverlay {
 public:
  // Every frame, before the GUI pass: takes this frame's F1 presses and,
  // while flying and shown, queues the table and the graph.
  static void Queue();

  // Where the table and the graph go in a window of `window` pixels; the
  // graph has no size where the window leaves it no room.
  struct Layout {
    glm::vec2 TablePos{0.0f}, TableSize{0.0f};
    glm::vec2 GraphPos{0.0f}, GraphSize{0.0f};
  };
  static Layout Place(glm::vec2 window);

  static inline bool Shown = false;
};

}  // namespace KestorEngine
