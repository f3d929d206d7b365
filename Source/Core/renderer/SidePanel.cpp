#include "renderer/SidePanel.h"

namespace KestorEngine {

void RenderSidePanel() {}

void ApplyLightingPreset(int) {}

}  // namespace KestorEngine
