// Runs the program itself on a tiny level of the test's own and reads its
// captures back: the PNG the user would see and the linear PFM before tone
// mapping. Also checks that a bad argument stops it before any window opens.
#include <gtest/gtest.h>

#include <stb_image.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <glm/gtc/quaternion.hpp>
#include <glm/trigonometric.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "renderer/FrameCapture.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

const int Width = 96;
const int Height = 64;

// A white floor, and a small bright lamp one unit above its middle.
const char* const TinyLevel = R"(<Level><Things>
  <Thing Name="Field"><Transform Position="0,0,1" Rotation="1,0,0,0" Scale="4,4,4"/>
    <LightField Resolution="16,16,16"/></Thing>
  <Thing Name="Floor"><Transform Position="0,0,-0.05" Rotation="1,0,0,0" Scale="6,6,0.1"/>
    <MeshRenderer Mesh="Cube" Materials="TinyWhite" Visible="True" ShadowCast="True" BounceCast="True"/></Thing>
  <Thing Name="Lamp"><Transform Position="0,0,1" Rotation="1,0,0,0" Scale="0.4,0.4,0.4"/>
    <MeshRenderer Mesh="Cube" Materials="TinyLamp" Visible="True" ShadowCast="False" BounceCast="True"/></Thing>
  <Thing Name="LampArea"><Transform Position="0,0,1" Rotation="1,0,0,0" Scale="0.4,0.4,0.4"/>
    <ISArea Type="0" Samples="8"/></Thing>
</Things></Level>)";

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

ProgramRun RunProgram(const KestorTest::TempDir& dir, const std::string& arguments) {
  const std::string out = dir.Path() + "/stdout", err = dir.Path() + "/stderr";
  const std::string command =
      std::string("'") + KESTOR_ENGINE_PROGRAM + "' " + arguments + " > '" + out + "' 2> '" + err + "'";
  ProgramRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream o(out), e(err);
  std::stringstream os, es;
  os << o.rdbuf();
  es << e.rdbuf();
  run.out = os.str();
  run.err = es.str();
  return run;
}

// Where a world point on the camera's view plane lands, for the camera of
// the run below: at (0, -4, 1) looking along +Y, 60 degrees of vertical view.
glm::vec2 PixelOf(glm::vec3 p) {
  const float depth = p.y + 4.0f;
  const float t = std::tan(glm::radians(30.0f));
  const float aspect = static_cast<float>(Width) / Height;
  return {(0.5f + 0.5f * p.x / (depth * t * aspect)) * Width, (0.5f + 0.5f * (p.z - 1.0f) / (depth * t)) * Height};
}

// Asset loaders report "<file>: <problem>"; GL errors start "GL_<NAME> - ".
std::string ProblemLines(const std::string& console) {
  const std::regex problem(R"(^GL_[A-Z_]+ - |\*\* GL ERROR \*\*|\.(xml|fml|shader|glinc): )");
  std::istringstream lines(console);
  std::string line, found;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, problem)) found += line + "\n";
  }
  return found;
}

float Luminance(const uint8_t* rgb) { return (rgb[0] + rgb[1] + rgb[2]) / 3.0f; }

float Luminance(const float* rgb) { return 0.2126f * rgb[0] + 0.7152f * rgb[1] + 0.0722f * rgb[2]; }

std::string ShippedText(const std::string& relative) {
  std::ifstream file("CompiledAssets/" + relative, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The street's start camera (no --camera, no Viewpoint): where each pixel's
// ray meets the street's surface, or nothing for a ray that rises.
struct StartCamera {
  glm::vec3 position{2.66f, -5.22f, 1.23f};
  glm::quat rotation = glm::quat(0.93937272f, 0.0f, 0.0f, 0.34289780f) * glm::quat(0.77418178f, 0.63296336f, 0.0f, 0.0f);
  float tanHalf = 35.0f / 48.0f;  // focal length 24 on a 35 sensor

  bool Ground(int x, int y, int w, int h, glm::vec3& at) const {
    const glm::vec2 ndc((x + 0.5f) / w * 2.0f - 1.0f, (y + 0.5f) / h * 2.0f - 1.0f);
    const glm::vec3 d = rotation * glm::vec3(ndc.x * tanHalf * w / h, ndc.y * tanHalf, -1.0f);
    if (d.z >= 0.0f) return false;
    at = position + d * ((0.0125f - position.z) / d.z);
    return true;
  }
};

}  // namespace

TEST(Program, CapturesTheShownFrameAndItsLinearLight) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  KestorTest::TempDir dir;
  const std::string level = dir.Write("Tiny/Levels/Tiny.xml", TinyLevel);
  dir.Write("Tiny/Materials/TinyWhite.xml",
            R"(<Material Shader="Standard"><Settings Color="0.8,0.8,0.8" Roughness="1" Metallic="0"/></Material>)");
  dir.Write("Tiny/Materials/TinyLamp.xml",
            R"(<Material Shader="Standard"><Settings Color="1,1,1" Roughness="1" Metallic="0" )"
            R"(EmissionColor="1,1,1" Strength="40"/></Material>)");
  const std::string png = dir.Path() + "/shot.png", pfm = dir.Path() + "/shot.pfm";

  // Dark outside, so the lamp alone lights the floor.
  ProgramRun run = RunProgram(dir, "--level '" + level + "' --size 96x64 --camera 0,-4,1,0,0 --fov 60 --frames 12 "
                                "--hide-panel --sky none --capture '" + png + "' --capture-hdr '" + pfm + "'");
  ASSERT_EQ(run.status, 0) << run.out.substr(run.out.size() > 3000 ? run.out.size() - 3000 : 0) << run.err;
  EXPECT_EQ(ProblemLines(run.out + run.err), "");

  int w = 0, h = 0, channels = 0;
  stbi_uc* pixels = stbi_load(png.c_str(), &w, &h, &channels, 3);
  ASSERT_NE(pixels, nullptr) << png;
  EXPECT_EQ(w, Width);
  EXPECT_EQ(h, Height);
  // PNG rows run top first; PixelOf counts from the bottom.
  auto at = [&](glm::vec2 p) {
    return pixels + (static_cast<size_t>(Height - 1 - static_cast<int>(p.y)) * Width + static_cast<int>(p.x)) * 3;
  };
  const glm::vec2 lamp = PixelOf({0.0f, -0.2f, 1.0f});
  EXPECT_GT(Luminance(at(lamp)), 200.0f) << "the lamp is seen, near white";
  EXPECT_GT(Luminance(at(PixelOf({0.0f, 0.0f, 0.0f}))), 10.0f) << "the floor under the lamp is lit";
  // 96 x 64 is no multiple of the lighting pass's 20-pixel tiles: the last
  // column of tiles must be lit too.
  EXPECT_GT(Luminance(at(PixelOf({2.6f, 0.0f, 0.0f}))), 4.0f) << "the floor at the right edge is lit";
  stbi_image_free(pixels);

  std::ifstream file(pfm, std::ios::binary);
  std::string header(14, '\0');
  file.read(header.data(), 14);
  EXPECT_EQ(header, "PF\n96 64\n-1.0\n") << "colour, width height, little-endian";
  LinearImage linear;
  std::string problem;
  ASSERT_TRUE(FrameCapture::ReadPFM(pfm, linear, problem)) << problem;
  EXPECT_EQ(linear.Width, Width);
  EXPECT_EQ(linear.Height, Height);
  EXPECT_EQ(std::filesystem::file_size(pfm), 14 + static_cast<size_t>(Width) * Height * 12);
  const float* seen = linear.At(static_cast<int>(lamp.x), static_cast<int>(lamp.y));
  EXPECT_GT(seen[0], 1.0f) << "the emitter's linear light is not clamped to the display's range";
  EXPECT_GT(seen[1], 1.0f);
  EXPECT_GT(seen[2], 1.0f);
}

TEST(Program, ALevelWithoutASkyHasTheOldDaylightUnlessSkyNoneSaysDark) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  KestorTest::TempDir dir;
  const std::string level = dir.Write("Tiny/Levels/Tiny.xml", TinyLevel);
  dir.Write("Tiny/Materials/TinyWhite.xml",
            R"(<Material Shader="Standard"><Settings Color="0.8,0.8,0.8" Roughness="1" Metallic="0"/></Material>)");
  dir.Write("Tiny/Materials/TinyLamp.xml", R"(<Material Shader="Standard"><Settings Color="1,1,1"/></Material>)");
  struct Row {
    const char* sky;
    bool daylight;
  };
  for (const Row row : {Row{"", true}, Row{"--sky none", false}}) {
    const std::string png = dir.Path() + "/sky.png";
    ProgramRun run = RunProgram(dir, "--level '" + level + "' --size 96x64 --camera 0,-4,1,0,10 --fov 60 --frames 8 "
                                  "--hide-panel " + row.sky + " --capture '" + png + "'");
    ASSERT_EQ(run.status, 0) << run.out.substr(run.out.size() > 3000 ? run.out.size() - 3000 : 0) << run.err;
    const std::string line = level + ": no Sky, so lit by the default daylight (--sky none keeps it dark outside)\n";
    size_t told = 0;
    for (size_t at = run.out.find(line); at != std::string::npos; at = run.out.find(line, at + 1)) ++told;
    EXPECT_EQ(told, row.daylight ? 1u : 0u) << row.sky;

    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load(png.c_str(), &w, &h, &channels, 3);
    ASSERT_NE(pixels, nullptr) << png;
    // The top row is sky, blue above; the floor in front is lit by it and the sun.
    const uint8_t* top = pixels + (static_cast<size_t>(Width) / 2) * 3;
    const uint8_t* floor = pixels + (static_cast<size_t>(Height - 4) * Width + Width / 2) * 3;
    if (row.daylight) {
      EXPECT_GT(Luminance(top), 120.0f);
      EXPECT_GT(top[2], top[0]) << "a blue zenith";
      EXPECT_GT(Luminance(floor), 100.0f);
    } else {
      EXPECT_LT(Luminance(top), 2.0f) << "black outside";
      EXPECT_LT(Luminance(floor), 2.0f) << "nothing lights the floor";
    }
    stbi_image_free(pixels);
  }
}

TEST(Program, AFixedStepAndACameraPathGiveTheSamePictureEveryRun) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  KestorTest::TempDir dir;
  const struct {
    const char* Level;
    const char* Path;
  } cases[] = {
      // Down the lane past the curtain's rail, turning, then a cut back.
      {"StreetTest", "0  2.6 -5.2 1.2  -40 -11\n3  0   -2   1.5   20  -5  60\n3  2.6 -5.2 1.2  -40 -11\n"},
      // Along the town's street, far enough that its light field's levels
      // scroll and voxelise what comes into them.
      {"Town", "0  1.2 33 1.7  180 -4\n4  1.2 13 1.7  180 -4\n"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Write(std::string(c.Level) + ".txt", c.Path);
    LinearImage runs[2];
    for (int i = 0; i < 2; ++i) {
      const std::string pfm = dir.Path() + "/" + c.Level + std::to_string(i) + ".pfm";
      ProgramRun run = RunProgram(dir, std::string("--level ") + c.Level + " --size 128x72 --frames 9 --hide-panel " +
                                           "--fixed-step 0.5 --camera-path '" + path + "' --capture-hdr '" + pfm + "'");
      ASSERT_EQ(run.status, 0) << run.err;
      std::string problem;
      ASSERT_TRUE(FrameCapture::ReadPFM(pfm, runs[i], problem)) << problem;
    }
    ASSERT_EQ(runs[0].RGB.size(), runs[1].RGB.size());
    double difference = 0.0, level = 0.0;
    for (size_t k = 0; k < runs[0].RGB.size(); ++k) {
      difference += std::pow(runs[0].RGB[k] - runs[1].RGB[k], 2.0);
      level += std::pow(runs[0].RGB[k], 2.0);
    }
    ASSERT_GT(level, 0.0) << c.Level;
    EXPECT_TRUE(runs[0].RGB == runs[1].RGB) << c.Level << ": RMS difference over RMS level "
                                            << std::sqrt(difference / level);
  }
}

TEST(Program, TheSettsShowNoPeriodicPatternWhereTheyAreFarUnderTheLowSun) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  // The street as shipped, and a copy whose setts are flat: what the two
  // pictures differ by is the relief's own pattern.
  KestorTest::TempDir dir;
  const std::string flat = dir.Write("Flat/Levels/StreetTest.xml", ShippedText("Levels/StreetTest.xml"));
  std::string cobbles = ShippedText("Materials/Cobbles.xml");
  ASSERT_NE(cobbles.find("Setts=\"0.25\""), std::string::npos);
  cobbles.replace(cobbles.find("Setts=\"0.25\""), 12, "Setts=\"0\"");
  dir.Write("Flat/Materials/Cobbles.xml", cobbles);
  const int w = 640, h = 360;
  LinearImage pictures[2];
  for (int i = 0; i < 2; ++i) {
    const std::string pfm = dir.Path() + "/lane" + std::to_string(i) + ".pfm";
    const std::string level = i == 0 ? "StreetTest" : "'" + flat + "'";
    ProgramRun run = RunProgram(dir, "--level " + level + " --size 640x360 --preset 3 --hide-panel --fixed-step 0.5 "
                                     "--frames 40 --capture-hdr '" + pfm + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    std::string problem;
    ASSERT_TRUE(FrameCapture::ReadPFM(pfm, pictures[i], problem)) << problem;
  }
  // The lane between the kerbs, more than 8 m away: its far end is 13.5 m
  // from the corner, and from 8 m on a stone is under two pixels deep.
  const StartCamera camera;
  std::vector<glm::ivec2> lane;
  double mean = 0.0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      glm::vec3 at;
      if (!camera.Ground(x, y, w, h, at) || std::abs(at.x) > 1.8f || std::abs(at.y) > 7.8f ||
          glm::distance(at, camera.position) < 8.0f) {
        continue;
      }
      lane.emplace_back(x, y);
      mean += Luminance(pictures[1].At(x, y));
    }
  }
  ASSERT_GT(lane.size(), 500u);
  mean /= static_cast<double>(lane.size());
  glm::ivec2 lo(w, h), hi(0, 0);
  for (glm::ivec2 p : lane) {
    lo = glm::min(lo, p);
    hi = glm::max(hi, p);
  }
  // The 2-D spectrum of the relief's pattern over the lane's bounding box
  // (zero outside the lane); a sinusoid of amplitude A gives 2 |F| / n = A.
  const glm::ivec2 box = hi - lo + 1;
  double strongest = 0.0;
  for (int ky = 0; ky < box.y; ++ky) {
    for (int kx = 0; kx < box.x; ++kx) {
      if (kx == 0 && ky == 0) continue;
      double re = 0.0, im = 0.0;
      for (glm::ivec2 p : lane) {
        const double d = Luminance(pictures[0].At(p.x, p.y)) - Luminance(pictures[1].At(p.x, p.y));
        const double phase = 2.0 * 3.14159265358979 * (double(kx * (p.x - lo.x)) / box.x + double(ky * (p.y - lo.y)) / box.y);
        re += d * std::cos(phase);
        im -= d * std::sin(phase);
      }
      strongest = std::max(strongest, 2.0 * std::hypot(re, im) / static_cast<double>(lane.size()));
    }
  }
  EXPECT_LT(strongest / mean, 0.02) << "the strongest periodic part of the setts' pattern, over the mean";
}

TEST(Program, ABarCrossingTheViewLeavesNoSteppedCopiesBehindIt) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  // A thin lit bar 10 m off, carried round the camera by the level's
  // spinner (0.1 rad a frame about +Z), before a dark wall; through a 5
  // degree lens it crosses 206 of 320 pixels a frame, right to left. At the
  // last frame (the 6th) it stands at 0.0466 rad, 64 pixels from the left.
  const float startAngle = 0.0466f - 0.5f, spin = 0.272764f, radius = 10.0f;
  std::ostringstream bar;
  bar << -radius * std::sin(startAngle) / spin << "," << radius * std::cos(startAngle) / spin << ",1.5";
  KestorTest::TempDir dir;
  const std::string level = dir.Write("Bar/Levels/Bar.xml", R"(<Level><Things>
  <Thing Name="Wall"><Transform Position="0,12,1.5" Rotation="1,0,0,0" Scale="20,0.2,10"/>
    <MeshRenderer Mesh="Cube" Materials="BarWall" Visible="True" ShadowCast="False" BounceCast="False"/></Thing>
  <Thing Name="Spinner"><Transform Position="0,0,0" Rotation="1,0,0,0" Scale="0.272764,0.272764,0.272764"/>
    <MeshRenderer Mesh="Cube" Materials="BarWall" Visible="False" ShadowCast="False" BounceCast="False"/></Thing>
  <Thing Name="Bar"><Transform Position=")" + bar.str() + R"(" Rotation="1,0,0,0" Scale="0.04,0.04,15" Parent="Spinner"/>
    <MeshRenderer Mesh="Cube" Materials="BarLight" Visible="True" ShadowCast="False" BounceCast="False"/></Thing>
</Things></Level>)");
  dir.Write("Bar/Materials/BarWall.xml",
            R"(<Material Shader="Standard"><Settings Color="0.05,0.05,0.05" Roughness="1" Metallic="0"/></Material>)");
  dir.Write("Bar/Materials/BarLight.xml",
            R"(<Material Shader="Standard"><Settings Color="0,0,0" Roughness="1" Metallic="0" )"
            R"(EmissionColor="1,1,1" Strength="4"/></Material>)");
  const std::string png = dir.Path() + "/bar.png";
  ProgramRun run = RunProgram(dir, "--level '" + level + "' --size 320x180 --camera 0,0,1.5,0,0 --fov 5 --frames 6 "
                                   "--fixed-step 0.5 --hide-panel --capture '" + png + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  int w = 0, h = 0, channels = 0;
  stbi_uc* pixels = stbi_load(png.c_str(), &w, &h, &channels, 3);
  ASSERT_NE(pixels, nullptr) << png;
  // The middle row: the bar's brightest pixel, then the way it came from.
  std::vector<float> row(static_cast<size_t>(w));
  for (int x = 0; x < w; ++x) row[x] = Luminance(pixels + (static_cast<size_t>(h / 2) * w + x) * 3);
  stbi_image_free(pixels);
  const int at = static_cast<int>(std::max_element(row.begin(), row.begin() + w / 2) - row.begin());
  EXPECT_NEAR(at, 64, 8) << "the bar stands where it was carried";
  EXPECT_GT(row[at], 150.0f) << "the bar is lit";
  float lowest = row[at];
  for (int x = at + 1; x < w; ++x) {
    EXPECT_LE(row[x], lowest + 3.0f) << "a copy of the bar " << x - at << " pixels behind it";
    lowest = std::min(lowest, row[x]);
  }
}

TEST(Program, TheSunlitPavingDoesNotSparkleInFlight) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  // Low over the sunlit lane at 6 m/s, at the smallest render scale: the
  // histories are young, so each frame's samples show. A lamp's light is a
  // few percent of the sun's there; sampled as rarely, the few samples
  // that counted it flashed as bright dots.
  KestorTest::TempDir dir;
  const std::string path = dir.Write("flight.txt", "0 -1 -6 0.5 20 -20\n2 -1 6 0.5 20 -20\n");
  const std::string pfm = dir.Path() + "/flight.pfm";
  ProgramRun run = RunProgram(dir, "--size 480x270 --frames 12 --hide-panel --fixed-step 0.1 --set 'Render Scale=0.25' "
                                   "--camera-path '" + path + "' --capture-hdr '" + pfm + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  LinearImage image;
  std::string problem;
  ASSERT_TRUE(FrameCapture::ReadPFM(pfm, image, problem)) << problem;
  // The lower half (the paving; rows run bottom first): pixels a tenth
  // brighter than the median of the 9 x 9 around them.
  int bright = 0, pixels = 0;
  std::vector<float> around;
  for (int y = 4; y < image.Height / 2; ++y) {
    for (int x = 4; x < image.Width - 4; ++x) {
      around.clear();
      for (int j = -4; j <= 4; ++j) {
        for (int i = -4; i <= 4; ++i) around.push_back(Luminance(image.At(x + i, y + j)));
      }
      std::nth_element(around.begin(), around.begin() + 40, around.end());
      bright += Luminance(image.At(x, y)) > 1.1f * around[40] ? 1 : 0;
      ++pixels;
    }
  }
  // Sampled as rarely as their light: 0.44 %; now 0.19 %.
  EXPECT_LT(static_cast<double>(bright) / pixels, 0.003);
}

TEST(Program, FourFramesAfterACutThePictureIsCloseToTheSettledOne) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  // Down the lane the other way, then a cut to the street's corner at 5 s:
  // at two frames a second the 15th frame is the fourth after the cut.
  KestorTest::TempDir dir;
  const std::string corner = "2.66 -5.22 1.23 -40.107 -11.462";
  const std::string path = dir.Write("cut.txt", "0 -1.5 4 1.6 160 -10\n5 -1.5 1 1.6 180 -10\n5 " + corner + "\n");
  const std::string after = dir.Path() + "/after.pfm", settled = dir.Path() + "/settled.pfm";
  ProgramRun cut = RunProgram(dir, "--size 640x360 --hide-panel --fixed-step 0.5 --frames 15 --camera-path '" + path +
                                       "' --capture-hdr '" + after + "'");
  ProgramRun still = RunProgram(dir, "--size 640x360 --hide-panel --fixed-step 0.5 --frames 64 --camera 2.66,-5.22,1.23,"
                                     "-40.107,-11.462 --capture-hdr '" + settled + "'");
  ASSERT_EQ(cut.status, 0) << cut.err;
  ASSERT_EQ(still.status, 0) << still.err;
  LinearImage a, b;
  std::string problem;
  ASSERT_TRUE(FrameCapture::ReadPFM(after, a, problem)) << problem;
  ASSERT_TRUE(FrameCapture::ReadPFM(settled, b, problem)) << problem;
  double difference = 0.0, level = 0.0, mean = 0.0;
  for (size_t k = 0; k < a.RGB.size(); ++k) {
    difference += std::abs(a.RGB[k] - b.RGB[k]);
    level += b.RGB[k];
  }
  for (int y = 0; y < b.Height; ++y) {
    for (int x = 0; x < b.Width; ++x) mean += Luminance(b.At(x, y));
  }
  mean /= static_cast<double>(b.Width) * b.Height;
  EXPECT_LT(difference / level, 0.05) << "mean absolute difference over the mean";
  // Pixels off by more than a quarter: few where the settled picture is
  // smooth around them (grain), and few anywhere (a history seen from the
  // corner's other side kept, an edge or a contact shadow washed out; an
  // edge takes the jittered frames of many more than four frames to settle).
  int smooth = 0, grain = 0, off = 0;
  for (int y = 1; y + 1 < b.Height; ++y) {
    for (int x = 1; x + 1 < b.Width; ++x) {
      float lo = 1e30f, hi = 0.0f;
      for (int k = 0; k < 9; ++k) {
        const float l = Luminance(b.At(x + k % 3 - 1, y + k / 3 - 1));
        lo = std::min(lo, l);
        hi = std::max(hi, l);
      }
      const float here = std::max(Luminance(b.At(x, y)), 0.1f * static_cast<float>(mean));
      const bool wrong = std::abs(Luminance(a.At(x, y)) - Luminance(b.At(x, y))) > 0.25f * here;
      off += wrong ? 1 : 0;
      if (hi - lo > 0.25f * here) continue;
      ++smooth;
      grain += wrong ? 1 : 0;
    }
  }
  ASSERT_GT(smooth, b.Width * b.Height / 2);
  EXPECT_LT(static_cast<double>(grain) / smooth, 0.01) << "grain where the picture is smooth";
  EXPECT_LT(static_cast<double>(off) / ((b.Width - 2) * (b.Height - 2)), 0.01) << "pixels off by more than a quarter";
}

TEST(Program, ABadArgumentStopsWithOneLineAndStatusTwo) {
  KestorTest::TempDir dir;
  ProgramRun run = RunProgram(dir, "--size 640by360");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "KestorEngine: --size: expected WIDTHxHEIGHT in whole pixels from 1 to 16384, such as "
                     "1280x720, not \"640by360\"\n");
  EXPECT_EQ(run.out.find("W: "), std::string::npos) << "no window was opened";
}

TEST(Program, ALevelOfMoreThingsThanIdsStillGetsItsCamera) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
  KestorTest::TempDir dir;
  std::string things;
  for (int i = 0; i < 9000; ++i) {
    things += "<Thing Name=\"T" + std::to_string(i) + "\"><Transform Position=\"0,0,0\" Rotation=\"1,0,0,0\" "
              "Scale=\"1,1,1\"/></Thing>\n";
  }
  const std::string level = dir.Write("Many/Levels/Many.xml", "<Level><Things>\n" + things + "</Things></Level>\n");
  ProgramRun run = RunProgram(dir, "--level '" + level + "' --size 32x32 --frames 2 --hide-panel");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Many.xml: no Thing id is left for 816 Things from line 8186 (\"T8184\") on"),
            std::string::npos)
      << ProblemLines(run.out);
  EXPECT_EQ(run.out.find("No Thing id is left for the camera"), std::string::npos);
}
