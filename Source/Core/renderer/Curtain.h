#pragma once
// How the renderer sees the curtain: one call a frame brings it up to date
// (hotkeys, fixed steps, the surface mesh), and the surface to draw.
#include "renderer/Cloth.h"

namespace KestorEngine {

// The curtain's surface while there is a curtain to show, else null.
Resource<Mesh>* CurtainSurface();

}  // namespace KestorEngine
