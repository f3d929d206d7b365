// Costs of the GUI per frame: queueing a control panel of widgets once its
// texts are cached (the steady state), and laying out a string that is new.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "BenchContext.h"
#include "engine/CVar.h"
#include "engine/Shutter.h"
#include "gui/GUI.h"
#include "gui/IMGUI.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/Mesh.h"
#include "sanegl/SaneGL.h"
#include "scene/InputSystem.h"

using namespace KestorEngine;

namespace {

// The shared context with the GUI initialised in it, once.
bool EnsureGui() {
  static bool ready = [] {
    if (!KestorBench::EnsureGLContext()) return false;
    SaneGL::StateSyncForce();
    Shutter::Width(1280.0f);
    Shutter::Height(720.0f);
    Draw::Initialize();
    GUI::Initialize(nullptr);
    return true;
  }();
  return ready;
}

// The control panel's shape: a background, a float row, twelve toggle rows
// and a few lines of text.
void QueuePanel(const std::vector<CVar<bool>*>& toggles, CVar<float>* blend) {
  GUI::DrawStyle(glm::vec2(0.0f), glm::vec2(300.0f, 720.0f), &GUI::Default.Click);
  blend->DrawGUI(glm::vec2(10.0f, 696.0f), glm::vec2(290.0f, 24.0f));
  float y = 0.0f;
  for (CVar<bool>* toggle : toggles) {
    toggle->DrawGUI(glm::vec2(10.0f, y), glm::vec2(290.0f, 24.0f));
    y += 24.0f;
  }
  GUIStyle text = GUI::Default.Click;
  text.HAlign = GUIStyle::TextHAlign::Left;
  GUI::DrawText(glm::vec2(10.0f, 400.0f), glm::vec2(290.0f, 24.0f), &text, "Press P to fly, P again for this panel");
  GUI::DrawText(glm::vec2(10.0f, 376.0f), glm::vec2(290.0f, 24.0f), &text, "Lighting presets");
}

void BM_PanelFrameCached(benchmark::State& state) {
  if (!EnsureGui()) {
    state.SkipWithError("no GL context");
    return;
  }
  std::vector<CVar<bool>*> toggles;
  for (int i = 0; i < 12; ++i) toggles.push_back(CVarHandler::Create<bool>("Bench Toggle " + std::to_string(i), true));
  CVar<float>* blend = CVarHandler::Create<float>("Bench Blend", 0.2f);
  InputSystem::InputEvents.clear();
  for (auto _ : state) {
    GUI::PreUpdate(nullptr);
    IMGUI::ReceiveInputs();
    QueuePanel(toggles, blend);
    benchmark::DoNotOptimize(DrawSystem::guidrawthings.data());
    state.counters["queued"] = static_cast<double>(DrawSystem::guidrawthings.size());
    DrawSystem::ClearCache();
    GUI::Update(nullptr);
  }
}
BENCHMARK(BM_PanelFrameCached);

void BM_LayOutNewString(benchmark::State& state) {
  if (!EnsureGui()) {
    state.SkipWithError("no GL context");
    return;
  }
  const std::string text(static_cast<size_t>(state.range(0)), 'x');
  Mesh mesh;
  for (auto _ : state) {
    GUI::CourierNew->FillMesh(&mesh, text, 14.0f);
    benchmark::DoNotOptimize(mesh.Vertices.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LayOutNewString)->Arg(16)->Arg(256);

}  // namespace
