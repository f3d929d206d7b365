#pragma once
#include <glm/vec2.hpp>

#include "engine/CVar.h"

namespace KestorEngine {

// The renderer's switches, registered before main runs so that the
// configuration file read by Initialize finds them.
extern CVar<float>* TemporalSSExponent;
// Factor on the linear light before the tone curve; set by the presets.
extern CVar<float>* Exposure;
extern CVar<bool>* MotionBlur;
extern CVar<bool>* UpdateGI;
extern CVar<bool>* UpdateVoxels;
extern CVar<bool>* UpdateVoxelsHQ;
extern CVar<bool>* UpdateAcceleration;
extern CVar<bool>* RaycastScreen;
extern CVar<bool>* RenderGBuffer;
extern CVar<bool>* ClearVoxels;
extern CVar<bool>* TemporalSS;
extern CVar<bool>* FinalBlitEn;
extern CVar<bool>* DepthPrePass;
extern CVar<bool>* DeferredOrForward;
extern CVar<int>* LightingSetup;
extern CVar<int>* NoiseStyle;
extern CVar<bool>* CastGI;
// The area lights, the indirect light and the reflections worked out for
// one pixel of each 2 x 2 block a frame and shared with the others.
extern CVar<bool>* SparseLight;
extern CVar<bool>* CastSpecular;
extern CVar<bool>* CastIS;
extern CVar<bool>* HQReflections;
extern CVar<bool>* VisualizeVoxels;
extern CVar<glm::vec2>* ScreenResolution;
extern CVar<bool>* Fullscreen;
// Side of the scene's targets against the window, 0.25 to 1; the temporal
// pass brings the picture back to the window's size.
extern CVar<float>* RenderScale;
// Milliseconds a frame may take; above 0 the render scale follows it, once
// a second, up and down.
extern CVar<float>* TargetFrameTime;
// On (the default) and without a Target Frame Time: where frames take
// longer than AutoFrameTimeMs (a software renderer, a big window), the
// render scale drops below the one set and climbs back to it as frames
// speed up, never above it, so a fast GPU keeps the scale it was given.
// Runs of a set number of frames (--frames) turn it off: their pictures
// must not depend on how busy the machine is.
extern CVar<bool>* AutoRenderScale;
// The memory a cascaded light field's volumes may take, MiB: a level file
// asking for more levels than fit gets fewer (the coarsest left out).
extern CVar<int>* LightFieldBudget;
constexpr float AutoFrameTimeMs = 100.0f;
// Texels a side of each cascade of the sun's shadow map; 0: no map, the
// screen's sunlight shadowed by the light field alone.
extern CVar<int>* SunShadowMap;

// Once a second, with that second's mean frame time in milliseconds: sets
// the render scale the next frames use, as the two variables above say.
void FollowFrameTime(float frameMs);

}  // namespace KestorEngine
