// The lighting presets on the shipped street, judged from the pictures the
// renderer makes: night is dark but for its lights, and each lit lamp lights
// the ground around it; sunset is warm, unlike the afternoon, and its low
// sun picks out the street's setts; the fire neither clips nor flickers more
// than daylight does; a still picture takes up a new preset within a few
// frames.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/quaternion.hpp>

#include "engine/Component.h"
#include "engine/Engine.h"
#include "engine/Scene.h"
#include "engine/Shutter.h"
#include "render/Draw.h"
#include "render/DrawSystem.h"
#include "render/TextureReadback.h"
#include "renderer/DemoComposition.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "renderer/SidePanel.h"
#include "sanegl/GL.h"
#include "scene/Camera.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

constexpr int Width = 160;
constexpr int Height = 90;

enum Preset { FullBright = 0, CozyFire = 1, NightRead = 2, Sunset = 3 };

using Picture = std::vector<glm::vec3>;

float Luminance(glm::vec3 c) { return glm::dot(c, glm::vec3(0.2126f, 0.7152f, 0.0722f)); }

float MeanLuminance(const Picture& p) {
  double sum = 0.0;
  for (const glm::vec3& c : p) sum += Luminance(c);
  return static_cast<float>(sum / static_cast<double>(p.size()));
}

// Mean absolute difference per channel.
float MeanDifference(const Picture& a, const Picture& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    const glm::vec3 d = glm::abs(a[i] - b[i]);
    sum += (d.r + d.g + d.b) / 3.0f;
  }
  return static_cast<float>(sum / static_cast<double>(a.size()));
}

float ClippedShare(const Picture& display) {
  size_t clipped = 0;
  for (const glm::vec3& c : display) {
    if (std::max({c.r, c.g, c.b}) >= 254.5f / 255.0f) ++clipped;
  }
  return static_cast<float>(clipped) / static_cast<float>(display.size());
}

class StreetPresets : public KestorTest::GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    KestorTest::CaptureStdout quiet;
    // The pictures are read from the window as it shows them, so it must be
    // shown at their size. A hidden window keeps the back buffer it was made
    // with; the X server maps and resizes the shown one as it handles the
    // events, and the driver takes the new size at the next swap.
    SDL_SetWindowSize(KestorTest::TestWindow(), Width, Height);
    SDL_ShowWindow(KestorTest::TestWindow());
    for (int i = 0; i < 20; ++i) {
      SDL_PumpEvents();
      SDL_Delay(10);
    }
    SDL_GL_SwapWindow(KestorTest::TestWindow());
    SDL_GL_MakeCurrent(KestorTest::TestWindow(), SDL_GL_GetCurrentContext());
    RegisterLevelComponents();
    engine.PrepareStageLists();
    RenderSystem::Attach(&engine);
    TransformSystem::Attach(&engine);
    MeshRendererSystem::Attach(&engine);
    Draw::Initialize();
    level = std::make_unique<Scene>("StreetTest");

    camera = Thing::Gimme();
    ComponentHandler<Transform>::Gimmoo(camera);
    ComponentHandler<Camera>::Gimmoo(camera);
    ComponentHandler<Camera>::Get(camera)->FocalLength(24.0f);
    Shutter::Width(static_cast<float>(Width));
    Shutter::Height(static_cast<float>(Height));
    ScreenResolution->value = glm::vec2(Width, Height);
    FlyCamSystem::pause = false;
  }

  void TearDown() override {
    ComponentHandler<Camera>::HereItsBunk(camera);
    ComponentHandler<Transform>::HereItsBunk(camera);
    DrawSystem::ClearCache();
    level.reset();
    SDL_HideWindow(KestorTest::TestWindow());
    SDL_SetWindowSize(KestorTest::TestWindow(), 64, 64);
    GLTest::TearDown();
  }

  void Look(glm::vec3 from, glm::vec3 at) {
    Transform* x = ComponentHandler<Transform>::Get(camera);
    x->Position = from;
    x->Rotation = glm::quat_cast(glm::inverse(glm::lookAt(from, at, glm::vec3(0, 0, 1))));
    view = {from, at};
  }

  // Renders until the picture of the current view has settled after a
  // change of lighting. A still camera keeps its history for long, so one
  // frame looks elsewhere first: the picture then builds up afresh.
  void Settle() {
    const auto [from, at] = view;
    Look(from, from + glm::vec3(0.0f, 0.1f, 5.0f));
    Frames(1);
    Look(from, at);
    Frames(SettleFrames);
  }

  void Frames(int count) {
    KestorTest::CaptureStdout quiet;
    for (int i = 0; i < count; ++i) {
      TransformSystem::MAKETHEMATERIALREALITY(&engine);
      MeshRendererSystem::MAKEITpretty(&engine);
      RenderSystem::RenderFrame(&engine);
      DrawSystem::ClearCache();
    }
    glFinish();
  }

  // What the window shows, 0..1 per channel, rows from the bottom.
  Picture Display() {
    std::vector<uint8_t> bytes(Width * Height * 3);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, Width, Height, GL_RGB, GL_UNSIGNED_BYTE, bytes.data());
    Picture p(Width * Height);
    for (size_t i = 0; i < p.size(); ++i) {
      p[i] = glm::vec3(bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]) / 255.0f;
    }
    return p;
  }

  // The linear light the presentation pass tone-maps, rows from the bottom.
  Picture Linear() {
    Texbit* history = ComponentHandler<Camera>::Get(camera)->Targets.OldLayer1;
    const std::vector<uint8_t> bytes =
        KestorTest::ReadTexels(*history, GL_RGB, GL_FLOAT, history->Width * history->Height * 12);
    Picture p(static_cast<size_t>(history->Width * history->Height));
    std::copy_n(reinterpret_cast<const float*>(bytes.data()), p.size() * 3, &p[0].x);
    return p;
  }

  // Pixel index of a world point, or -1 when it is off screen or behind.
  int PixelOf(glm::vec3 world) {
    Camera* c = ComponentHandler<Camera>::Get(camera);
    Transform* x = ComponentHandler<Transform>::Get(camera);
    const glm::vec4 clip = c->Projection * x->WorldInverse * glm::vec4(world, 1.0f);
    if (clip.w <= 0.0f) return -1;
    const int px = static_cast<int>((clip.x / clip.w * 0.5f + 0.5f) * Width);
    const int py = static_cast<int>((clip.y / clip.w * 0.5f + 0.5f) * Height);
    if (px < 0 || py < 0 || px >= Width || py >= Height) return -1;
    return py * Width + px;
  }

  static constexpr int SettleFrames = 16;

  KestorEngineFlyHahaJk engine;
  std::unique_ptr<Scene> level;
  Thing camera;
  std::pair<glm::vec3, glm::vec3> view;
};

// Down the lane from the start position: sky, both houses, a lamp and the
// brazier.
const glm::vec3 LaneFrom(2.66f, -5.22f, 1.23f), LaneAt(-1.0f, -1.0f, 2.0f);

TEST_F(StreetPresets, NightIsDarkButItsLampsLightTheGroundAroundThem) {
  Look(LaneFrom, LaneAt);
  ApplyLightingPreset(FullBright);
  Settle();
  const float day = MeanLuminance(Display());
  ApplyLightingPreset(NightRead);
  Settle();
  const float night = MeanLuminance(Display());
  EXPECT_LE(night, 0.3f * day) << "night " << night << ", full bright " << day;
  std::printf("A Night Read: mean luminance %.3f of Full Bright's\n", night / day);

  // Each lamp the preset lights, seen from above: the ground within 2 m of
  // its foot, with and without its area light.
  struct Lamp {
    const char* Mesh;
    const char* Area;
  };
  for (const Lamp& lamp : {Lamp{"Light1Mesh", "Light1IS"}, Lamp{"Light2Mesh", "Light2IS"}}) {
    const Thing area = level->Things.at(lamp.Area);
    if (ComponentHandler<ISArea>::Get(area) == nullptr) continue;
    const glm::vec3 bulb(ComponentHandler<Transform>::Get(area)->World[3]);
    const glm::vec3 foot(bulb.x, bulb.y, 0.0f);
    Look(foot + glm::vec3(2.0f, -2.0f, 5.0f), foot);
    Settle();
    std::vector<int> ground;
    for (float r = 0.4f; r <= 2.0f; r += 0.2f) {
      for (int k = 0; k < 24; ++k) {
        const float a = 6.2831853f * static_cast<float>(k) / 24.0f;
        glm::vec3 p = foot + r * glm::vec3(std::cos(a), std::sin(a), 0.0f);
        if (std::abs(p.x) > 3.25f) continue;  // inside a house
        p.z = std::abs(p.x) > 2.0f ? 0.15f : 0.0f;  // pavement or street
        const int pixel = PixelOf(p);
        if (pixel >= 0) ground.push_back(pixel);
      }
    }
    ASSERT_GT(ground.size(), 100u) << lamp.Area;
    auto groundLight = [&](const Picture& p) {
      double sum = 0.0;
      for (int i : ground) sum += Luminance(p[i]);
      return static_cast<float>(sum / static_cast<double>(ground.size()));
    };
    const float lit = groundLight(Linear());
    ComponentHandler<ISArea>::HereItsBunk(area);
    Settle();
    const float unlit = groundLight(Linear());
    ComponentHandler<ISArea>::Gimmoo(area);
    EXPECT_GE(lit, 3.0f * unlit) << lamp.Area << ": " << lit << " with its area, " << unlit << " without";
    std::printf("A Night Read: ground near %s %.2f x brighter with its area\n", lamp.Mesh, lit / unlit);
  }
}

TEST_F(StreetPresets, SunsetIsWarmAndUnlikeTheAfternoon) {
  // The street from above the lane's south end: lit ground and shadows.
  Look(glm::vec3(0.0f, -7.5f, 3.0f), glm::vec3(0.0f, 0.0f, 0.0f));
  ApplyLightingPreset(FullBright);
  Settle();
  const Picture afternoon = Display();
  Frames(1);
  const float captureNoise = MeanDifference(afternoon, Display());
  ApplyLightingPreset(Sunset);
  Settle();
  const Picture sunset = Display();
  const float change = MeanDifference(afternoon, sunset);
  EXPECT_GE(change, 5.0f * captureNoise) << "change " << change << ", noise " << captureNoise;
  std::printf("Sunset: differs from Full Bright by %.1f x the frame-to-frame noise\n", change / captureNoise);

  // The lit part of the street: its brightest third.
  const Picture light = Linear();
  std::vector<glm::vec3> street;
  for (float x = -1.8f; x <= 1.8f; x += 0.2f) {
    for (float y = -6.0f; y <= 6.0f; y += 0.2f) {
      const int pixel = PixelOf(glm::vec3(x, y, 0.0f));
      if (pixel >= 0) street.push_back(light[pixel]);
    }
  }
  ASSERT_GT(street.size(), 300u);
  std::sort(street.begin(), street.end(),
            [](glm::vec3 a, glm::vec3 b) { return Luminance(a) > Luminance(b); });
  glm::vec3 lit(0.0f);
  for (size_t i = 0; i < street.size() / 3; ++i) lit += street[i];
  EXPECT_GE(lit.r, 1.5f * lit.b) << "lit ground " << lit.r << ", " << lit.g << ", " << lit.b;
  std::printf("Sunset: lit ground red/blue %.2f\n", lit.r / lit.b);

  // The setts (25 cm stones in rows across the lane) under the low sun down
  // the lane, seen from close by: the slopes of each row that face the sun
  // are brighter than those turned away from it.
  Look(glm::vec3(0.0f, -4.0f, 0.8f), glm::vec3(0.0f, -1.5f, 0.0f));
  Settle();
  const Picture near = Linear();
  float before = 0.0f, after = 0.0f;
  for (float x = -1.0f; x <= 1.0f; x += 0.05f) {
    for (int row = -14; row < -6; ++row) {
      const float centre = (static_cast<float>(row) + 0.5f) * 0.25f;
      const int a = PixelOf(glm::vec3(x, centre - 0.08f, 0.0f)), b = PixelOf(glm::vec3(x, centre + 0.08f, 0.0f));
      if (a < 0 || b < 0) continue;
      before += Luminance(near[a]);
      after += Luminance(near[b]);
    }
  }
  const float relief = std::max(before / after, after / before);
  EXPECT_GE(relief, 1.15f) << "slopes of the setts " << before << " and " << after;
  std::printf("Sunset: the setts' sunlit slopes %.2f x brighter than the others\n", relief);
}

TEST_F(StreetPresets, CozyFireNeitherClipsNorFlickersMoreThanDaylight) {
  Look(LaneFrom, LaneAt);
  // Noise: how much consecutive frames of a still camera differ, relative to
  // the picture's brightness, over a few frames.
  auto settledNoise = [&](int preset, Picture& last) {
    ApplyLightingPreset(preset);
    Settle();
    float noise = 0.0f;
    last = Display();
    for (int i = 0; i < 3; ++i) {
      Frames(1);
      Picture next = Display();
      noise += MeanDifference(last, next) / MeanLuminance(next) / 3.0f;
      last = std::move(next);
    }
    return noise;
  };
  Picture day, fire;
  const float dayNoise = settledNoise(FullBright, day);
  const float fireNoise = settledNoise(CozyFire, fire);
  EXPECT_LE(ClippedShare(fire), 0.005f);
  EXPECT_LE(fireNoise, 1.5f * dayNoise) << "cozy fire " << fireNoise << ", full bright " << dayNoise;
  std::printf("Cozy Fire: %.2f %% clipped, noise %.2f x Full Bright's\n", 100.0f * ClippedShare(fire),
              fireNoise / dayNoise);
}

// Mean luminance of each 10 x 10 block, relative to the whole picture's:
// the grain of a few frames averages out, what the picture shows does not.
float BlockDifference(const Picture& a, const Picture& b) {
  double diff = 0.0, total = 0.0;
  for (int by = 0; by < Height; by += 10) {
    for (int bx = 0; bx < Width; bx += 10) {
      double sa = 0.0, sb = 0.0;
      for (int y = by; y < by + 10; ++y) {
        for (int x = bx; x < bx + 10; ++x) {
          sa += Luminance(a[y * Width + x]);
          sb += Luminance(b[y * Width + x]);
        }
      }
      diff += std::abs(sa - sb);
      total += sb;
    }
  }
  return static_cast<float>(diff / std::max(total, 1e-9));
}

TEST_F(StreetPresets, AStillPictureFollowsAPresetSwitchWithinAFewFrames) {
  // A fully gathered picture, then another preset: a still camera must not
  // keep the old light for the dozens of frames its history holds.
  Look(LaneFrom, LaneAt);
  for (auto [from, to] : {std::pair{FullBright, NightRead}, std::pair{NightRead, Sunset}}) {
    ApplyLightingPreset(from);
    Frames(40);
    ApplyLightingPreset(to);
    Frames(6);
    const Picture soon = Display();
    Frames(40);
    const float off = BlockDifference(soon, Display());
    std::printf("Preset %d after %d: 6 frames in, %.1f %% off the settled picture\n", to, from, 100.0f * off);
    EXPECT_LE(off, 0.05f) << "preset " << from << " to " << to;
  }
}

}  // namespace
