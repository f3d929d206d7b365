#include "renderer/RenderSettings.h"

#include <algorithm>

#include "engine/MathChecks.h"
#include "renderer/RenderSystem.h"
#include "renderer/SidePanel.h"

namespace KestorEngine {

// Order matters: it is the registration order, and every one must exist
// before the configuration file is read.
CVar<float>* TemporalSSExponent = CVarHandler::Create<float>("Temporal Sample Blend", 0.2f);
CVar<float>* Exposure = CVarHandler::Create<float>("Exposure", 1.1f);
CVar<bool>* MotionBlur = CVarHandler::Create<bool>("Motion Blur", true);
CVar<bool>* UpdateGI = CVarHandler::Create<bool>("Update GI", true);
CVar<bool>* UpdateVoxels = CVarHandler::Create<bool>("Update Voxels", true);
CVar<bool>* UpdateVoxelsHQ = CVarHandler::Create<bool>("Update Voxels HQ", true);
CVar<bool>* UpdateAcceleration = CVarHandler::Create<bool>("Update Acceleration", true);
CVar<bool>* RaycastScreen = CVarHandler::Create<bool>("Raycast Screen", true);
CVar<bool>* RenderGBuffer = CVarHandler::Create<bool>("Render G Buffer", true);
CVar<bool>* ClearVoxels = CVarHandler::Create<bool>("Clear Voxels", true);
CVar<bool>* TemporalSS = CVarHandler::Create<bool>("Temporal Sampling", true);
CVar<bool>* FinalBlitEn = CVarHandler::Create<bool>("Final Blit", true);
CVar<bool>* DepthPrePass = CVarHandler::Create<bool>("Depth Pre Pass", false);
CVar<bool>* DeferredOrForward = CVarHandler::Create<bool>("Deferred Render", true);
CVar<int>* LightingSetup = CVarHandler::Create<int>("LightingSetup", 0);
CVar<int>* NoiseStyle = CVarHandler::Create<int>("NoiseStyle", 0);
CVar<bool>* CastGI = CVarHandler::Create<bool>("Cast Bounce/Other", true);
CVar<bool>* CastSpecular = CVarHandler::Create<bool>("Cast Reflections", true);
CVar<bool>* CastIS = CVarHandler::Create<bool>("Cast Importance", true);
CVar<bool>* HQReflections = CVarHandler::Create<bool>("HQ Reflections", true);
CVar<int>* LightFieldBudget = CVarHandler::Create<int>("Light Field Budget", 512);
CVar<bool>* SparseLight = CVarHandler::Create<bool>("Sparse Light", true);
CVar<bool>* VisualizeVoxels = CVarHandler::Create<bool>("Visualize Voxels", false);
CVar<glm::vec2>* ScreenResolution = CVarHandler::Create<glm::vec2>("Screen Resolution", {1280, 720});
CVar<bool>* Fullscreen = CVarHandler::Create<bool>("Fullscreen", true);
CVar<float>* RenderScale = CVarHandler::Create<float>("Render Scale", 1.0f);
CVar<float>* TargetFrameTime = CVarHandler::Create<float>("Target Frame Time", 0.0f);
CVar<bool>* AutoRenderScale = CVarHandler::Create<bool>("Auto Render Scale", true);
CVar<int>* SunShadowMap = CVarHandler::Create<int>("Sun Shadow Map", 768);

namespace {

// The scale the automatic choice last set, and the highest it may choose:
// the one set by someone else (the configuration, the panel's slider).
float chosen = -1.0f;
float ceiling = 1.0f;

}  // namespace

void FollowFrameTime(float frameMs) {
  if (TargetFrameTime->value > 0.0f) {
    RenderScale->value = RenderSystem::NextRenderScale(RenderScale->value, TargetFrameTime->value, frameMs);
    chosen = -1.0f;
    return;
  }
  if (!AutoRenderScale->value) {
    chosen = -1.0f;
    return;
  }
  if (RenderScale->value != chosen) ceiling = std::clamp(RenderScale->value, RenderSystem::MinRenderScale, 1.0f);
  chosen = std::min(RenderSystem::NextRenderScale(RenderScale->value, AutoFrameTimeMs, frameMs), ceiling);
  RenderScale->value = chosen;
}

namespace {

// What the renderer copes with; --set and the configuration file refuse
// the rest. Exposure and blend factors scale linear light: negative or
// huge ones turn the frame black or into infinities.
[[maybe_unused]] const bool limited = [] {
  TemporalSSExponent->Limit(0.0, 1.0);
  Exposure->Limit(0.0, 1000.0);
  LightingSetup->Limit(0, LightingPresetCount() - 1);
  NoiseStyle->Limit(0, 2);
  ScreenResolution->Limit(0.0, kMaxPixelSide);  // (0, 0): a maximised window
  RenderScale->Limit(RenderSystem::MinRenderScale, 1.0);
  TargetFrameTime->Limit(0.0, 1000.0);
  return true;
}();

}  // namespace

}  // namespace KestorEngine
