// The demonstration's frame as a user gets it: the program's own systems in
// a real window, every update stage run (input, fly camera, transforms, mesh
// submission, render, GUI, swap), the street level, the start camera.
//
// CPU is process CPU over all threads: a software GL driver does most of its
// work on threads of its own. Each row also carries the pass timers (ms per
// frame, GL timer queries) and the wall time. Repetitions run in random
// order, so a slow spell of a shared machine spreads over all rows.
//
//   FrameBench [google-benchmark flags]
//   --benchmark_filter=Frame/640   one size only
//   --benchmark_repetitions=N      default 3
//   FrameBench --list-passes       the frame's pass table, as Markdown
//   --level NAME                   another level than the street (Town)
//   --benchmark_filter=Flight      a straight flight and a turn in place
//   --benchmark_filter=Pops        a flight and a turn against a settled still
//   --pops-at METRES               the Pops row at one pose only
//   --pops-pictures DIR            its pictures (settled, flight, turn and
//                                  their differences, x4) as PNG files
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/CVar.h"
#include "engine/CameraPath.h"
#include "engine/CommandLine.h"
#include "engine/Component.h"
#include "engine/Engine.h"
#include "engine/Resource.h"
#include "engine/Scene.h"
#include "engine/Shutter.h"
#include "engine/TextNumbers.h"
#include "render/DrawSystem.h"
#include "render/RenderTextureGuy.h"
#include "render/Texbit.h"
#include "renderer/DemoComposition.h"
#include "renderer/FrameCapture.h"
#include "renderer/PassTable.h"
#include "renderer/PassTimers.h"
#include "renderer/RenderSettings.h"
#include "renderer/RenderSystem.h"
#include "renderer/SunShadow.h"
#include "sanegl/GL.h"
#include "scene/Camera.h"
#include "scene/CameraPathSystem.h"
#include "scene/FlyCam.h"
#include "scene/Lighting.h"
#include "scene/MeshRenderer.h"
#include "scene/Transform.h"

#include <glm/gtc/quaternion.hpp>

using namespace KestorEngine;

namespace {

// The calling thread's CPU alone: the engine and the GL driver's front end,
// without the driver's worker threads.
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

std::string LoadAverage() {
  std::ifstream f("/proc/loadavg");
  std::string a, b, c;
  f >> a >> b >> c;
  return a + " " + b + " " + c;
}

struct QuietStdout {
  std::ostringstream sink;
  std::streambuf* previous = std::cout.rdbuf(sink.rdbuf());
  ~QuietStdout() { std::cout.rdbuf(previous); }
};

// The switches, one per stage: row 0 has everything on, row k the k-th off.
struct Stage {
  const char* Label;
  CVar<bool>** Switch;
};
const Stage Stages[] = {
    {"all on", nullptr},
    {"no voxels", &UpdateVoxels},
    {"no voxel detail", &UpdateVoxelsHQ},
    {"no distance", &UpdateAcceleration},
    {"no G-buffer", &RenderGBuffer},
    {"no lighting", &RaycastScreen},
    {"Update GI off (lightmap, light updates)", &UpdateGI},
    {"no temporal", &TemporalSS},
    {"no present", &FinalBlitEn},
    {"no area lights", &CastIS},
    {"no bounce", &CastGI},
    {"no reflections", &CastSpecular},
    {"Sparse Light off (every pixel its own rays)", &SparseLight},
};
constexpr int StageCount = sizeof(Stages) / sizeof(Stages[0]);

KestorEngineFlyHahaJk* engine = nullptr;
Thing startCamera = Thing::GimmeDud();
double startupCpu = 0.0;
// The level the rows run on (--level NAME, the street by default).
std::string levelName = "StreetTest";
// The Pops row's poses (--pops-at METRES, all of them by default) and the
// folder its pictures go to (--pops-pictures DIR, none by default).
float popsAt = 0.0f;
std::string popsPictures;

// The program's composition (as main builds it), the level and the start
// camera, made once; the first frame is timed as the start-up.
bool StartDemo(int w, int h) {
  if (engine != nullptr) return engine->window != nullptr;
  QuietStdout quiet;
  engine = new KestorEngineFlyHahaJk();
  ComposeDemo(engine);
  ScreenResolution->value = glm::vec2(w, h);
  Fullscreen->value = false;
  engine->Initialize();
  static Resource<Scene> level = Resources<Scene>::Get(levelName);
  startCamera = BuildStartCamera(LaunchOptions(), &*level);
  RunStageList(engine->UpdateList, KestorEngineFlyHahaJk::SkippedUpdateIndex);
  glFinish();
  startupCpu = ProcessCpuSeconds();
  return true;
}

void Frame() {
  RunStageList(engine->UpdateList, KestorEngineFlyHahaJk::SkippedUpdateIndex);
  glFinish();
}

// The window at w x h; the renderer's targets follow it.
void SizeTo(int w, int h) {
  int cw = 0, ch = 0;
  SDL_GetWindowSize(engine->window->window, &cw, &ch);
  if (cw != w || ch != h) {
    SDL_SetWindowSize(engine->window->window, w, h);
    for (int i = 0; i < 20 && (static_cast<int>(Shutter::Width()) != w || static_cast<int>(Shutter::Height()) != h);
         ++i) {
      SDL_Delay(10);
      Frame();
    }
    Shutter::Width(static_cast<float>(w));
    Shutter::Height(static_cast<float>(h));
  }
  ScreenResolution->value = glm::vec2(w, h);
}

// Frames as fast as they come at w x h, the render scale fixed: what every
// timed row but the automatic-scale ones starts from.
void RunFreely(int w, int h, float scale) {
  FlyCamSystem::pause = false;
  SizeTo(w, h);
  TargetFrameTime->value = 0.0f;
  AutoRenderScale->value = false;
  RenderScale->value = scale;
}

// Per-pass milliseconds per frame over the frames run by `run`.
std::map<std::string, double> PassesOver(int frames, const std::function<void()>& run) {
  glFinish();
  PassTimers::Collect();
  std::map<std::string, double> before;
  for (const PassTimers::Figure& f : PassTimers::Totals()) before[f.Name] = f.TotalMs;
  run();
  glFinish();
  PassTimers::Collect();
  std::map<std::string, double> out;
  for (const PassTimers::Figure& f : PassTimers::Totals()) {
    const double ms = (f.TotalMs - before[f.Name]) / frames;
    if (ms > 0.0) out[f.Name] = ms;
  }
  return out;
}

void Report(benchmark::State& state, const std::map<std::string, double>& passes) {
  double sum = 0.0;
  for (const auto& [name, ms] : passes) {
    state.counters[name] = ms;
    sum += ms;
  }
  state.counters["passes"] = sum;
}

// Arguments: width (height 9/16 of it), the stage switched off (row of
// Stages), the render scale in percent.
void BM_Frame(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = w * 9 / 16;
  const Stage& stage = Stages[state.range(1)];
  const float scale = static_cast<float>(state.range(2)) / 100.0f;
  state.SetLabel(std::string(stage.Label) + (state.range(2) != 100 ? ", scale " + std::to_string(scale).substr(0, 4) : ""));
  QuietStdout quiet;
  RunFreely(w, h, scale);
  CVar<bool>* off = stage.Switch != nullptr ? *stage.Switch : nullptr;
  if (off != nullptr) off->value = false;

  // The history settles and the pool fills in the first frames.
  for (int i = 0; i < 4; ++i) Frame();
  Report(state, PassesOver(static_cast<int>(state.max_iterations), [&] {
           for (auto _ : state) Frame();
         }));
  if (off != nullptr) off->value = true;
  RenderScale->value = 1.0f;
}

// The sun's shadow map: arguments width, "Sun Shadow Map" (0: none, the
// light field's sunlight) and motion (0: a still camera, whose maps are
// drawn once; 1: walking 1 cm and turning 0.1 degrees a frame, which moves
// every cascade's square). The pass timer "Sun shadow map" is the drawing;
// the reads are the difference of "Lighting" against the row without one.
void BM_SunShadow(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int size = static_cast<int>(state.range(1));
  const bool moving = state.range(2) != 0;
  state.SetLabel(std::string(size == 0 ? "no sun shadow map" : "sun shadow map " + std::to_string(size)) +
                 (moving ? ", camera moving" : ""));
  QuietStdout quiet;
  RunFreely(w, w * 9 / 16, 1.0f);
  const int previous = SunShadowMap->value;
  SunShadowMap->value = size;
  Transform* camera = ComponentHandler<Transform>::Get(startCamera);
  const glm::vec3 position = camera != nullptr ? camera->Position : glm::vec3(0.0f);
  const glm::quat rotation = camera != nullptr ? camera->Rotation : glm::quat(1.0f, 0.0f, 0.0f, 0.0f);
  auto step = [&] {
    if (!moving || camera == nullptr) return;
    camera->Position += camera->Rotation * glm::vec3(0.0f, 0.0f, -0.01f);
    camera->Rotation = glm::angleAxis(glm::radians(0.1f), glm::vec3(0.0f, 0.0f, 1.0f)) * camera->Rotation;
  };
  for (int i = 0; i < 4; ++i) {
    step();
    Frame();
  }
  double texels = 0.0;
  Report(state, PassesOver(static_cast<int>(state.max_iterations), [&] {
           for (auto _ : state) {
             step();
             Frame();
             const SunShadow* shadow = SunShadow::Of(startCamera);
             texels += shadow != nullptr ? static_cast<double>(shadow->TexelsDrawn()) : 0.0;
           }
         }));
  state.counters["texels drawn"] = texels / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  if (camera != nullptr) {
    camera->Position = position;
    camera->Rotation = rotation;
  }
  SunShadowMap->value = previous;
}

// The start camera walking down the lane, turning to the houses and back,
// with a cut: the temporal pass meets motion, turns and a picture it has
// no history for, as a user flying about gives it.
const char* const StreetTour =
    "0   2.66 -5.22 1.23  -40 -11.5\n"
    "2   1.2  -3.5  1.4   -10  -6\n"
    "4   0    -1    1.6    35  -2\n"
    "5   0    -1    1.6    80   4\n"
    "5  -2.5   5    1.8   160 -15\n"
    "8  -1     2    1.5   200  -8\n";

// Frames of the tour at two frames a second of simulated time (what a
// software renderer gives), each run of the row from its start: the same
// frames every repetition.
void BM_Tour(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = w * 9 / 16;
  std::vector<CameraKey> tour;
  std::string problem;
  if (!ParseCameraPath(StreetTour, "tour", tour, problem) || RenderSystem::CameraThings.empty()) {
    state.SkipWithError(problem.c_str());
    return;
  }
  QuietStdout quiet;
  FlyCamSystem::pause = false;
  SizeTo(w, h);
  TargetFrameTime->value = 0.0f;
  RenderScale->value = 1.0f;
  const Thing camera = RenderSystem::CameraThings.front();
  Transform* t = ComponentHandler<Transform>::Get(camera);
  Camera* c = ComponentHandler<Camera>::Get(camera);
  const glm::vec3 position = t->Position;
  const glm::quat rotation = t->Rotation;
  const float fov = c->FieldOfView;
  CameraPathSystem::Follow(camera, tour);
  engine->FixedStep = 0.5f;
  engine->PassesRun = 0;
  auto frame = [] {
    engine->RunPass();
    glFinish();
  };
  for (int i = 0; i < 2; ++i) frame();
  Report(state, PassesOver(static_cast<int>(state.max_iterations), [&] {
           for (auto _ : state) frame();
         }));
  CameraPathSystem::Follow(camera, {});
  engine->FixedStep = 0.0f;
  t->Position = position;
  t->Rotation = rotation;
  c->FieldOfView = fov;
}

// The lit picture of the last frame, linear (what the presentation pass
// tone-maps), for the change between frames.
std::vector<float> Picture(Texbit* layer) {
  std::vector<float> out;
  if (layer == nullptr) return out;
  out.resize(static_cast<size_t>(layer->Width) * layer->Height * 4);
  layer->ToGPU();
  glActiveTexture(Texbit::GetBindEnum(layer->CurrentBind));
  glBindTexture(layer->Target(), layer->ID);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(layer->Target(), 0, GL_RGBA, GL_FLOAT, out.data());
  return out;
}

std::vector<float> LitPicture() { return Picture(RenderSystem::Layer1); }

// Mean |b - a| over the mean of a, all pixels and channels.
double MeanChange(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.empty() || a.size() != b.size()) return 0.0;
  double change = 0.0, total = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (i % 4 == 3) continue;
    change += std::abs(static_cast<double>(b[i]) - a[i]);
    total += std::abs(static_cast<double>(a[i]));
  }
  return total > 0.0 ? change / total : 0.0;
}

// The start camera once frames run freely at w wide, or null (the row
// skipped) on a level without one.
Transform* StartCamera(benchmark::State& state, int w) {
  if (RenderSystem::CameraThings.empty()) {
    state.SkipWithError("no camera");
    return nullptr;
  }
  RunFreely(w, w * 9 / 16, 1.0f);
  return ComponentHandler<Transform>::Get(RenderSystem::CameraThings.front());
}

// A camera's pose as a camera path states it, and its heading along the
// ground, for the rows that fly or turn from the start camera.
CameraPose PoseOf(const Transform& t) {
  const glm::vec3 ahead = t.Rotation * glm::vec3(0.0f, 0.0f, -1.0f);
  CameraPose pose;
  pose.Position = t.Position;
  pose.Yaw = glm::degrees(std::atan2(ahead.x, ahead.y));
  pose.Pitch = glm::degrees(std::asin(std::clamp(ahead.z, -1.0f, 1.0f)));
  return pose;
}

glm::vec3 LevelHeading(const Transform& t) {
  const glm::vec3 ahead = t.Rotation * glm::vec3(0.0f, 0.0f, -1.0f);
  return glm::normalize(glm::vec3(ahead.x, ahead.y, 0.0f) + glm::vec3(1e-6f, 0.0f, 0.0f));
}

// From the start camera, at --fixed-step 1/30: a straight level flight
// along its heading at 10 m/s (argument 1: 0), or a turn in place at 45
// degrees a second (1), the baseline of what changes between frames. The
// counters: the share of the frame's pass time the cascade's scrolling
// takes (its level passes), and the mean change between consecutive
// pictures over frames run after the timed ones.
void BM_Flight(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const bool turn = state.range(1) != 0;
  state.SetLabel(turn ? "turning in place, 45 deg/s" : "straight, 10 m/s");
  QuietStdout quiet;
  Transform* t = StartCamera(state, w);
  if (t == nullptr) return;
  const Thing camera = RenderSystem::CameraThings.front();
  const glm::vec3 position = t->Position;
  const glm::quat rotation = t->Rotation;
  const CameraPose from = PoseOf(*t);
  const float seconds = 60.0f;
  CameraPose to = from;
  if (turn) {
    to.Yaw += 45.0f * seconds;
  } else {
    to.Position += LevelHeading(*t) * 10.0f * seconds;
  }
  CameraPathSystem::Follow(camera, {CameraKey{0.0f, from, std::nullopt}, CameraKey{seconds, to, std::nullopt}});
  engine->FixedStep = 1.0f / 30.0f;
  engine->PassesRun = 0;
  // The lit layer kept after each frame for the pictures compared.
  RenderSystem::ReadAfterFrame.insert("Layer1");
  auto frame = [] {
    engine->RunPass();
    glFinish();
  };
  for (int i = 0; i < 2; ++i) frame();
  const std::map<std::string, double> passes = PassesOver(static_cast<int>(state.max_iterations), [&] {
    for (auto _ : state) frame();
  });
  Report(state, passes);
  double scrolling = 0.0, sum = 0.0;
  for (const auto& [name, ms] : passes) {
    sum += ms;
    if (name.rfind("Level ", 0) == 0) scrolling += ms;
  }
  state.counters["scrolling share"] = sum > 0.0 ? scrolling / sum : 0.0;
  std::vector<float> last = LitPicture();
  double change = 0.0;
  const int compared = 8;
  for (int i = 0; i < compared; ++i) {
    frame();
    std::vector<float> now = LitPicture();
    change += MeanChange(last, now) / compared;
    last = std::move(now);
  }
  state.counters["change"] = change;
  RenderSystem::ReadAfterFrame.erase("Layer1");
  CameraPathSystem::Follow(camera, {});
  engine->FixedStep = 0.0f;
  t->Position = position;
  t->Rotation = rotation;
}

// Relative RMSE of `a` against `b`, colour channels only.
double Apart(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.empty() || a.size() != b.size()) return 0.0;
  double num = 0.0, den = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (i % 4 == 3) continue;
    const double d = static_cast<double>(a[i]) - b[i];
    num += d * d;
    den += static_cast<double>(b[i]) * b[i];
  }
  return den > 0.0 ? std::sqrt(num / den) : 0.0;
}

// A linear RGBA picture (rows bottom first) tone-mapped x / (1 + x) with a
// gamma of 2.2 into 8-bit RGB; `gain` scales it first (differences are
// small).
std::vector<uint8_t> ToneMapped(const std::vector<float>& rgba, float gain) {
  std::vector<uint8_t> rgb(rgba.size() / 4 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) {
    const float v = std::max(0.0f, gain * rgba[i / 3 * 4 + i % 3]);
    rgb[i] = static_cast<uint8_t>(std::lround(255.0f * std::pow(v / (1.0f + v), 1.0f / 2.2f)));
  }
  return rgb;
}

// One pose's pictures for --pops-pictures: settled, each motion's last and
// its difference from settled (x4), as "<metres>m-<name>.png".
void SavePopsPictures(int metres, const Texbit& layer, const std::vector<float>& settled,
                      const std::vector<std::pair<std::string, const std::vector<float>*>>& motions) {
  if (popsPictures.empty()) return;
  auto difference = [&settled](const std::vector<float>& a) {
    std::vector<float> out(a.size(), 0.0f);
    for (size_t i = 0; i < a.size() && i < settled.size(); ++i) out[i] = std::abs(a[i] - settled[i]);
    return out;
  };
  std::vector<std::pair<std::string, std::vector<uint8_t>>> pictures = {{"settled", ToneMapped(settled, 1.0f)}};
  for (const auto& [name, picture] : motions) {
    pictures.emplace_back(name, ToneMapped(*picture, 1.0f));
    pictures.emplace_back(name + "-diff", ToneMapped(difference(*picture), 4.0f));
  }
  for (const auto& [name, rgb] : pictures) {
    const std::string path = popsPictures + "/" + std::to_string(metres) + "m-" + name + ".png";
    std::string problem;
    if (!FrameCapture::WritePNG(path, layer.Width, layer.Height, rgb, problem)) {
      std::cerr << path << ": " << problem << std::endl;
    }
  }
}

// The Pops row's camera and its three steps: frames run, a cut to a pose
// and a second of motion.
struct PopsRun {
  static constexpr int Still = 30, Moving = 30;
  Thing Viewer;
  Camera* Lens = nullptr;
  Transform* T = nullptr;
  // The clock and the frame count the shaders' noise and the levels'
  // turns follow start over at every cut, so each run meets them alike.
  int FirstFrame = RenderSystem::frameCounter;

  static void Frames(int n) {
    for (int i = 0; i < n; ++i) engine->RunPass();
    glFinish();
  }
  // What the present pass shows (the temporal pass's output, the history
  // the next frame reads), not one frame's sparse samples.
  std::vector<float> Shown() const { return Picture(Lens != nullptr ? Lens->Targets.OldLayer1 : nullptr); }

  // `noise` > 0 starts the frame count whole turns of the stamps on
  // (1024 frames each), so the levels turn in the same phase but every ray
  // and sample runs through other numbers: a field whose noise no run from
  // noise 0 shares.
  void CutTo(const CameraPose& pose, int noise = 0) const {
    engine->PassesRun = 0;
    RenderSystem::frameCounter = FirstFrame + 1024 * noise;
    // The jitter's phase too: a moving pixel's picture is mostly its last
    // few frames, whose offsets move its edges.
    if (Lens != nullptr) Lens->FrameCount = 0;
    CameraPathSystem::Follow(Viewer, {CameraKey{0.0f, pose, std::nullopt}});
    Frames(1);
    for (Thing lit : RenderSystem::LitThings) {
      if (LightField* l = ComponentHandler<LightField>::Get(lit)) {
        l->State.VoxelsValid = false;
        l->State.Settling = RenderSystem::SettleFrames;
      }
    }
    if (Lens != nullptr) Lens->Targets.FramesSinceLightChange = 0;
    Frames(Still);
  }

  // From `a` to `b` in `Moving` frames, the first a step on from `a`; the
  // mean change between them. A path's keys are on the engine's clock.
  double Move(benchmark::State& state, const CameraPose& a, const CameraPose& b) const {
    const float begin = engine->TimeSinceStart() - 1.0f / 30.0f;
    CameraPathSystem::Follow(Viewer, {CameraKey{begin, a, std::nullopt},
                                      CameraKey{begin + Moving / 30.0f, b, std::nullopt}});
    std::vector<float> last = Shown();
    double moved = 0.0;
    for (int i = 0; i < Moving; ++i) {
      Frames(1);
      std::vector<float> now = Shown();
      moved += MeanChange(last, now) / Moving;
      last = std::move(now);
    }
    if (glm::distance(T->Position, b.Position) > 0.01f) state.SkipWithError("the camera did not follow its path");
    return moved;
  }
};

// The Pops row's scores over its poses.
struct PopsScores {
  std::vector<double> Flights, Helds, Turns, Floors;
  double FlightMoved = 0.0, HeldMoved = 0.0, TurnMoved = 0.0;
};

// A cut to `from`, then the motion to `to`: its last picture, and its mean
// change between pictures added to `moved` (a share of `poses`).
std::vector<float> PopsMotion(benchmark::State& state, const PopsRun& run, const CameraPose& from,
                              const CameraPose& to, double& moved, size_t poses) {
  run.CutTo(from);
  moved += run.Move(state, from, to) / static_cast<double>(poses);
  return run.Shown();
}

// The settled still, the floor and the three motions at the pose `m`
// metres along `level` from `start`.
void PopsPose(benchmark::State& state, const PopsRun& run, const CameraPose& start, glm::vec3 level, float m,
              size_t poses, PopsScores& s) {
  CameraPose there = start;
  there.Position += level * m;
  run.CutTo(there, 1);
  PopsRun::Frames(2 * PopsRun::Moving);
  const std::vector<float> settled = run.Shown();
  run.CutTo(there);
  PopsRun::Frames(2 * PopsRun::Moving);
  s.Floors.push_back(Apart(run.Shown(), settled));

  CameraPose back = there, before = there;
  back.Position -= level * 10.0f;
  before.Yaw -= 30.0f;
  const std::vector<float> flown = PopsMotion(state, run, back, there, s.FlightMoved, poses);
  RenderSystem::LevelsHeldAt = there.Position;
  const std::vector<float> held = PopsMotion(state, run, back, there, s.HeldMoved, poses);
  RenderSystem::LevelsHeldAt.reset();
  const std::vector<float> turned = PopsMotion(state, run, before, there, s.TurnMoved, poses);
  s.Flights.push_back(Apart(flown, settled));
  s.Helds.push_back(Apart(held, settled));
  s.Turns.push_back(Apart(turned, settled));

  const std::string at = " " + std::to_string(static_cast<int>(m)) + " m";
  state.counters["flight" + at] = s.Flights.back();
  state.counters["held" + at] = s.Helds.back();
  state.counters["turn" + at] = s.Turns.back();
  state.counters["floor" + at] = s.Floors.back();
  if (run.Lens != nullptr && run.Lens->Targets.OldLayer1 != nullptr) {
    SavePopsPictures(static_cast<int>(m), *run.Lens->Targets.OldLayer1, settled,
                     {{"flight", &flown}, {"held", &held}, {"turn", &turned}});
  }
}

// Pops, told from motion, at several poses along the start camera's
// heading (every 10 m from 15 m on). At each, three runs from the same
// state: a cut to the start pose (every level placed there at once, all of
// its voxels relit for the frames the light settles in, since the
// coarsest levels' turns come too seldom to wait for; the temporal history
// cut short), 30 frames still, then a second of motion ending at the pose:
//   settled  no motion, and 60 frames more still: the reference;
//   flight   10 m straight along the heading at 10 m/s;
//   held     the same flight with the levels held where the pose puts
//            them (RenderSystem::LevelsHeldAt): nothing scrolls in, so
//            what the flight scores above it is what scrolling adds, the
//            pops, and the rest is what the motion does to the temporal
//            history (a flight along the town's street moves the picture
//            over twice as far a frame as the turn);
//   turn     30 degrees in place, which scrolls nothing and leaves only
//            what the temporal history lags behind.
// The settled reference runs on other noise than the motions (CutTo's
// `noise`): a turn ends where its cut began, and from the same numbers its
// field would share the reference's noise and cancel it, which the
// flight's, lit from 10 m away, cannot. "floor" is the same still pose on
// the motions' noise against it: what two settled fields differ by, the
// least either motion can score.
// Each motion's last picture against the settled one (relative RMSE) is
// what the row reports per pose and as the median; what the flight adds
// over the held one is what scrolling in leaves unsettled. "moved" is the
// mean change between consecutive pictures while moving, how far each
// motion moves the picture: the flight's over the held flight's is what
// the pops add to it.
void BM_Pops(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  state.SetLabel(std::to_string(w) + " x " + std::to_string(w * 9 / 16));
  QuietStdout quiet;
  Transform* t = StartCamera(state, w);
  if (t == nullptr) return;
  const Thing camera = RenderSystem::CameraThings.front();
  const PopsRun run{camera, ComponentHandler<Camera>::Get(camera), t};
  const glm::vec3 position = t->Position;
  const glm::quat rotation = t->Rotation;
  const glm::vec3 level = LevelHeading(*t);
  const CameraPose start = PoseOf(*t);
  engine->FixedStep = 1.0f / 30.0f;
  PopsScores s;
  const std::vector<float> metres = popsAt > 0.0f ? std::vector<float>{popsAt} : std::vector<float>{15.0f, 25.0f, 35.0f};
  for (auto _ : state) {
    s = PopsScores();
    for (float m : metres) PopsPose(state, run, start, level, m, metres.size(), s);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  const double flight = median(s.Flights), held = median(s.Helds), turn = median(s.Turns);
  state.counters["flight"] = flight;
  state.counters["held"] = held;
  state.counters["flight / held"] = held > 0.0 ? flight / held : 0.0;
  state.counters["turn"] = turn;
  state.counters["floor"] = median(s.Floors);
  state.counters["flight / turn"] = turn > 0.0 ? flight / turn : 0.0;
  state.counters["flight moved"] = s.FlightMoved;
  state.counters["held moved"] = s.HeldMoved;
  state.counters["turn moved"] = s.TurnMoved;
  CameraPathSystem::Follow(camera, {});
  engine->FixedStep = 0.0f;
  t->Position = position;
  t->Rotation = rotation;
}

// Process CPU of each pass: every pass waits for GL before and after it
// (PassTimers::CpuProbes), which costs the overlap between passes, so the
// frame's CPU here is a little above BM_Frame's; "between" is what no pass
// holds (the engine's own work, submission, the swap).
void BM_PassCpu(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = w * 9 / 16;
  state.SetLabel("CPU per pass" + (state.range(1) != 100 ? ", scale " + std::to_string(state.range(1) / 100.0).substr(0, 4) : ""));
  QuietStdout quiet;
  FlyCamSystem::pause = false;
  SizeTo(w, h);
  // A third argument: the picture's width (16:9), which the present pass
  // scales to the window, as full screen does with "Screen Resolution".
  if (state.range(2) != 0) {
    ScreenResolution->value = glm::vec2(state.range(2), state.range(2) * 9 / 16);
    state.SetLabel("CPU per pass, picture " + std::to_string(state.range(2)) + " wide" +
                   (state.range(1) != 100 ? ", scale " + std::to_string(state.range(1) / 100.0).substr(0, 4) : ""));
  }
  TargetFrameTime->value = 0.0f;
  AutoRenderScale->value = false;
  RenderScale->value = static_cast<float>(state.range(1)) / 100.0f;
  // A fourth argument, unless -1, sets "Sun Shadow Map".
  const int previousSun = SunShadowMap->value;
  if (state.range(3) >= 0) {
    SunShadowMap->value = static_cast<int>(state.range(3));
    state.SetLabel("CPU per pass, sun shadow map " + std::to_string(SunShadowMap->value));
  }
  for (int i = 0; i < 4; ++i) Frame();
  std::map<std::string, double> before;
  for (const PassTimers::Figure& f : PassTimers::Totals()) before[f.Name] = f.CpuMs;
  PassTimers::CpuProbes = true;
  const double start = ProcessCpuSeconds();
  for (auto _ : state) Frame();
  const double frames = static_cast<double>(state.iterations());
  const double frameMs = 1000.0 * (ProcessCpuSeconds() - start) / frames;
  PassTimers::CpuProbes = false;
  double sum = 0.0;
  for (const PassTimers::Figure& f : PassTimers::Totals()) {
    const double ms = (f.CpuMs - before[f.Name]) / frames;
    if (ms <= 0.0) continue;
    state.counters[f.Name] = ms;
    sum += ms;
  }
  state.counters["between"] = frameMs - sum;
  RenderScale->value = 1.0f;
  SunShadowMap->value = previousSun;
}

// The automatic scale: "Target Frame Time" set, a few seconds to settle,
// then frames as in BM_Frame. Reports the scale it settled at and the
// frames per second of wall time.
void BM_Target(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = w * 9 / 16;
  QuietStdout quiet;
  FlyCamSystem::pause = false;
  SizeTo(w, h);
  RenderScale->value = 1.0f;
  TargetFrameTime->value = static_cast<float>(state.range(1));
  const auto settle = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - settle < std::chrono::seconds(8)) Frame();
  const auto start = std::chrono::steady_clock::now();
  Report(state, PassesOver(static_cast<int>(state.max_iterations), [&] {
           for (auto _ : state) Frame();
         }));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.counters["fps"] = static_cast<double>(state.iterations()) / seconds;
  state.counters["render_scale"] = RenderScale->value;
  TargetFrameTime->value = 0.0f;
  RenderScale->value = 1.0f;
}

// What a user gets in the first minute: the window full screen (the
// screen's size, 1920 x 1080 on the test display), every setting at its
// default (the automatic render scale on, from scale 1), flying, for 60 s of
// wall time from the moment the window went full screen. Reports the frame
// rate and the process CPU per frame over the last 20 s, the scale chosen
// and the seconds until the rate first reached 8 frames a second.
void BM_FirstMinute(benchmark::State& state) {
  // Argument 1: the view turns as a user looking around would (the present
  // pass then blurs along the motion).
  const bool turning = state.range(0) != 0;
  state.SetLabel(turning ? "turning" : "still");
  QuietStdout quiet;
  FlyCamSystem::pause = false;
  TargetFrameTime->value = 0.0f;
  AutoRenderScale->value = true;
  RenderScale->value = 1.0f;
  engine->window->Fullscreen(true);
  // "Screen Resolution" as the program has it: the picture's size, which
  // the present pass scales up to the screen.
  ScreenResolution->value = glm::vec2(1280, 720);
  for (int i = 0; i < 10; ++i) Frame();  // the resize reaches the renderer
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    double reached = -1.0, tailStart = 0.0, tailCpu = 0.0, tailMainCpu = 0.0;
    int frames = 0, tailFrames = 0, secondFrames = 0;
    double secondStart = 0.0;
    Transform* view = ComponentHandler<Transform>::Get(FlyCamSystem::BasicallyEverything.front());
    // A tenth of a radian a frame at most, back and forth.
    auto turn = [&] {
      if (!turning) return;
      view->Rotation =
          glm::angleAxis(0.1f * std::sin(static_cast<float>(seconds())), glm::vec3(0, 0, 1)) * view->Rotation;
    };
    while (seconds() < 60.0) {
      turn();
      Frame();
      ++frames;
      ++secondFrames;
      const double now = seconds();
      if (now - secondStart >= 1.0) {
        if (reached < 0.0 && secondFrames / (now - secondStart) >= 8.0) reached = now;
        secondStart = now;
        secondFrames = 0;
      }
      if (tailFrames == 0 && now >= 40.0) {
        tailStart = now;
        tailCpu = ProcessCpuSeconds();
        tailMainCpu = ThreadCpuSeconds();
      }
      if (now >= 40.0) ++tailFrames;
    }
    state.counters["fps_last_20s"] = (tailFrames - 1) / (seconds() - tailStart);
    const double cpuMs = 1000.0 * (ProcessCpuSeconds() - tailCpu) / std::max(1, tailFrames - 1);
    const double mainMs = 1000.0 * (ThreadCpuSeconds() - tailMainCpu) / std::max(1, tailFrames - 1);
    state.counters["cpu_ms_per_frame"] = cpuMs;
    state.counters["main_thread_cpu_ms"] = mainMs;
    // On an idle machine of two cores: the main thread's work, then the
    // driver's threads sharing both cores while it waits for them (no
    // overlap assumed, so this errs slow).
    state.counters["idle_2core_fps_estimate"] = 1000.0 / (mainMs + (cpuMs - mainMs) / 2.0);
    state.counters["render_scale"] = RenderScale->value;
    state.counters["s_to_8fps"] = reached;
    state.counters["width"] = Shutter::Width();
    state.counters["height"] = Shutter::Height();
    state.counters["frames"] = frames;
    // Then each pass's process CPU at the scale chosen (the waits around
    // each pass cost their overlap, so these add up to a little more).
    std::map<std::string, double> before;
    for (const PassTimers::Figure& f : PassTimers::Totals()) before[f.Name] = f.CpuMs;
    PassTimers::CpuProbes = true;
    constexpr int Probed = 16;
    for (int i = 0; i < Probed; ++i) {
      turn();
      Frame();
    }
    PassTimers::CpuProbes = false;
    for (const PassTimers::Figure& f : PassTimers::Totals()) {
      const double ms = (f.CpuMs - before[f.Name]) / Probed;
      if (ms > 0.0) state.counters["cpu " + f.Name] = ms;
    }
  }
  engine->window->Fullscreen(false);
  AutoRenderScale->value = false;
  RenderScale->value = 1.0f;
}

// The window's pixels below the frame-rate text, 8-bit RGB, read before the
// swap (the GUI pass has drawn by then; the text rows are left out).
std::vector<unsigned char> ScenePixels(int w, int h) {
  const int rows = h - 48;
  std::vector<unsigned char> px(static_cast<size_t>(w) * rows * 3);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, w, rows, GL_RGB, GL_UNSIGNED_BYTE, px.data());
  return px;
}

// A still camera after the history has settled: the mean absolute change
// between consecutive frames and the per-pixel standard deviation over ten
// frames, in 8-bit levels of the presented picture.
void BM_Convergence(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = w * 9 / 16;
  if (engine == nullptr || engine->window == nullptr) {
    state.SkipWithError("no window (run under a display)");
    return;
  }
  QuietStdout quiet;
  RunFreely(w, h, 1.0f);
  auto render = [&] {
    TransformSystem::MAKETHEMATERIALREALITY(engine);
    MeshRendererSystem::MAKEITpretty(engine);
    RenderSystem::RenderFrame(engine);
    DrawSystem::ClearCache();
    glFinish();
  };
  std::vector<std::vector<unsigned char>> frames;
  for (auto _ : state) {
    for (int i = 0; i < 40; ++i) render();
    for (int i = 0; i < 10; ++i) {
      render();
      frames.push_back(ScenePixels(w, h));
    }
  }
  const size_t n = frames[0].size();
  double change = 0.0, deviation = 0.0;
  for (size_t k = 1; k < frames.size(); ++k) {
    for (size_t i = 0; i < n; ++i) change += std::abs(int(frames[k][i]) - int(frames[k - 1][i]));
  }
  for (size_t i = 0; i < n; ++i) {
    double sum = 0.0, sq = 0.0;
    for (const auto& f : frames) {
      sum += f[i];
      sq += double(f[i]) * f[i];
    }
    const double mean = sum / frames.size();
    deviation += std::sqrt(std::max(0.0, sq / frames.size() - mean * mean));
  }
  state.counters["mean_abs_change"] = change / (double(n) * (frames.size() - 1));
  state.counters["pixel_stddev"] = deviation / double(n);
}

bool SoftwareGL() {
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  return renderer == nullptr || std::strstr(renderer, "llvmpipe") != nullptr ||
         std::strstr(renderer, "softpipe") != nullptr;
}

// Every size and every stage switch; 1920 x 1080 only on a real GPU. Then
// the render scales, the tour, the automatic scale and the convergence of a
// still picture.
void Register() {
  std::vector<int> widths = {640, 1280};
  if (!SoftwareGL()) widths.push_back(1920);
  auto* b = benchmark::RegisterBenchmark("Frame", BM_Frame);
  for (int w : widths) {
    for (int s = 0; s < StageCount; ++s) b->Args({w, s, 100});
  }
  b->Args({1280, 0, 50})->Args({1280, 0, 25})->Args({640, 0, 50});
  // At a quarter of the pixels the full-size passes weigh most; at 1920 x
  // 1080 they decide whether full screen can be interactive at all.
  b->Args({1280, 7, 25})->Args({1280, 8, 25});
  b->Args({1920, 0, 25})->Args({1920, 7, 25})->Args({1920, 8, 25});
  b->Unit(benchmark::kMillisecond)->Iterations(8)->MeasureProcessCPUTime()->UseRealTime();
  auto* sun = benchmark::RegisterBenchmark("SunShadow", BM_SunShadow);
  for (int size : {0, 512, 768, 1024, 2048}) {
    for (int moving : {0, 1}) sun->Args({640, size, moving});
  }
  sun->Unit(benchmark::kMillisecond)->Iterations(8)->MeasureProcessCPUTime()->UseRealTime();
  benchmark::RegisterBenchmark("Tour", BM_Tour)
      ->Arg(640)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(12)
      ->MeasureProcessCPUTime()
      ->UseRealTime();
  benchmark::RegisterBenchmark("Flight", BM_Flight)
      ->Args({640, 0})
      ->Args({640, 1})
      ->Unit(benchmark::kMillisecond)
      ->Iterations(16)
      ->MeasureProcessCPUTime()
      ->UseRealTime();
  // Minutes a row; only a level whose light field follows the camera scrolls.
  if (levelName != "StreetTest") {
    benchmark::RegisterBenchmark("Pops", BM_Pops)
        ->Arg(320)
        ->Arg(480)
        ->Unit(benchmark::kMillisecond)->Iterations(1)->MeasureProcessCPUTime()->UseRealTime();
  }
  benchmark::RegisterBenchmark("PassCpu", BM_PassCpu)
      ->Args({640, 100, 0, -1})
      ->Args({640, 100, 0, 0})
      ->Args({1280, 100, 0, -1})
      ->Args({1280, 50, 0, -1})
      ->Args({1920, 25, 1280, -1})
      ->Unit(benchmark::kMillisecond)
      ->Iterations(8)
      ->MeasureProcessCPUTime()
      ->UseRealTime();
  benchmark::RegisterBenchmark("Target", BM_Target)
      ->Args({1280, 100})
      ->Unit(benchmark::kMillisecond)
      ->Iterations(8)
      ->MeasureProcessCPUTime()
      ->UseRealTime();
  benchmark::RegisterBenchmark("Convergence", BM_Convergence)->Arg(640)->Iterations(1)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("FirstMinute", BM_FirstMinute)
      ->Arg(0)
      ->Arg(1)
      ->Iterations(1)
      ->Repetitions(1)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list-passes") == 0) {
    std::cout << FrameTable().Describe();
    return 0;
  }
  // Random interleaving unless the caller says otherwise.
  std::vector<char*> args(argv, argv + argc);
  for (size_t i = 1; i + 1 < args.size();) {
    const std::string flag = args[i];
    if (flag == "--level") {
      levelName = args[i + 1];
    } else if (flag == "--pops-at") {
      if (!ParseWholeFloat(args[i + 1], popsAt) || popsAt <= 0.0f) {
        std::cerr << "--pops-at needs a distance in metres above 0, not \"" << args[i + 1] << "\"" << std::endl;
        return 2;
      }
    } else if (flag == "--pops-pictures") {
      popsPictures = args[i + 1];
    } else {
      ++i;
      continue;
    }
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  }
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  static char repetitions[] = "--benchmark_repetitions=3";
  auto given = [&](const char* flag) {
    for (size_t i = 1; i < args.size(); ++i) {
      if (std::strstr(args[i], flag) != nullptr) return true;
    }
    return false;
  };
  if (!given("random_interleaving")) args.insert(args.begin() + 1, interleave);
  if (!given("repetitions")) args.insert(args.begin() + 1, repetitions);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::AddCustomContext("loadavg at start", LoadAverage());
  benchmark::AddCustomContext("level", levelName);
  if (StartDemo(640, 360)) {
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    benchmark::AddCustomContext("GL renderer", renderer != nullptr ? renderer : "?");
    benchmark::AddCustomContext("start-up to the first frame, process CPU s", std::to_string(startupCpu));
    Register();
  }
  benchmark::RunSpecifiedBenchmarks();
  std::cout << "loadavg at end: " << LoadAverage() << "\n";
  benchmark::Shutdown();
  // The engine's teardown chatter is not part of the report.
  std::cout.rdbuf(nullptr);
  return 0;
}
