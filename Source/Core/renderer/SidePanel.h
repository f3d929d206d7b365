#pragma once
// The control panel shown while the fly camera is paused: render switches,
// hotkey help and the four lighting presets.

namespace KestorEngine {

// Queues the panel's widgets into the GUI queue; drawn by this frame's GUI
// pass.
void RenderSidePanel();

// Applies lighting preset `index` (0-3) to the named Things of the first
// active level.
void ApplyLightingPreset(int index);
// How many presets there are (they are numbered from 0).
int LightingPresetCount();

}  // namespace KestorEngine
