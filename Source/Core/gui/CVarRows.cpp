#include "engine/CVar.h"

namespace KestorEngine {

// Control-panel rows of the configuration variables. They draw through the
// immediate-mode widgets, which arrive with the GUI.
template <>
int CVar<bool>::DrawGUI(glm::vec2 pos, glm::vec2 size) {
  return 0;
}

template <>
int CVar<float>::DrawGUI(glm::vec2 pos, glm::vec2 size) {
  return 0;
}

}  // namespace KestorEngine
