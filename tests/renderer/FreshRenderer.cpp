// The renderer keeps its settings and frame bookkeeping in statics. Between
// the tests of one process this puts back what a fresh process has, so
// RendererTests passes run as one process as well as one test at a time:
// every configuration variable's value, the frame counters, the systems'
// lists and the callbacks their Attach calls left on the component types.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/CVar.h"
#include "renderer/RenderSystem.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"
#include "support/EngineStatics.h"

namespace {

using namespace KestorEngine;

class FreshRenderer : public ::testing::EmptyTestEventListener {
  void OnTestProgramStart(const ::testing::UnitTest&) override {
    for (const auto& [name, var] : CVarHandler::CVarDict()) {
      Remember<bool>(var) || Remember<int>(var) || Remember<float>(var) || Remember<glm::vec2>(var);
    }
  }

  void OnTestEnd(const ::testing::TestInfo&) override {
    for (const auto& restore : restores) restore();
    KestorTest::ForgetFollowers<Camera, Transform, LightField, ISArea, Sky, MeshRenderer, FlyCam>();
    TransformSystem::BasicallyEverything.clear();
    MeshRendererSystem::MeshyThings.clear();
    FlyCamSystem::BasicallyEverything.clear();
    RenderSystem::CameraThings.clear();
    RenderSystem::LitThings.clear();
    RenderSystem::BrightThings.clear();
    RenderSystem::SkyThings.clear();
    RenderSystem::lastFrameFinish = -1.0f;
    RenderSystem::frameCounter = 0;
    RenderSystem::maswap = false;
    RenderSystem::SampledLastFrame.clear();
    RenderSystem::ReadAfterFrame.clear();
    RenderSystem::Table = nullptr;
    RenderSystem::ShowOverlay = true;
  }

  template <typename T>
  bool Remember(CVarT* var) {
    auto* typed = dynamic_cast<CVar<T>*>(var);
    if (typed == nullptr) return false;
    restores.push_back([typed, value = typed->value] { typed->value = value; });
    return true;
  }

  std::vector<std::function<void()>> restores;
};

const bool installed = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshRenderer);
  return true;
}();

}  // namespace
