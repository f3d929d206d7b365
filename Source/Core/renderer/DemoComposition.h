#pragma once
// The demo's composition: which component types a level may name, which
// systems run and in what order, and where the fly camera starts. The
// program, the frame benchmark and the tests that run the program's own frame
// all build it from here, so none of them drifts from what users run.
#include "engine/Thing.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;
class Scene;
struct LaunchOptions;

// Transform, MeshRenderer, LightField, ISArea, ISContainer, Sky, Viewpoint.
// Registering twice is harmless.
void RegisterLevelComponents();

// The level's component types, then the systems: input, renderer, GUI,
// immediate widgets, draw queues, transforms, mesh renderers, the camera
// path, scenes dropped on the window and, last, the fly camera (it inserts
// its slot, moving every later one up).
void ComposeDemo(KestorEngineFlyHahaJk* engine);

// The fly camera's Thing (Transform, Camera, FlyCam): where `options` put it
// (--camera, --fov), else where `level`'s Viewpoint says (level may be null),
// else at the street's corner looking down the lane.
Thing BuildStartCamera(const LaunchOptions& options, const Scene* level);
// Puts an existing camera Thing there (its lens too) and makes it the place
// Home returns to.
void PlaceCamera(Thing thing, const LaunchOptions& options, const Scene* level);

}  // namespace KestorEngine
