// The demo program: reads its command line, composes the engine
// (renderer/DemoComposition), loads the level, places the camera and runs
// the frame loop until the user or --frames ends it.
#include <iostream>

#include "engine/CommandLine.h"
#include "engine/Engine.h"
#include "renderer/DemoComposition.h"
#include "renderer/DemoLevel.h"
#include "renderer/FrameCapture.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "renderer/SidePanel.h"
#include "scene/CameraPathSystem.h"

using namespace KestorEngine;

int main(int argc, char** argv) {
  const CommandLine commandLine = ParseCommandLine(argc, argv, LightingPresetCount());
  if (commandLine.ExitStatus >= 0) {
    (commandLine.ExitStatus == 0 ? std::cout : std::cerr) << commandLine.Message << std::endl;
    return commandLine.ExitStatus;
  }
  const LaunchOptions& options = commandLine.Options;

  auto* engine = new KestorEngineFlyHahaJk();
  engine->ConfigPath = options.ConfigPath;
  engine->ConfigOverrides = ConfigOverrides(options);
  engine->FixedStep = options.FixedStep.value_or(0.0f);
  ComposeDemo(engine);

  RenderSystem::ShowOverlay = !options.HidePanel;
  FrameCapture::FramesToRun = options.Frames;
  FrameCapture::ImagePath = options.CapturePath;
  FrameCapture::LinearPath = options.CaptureHDRPath;

  engine->Initialize();
  // Held for the whole run (a dropped scene takes its place); released only
  // after the engine is gone.
  DemoLevel::Open(options);
  if (options.Preset) {
    LightingSetup->value = *options.Preset;
    ApplyLightingPreset(*options.Preset);
  }
  CameraPathSystem::Follow(DemoLevel::Camera(), options.CameraPath);
  if (options.FixedStep) {
    // The automatic render scale follows real frame times, which differ
    // from run to run; a scripted run keeps the scale it was given.
    TargetFrameTime->value = 0.0f;
    AutoRenderScale->value = false;
  }

  engine->RunGame();

  delete engine;
  DemoLevel::Close();
  // A capture that was asked for and not written is a failed run.
  return FrameCapture::Failed() ? 1 : 0;
}
