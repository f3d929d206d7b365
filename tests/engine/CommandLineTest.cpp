// Guards the command line: every option's accepted forms, the one-line
// refusal of each bad value, the order overrides apply in, the camera pose
// convention and where a level file's own assets are looked for.
#include <gtest/gtest.h>

#include <functional>
#include <glm/gtc/quaternion.hpp>

#include "engine/CVar.h"
#include "engine/CommandLine.h"
#include "engine/File.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

constexpr int Presets = 4;

CommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "KestorEngine");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), Presets);
}

// The direction the pose's camera looks along (its local -Z).
glm::vec3 ViewOf(const CameraPose& pose) { return pose.Rotation() * glm::vec3(0.0f, 0.0f, -1.0f); }

}  // namespace

TEST(CommandLine, NoArgumentsKeepTheUsualStart) {
  CommandLine c = Parse({});
  ASSERT_EQ(c.ExitStatus, -1) << c.Message;
  EXPECT_EQ(c.Options.Level, "StreetTest");
  EXPECT_EQ(c.Options.ConfigPath, "KestorConfig.txt");
  EXPECT_FALSE(c.Options.Size || c.Options.Camera || c.Options.FieldOfView || c.Options.Preset);
  EXPECT_EQ(c.Options.Frames, 0);
  EXPECT_TRUE(ConfigOverrides(c.Options).empty());
}

TEST(CommandLine, EveryOptionReachesItsField) {
  KestorTest::TempDir dir;
  const std::string config = dir.Write("my.cfg", "bool Fullscreen = false;\n");
  const std::string level = dir.Write("Levels/Mine.xml", "<Level><Things/></Level>");
  const std::string path = dir.Write("tour.txt", "0 1 2 3 90 0\n2 1 2 3 90 0 50\n");
  CVarHandler::Create<float>("Test Blend", 0.0f);
  struct Case {
    std::vector<std::string> args;
    std::function<bool(const LaunchOptions&)> holds;
  };
  const Case cases[] = {
      {{"--level", "StreetTest"}, [](auto& o) { return o.Level == "StreetTest"; }},
      {{"--level", level}, [&](auto& o) { return o.Level == level; }},
      {{"--config", config}, [&](auto& o) { return o.ConfigPath == config; }},
      {{"--size", "640x360"}, [](auto& o) { return o.Size == glm::ivec2(640, 360); }},
      {{"--size=1X1"}, [](auto& o) { return o.Size == glm::ivec2(1, 1); }},
      {{"--windowed"}, [](auto& o) { return o.Windowed; }},
      {{"--camera", "-1.5,2,3e1,90,-45"},
       [](auto& o) {
         return o.Camera && o.Camera->Position == glm::vec3(-1.5f, 2.0f, 30.0f) && o.Camera->Yaw == 90.0f &&
                o.Camera->Pitch == -45.0f;
       }},
      {{"--fov", "50"}, [](auto& o) { return o.FieldOfView == 50.0f; }},
      {{"--preset", "3"}, [](auto& o) { return o.Preset == 3; }},
      {{"--set", "Test Blend=0.5", "--set", "Temporal Sampling=false"},
       [](auto& o) {
         return o.Settings.size() == 2 && o.Settings[0].first == "Test Blend" && o.Settings[0].second == "0.5" &&
                o.Settings[1].first == "Temporal Sampling";
       }},
      {{"--frames", "64"}, [](auto& o) { return o.Frames == 64; }},
      {{"--capture", dir.Path() + "/a.PNG"}, [&](auto& o) { return o.CapturePath == dir.Path() + "/a.PNG"; }},
      {{"--capture-hdr", "linear.pfm"}, [](auto& o) { return o.CaptureHDRPath == "linear.pfm"; }},
      {{"--hide-panel"}, [](auto& o) { return o.HidePanel; }},
      {{"--fixed-step", "0.5"}, [](auto& o) { return o.FixedStep == 0.5f; }},
      {{"--camera-path", path}, [](auto& o) { return o.CameraPath.size() == 2 && o.CameraPath[1].Time == 2.0f; }},
      {{"--sky", "none"}, [](auto& o) { return o.Sky == "none"; }},
  };
  for (const Case& c : cases) {
    CommandLine parsed = Parse(c.args);
    EXPECT_EQ(parsed.ExitStatus, -1) << c.args[0] << ": " << parsed.Message;
    EXPECT_TRUE(c.holds(parsed.Options)) << c.args[0];
  }
}

TEST(CommandLine, BadArgumentsGiveOneLineAndStatusTwo) {
  KestorTest::TempDir dir;
  const std::string text = dir.Write("Text.xml", "just some words\n");
  const std::string bytes = dir.Write("Bytes.xml", std::string("\x89\x01\xff\0\x7f<<", 7));
  const std::string stage = dir.Write("Stage.xml", "<Stage><Things/></Stage>");
  const std::string bare = dir.Write("Bare.xml", "<Level><Thing Name=\"A\"/></Level>");
  const std::string path = dir.Write("tour.txt", "0 0 0 0 0 0\n1 0 0 0 0\n");
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"--level", text}, "is not a level: it is not XML"},
      {{"--level", bytes}, "is not a level: it is not XML"},
      {{"--level", stage}, "is not a level: it has no \"Level\" element"},
      {{"--level", bare}, "is not a level: its \"Level\" has no \"Things\" element"},
      {{"--level", "NoSuchLevel"}, "StreetTest"},  // lists the levels there are
      {{"--level", "/no/such/Level.xml"}, "no level file"},
      {{"--level", "Levels/Street.txt"}, "ends in .xml"},
      {{"--config", "/no/such.cfg"}, "no file"},
      {{"--size", "640"}, "WIDTHxHEIGHT"},
      {{"--size", "0x360"}, "WIDTHxHEIGHT"},
      {{"--size", "640x360px"}, "WIDTHxHEIGHT"},
      {{"--size", "99999x1"}, "WIDTHxHEIGHT"},
      {{"--camera", "1,2,3"}, "five numbers"},
      {{"--camera", "1,2,3,4,five"}, "five numbers"},
      {{"--camera", "0,0,0,0,120"}, "pitch"},
      {{"--fov", "0.5"}, "between 1 and 179"},
      {{"--fov", "wide"}, "--fov"},
      {{"--preset", "4"}, "0 to 3"},
      {{"--preset", "-1"}, "0 to 3"},
      {{"--set", "NoEquals"}, "Name=value"},
      {{"--set", "No Such Variable=1"}, "No Such Variable"},
      {{"--set", "Temporal Sampling=yes"}, "true, false"},
      {{"--set", "Temporal Sample Blend=0.5x"}, "a number"},
      {{"--frames", "0"}, "at least 1"},
      {{"--frames", "many"}, "--frames"},
      {{"--capture", "shot.jpg"}, ".png"},
      {{"--capture", "/no/such/folder/shot.png"}, "no folder"},
      {{"--capture-hdr", "shot.png"}, ".pfm"},
      {{"--sky", "night"}, "day or none"},
      {{"--size", "1x1", "--size", "2x2"}, "--size"},
      {{"--bogus"}, "--bogus"},
      {{"stray"}, "stray"},
      {{"--frames"}, "--frames"},
      {{"--fixed-step", "0"}, "above 0"},
      {{"--fixed-step", "-0.5"}, "above 0"},
      {{"--fixed-step", "1e9"}, "at most 60"},
      {{"--fixed-step", "half"}, "above 0"},
      {{"--camera-path", "/no/such/tour.txt"}, "/no/such/tour.txt: cannot read"},
      {{"--camera-path", path}, "tour.txt:2: expected t x y z yaw pitch"},
  };
  for (const Case& c : cases) {
    CommandLine parsed = Parse(c.args);
    EXPECT_EQ(parsed.ExitStatus, 2) << c.args[0];
    EXPECT_NE(parsed.Message.find(c.says), std::string::npos) << parsed.Message;
    EXPECT_EQ(parsed.Message.find('\n'), std::string::npos) << parsed.Message;
  }
}

TEST(CommandLine, HelpEndsWithStatusZeroAndNamesEveryOption) {
  CommandLine c = Parse({"--help"});
  EXPECT_EQ(c.ExitStatus, 0);
  for (const char* option : {"--level", "--config", "--size", "--windowed", "--camera", "--fov", "--preset",
                             "--set", "--frames", "--capture", "--capture-hdr", "--hide-panel", "--fixed-step",
                             "--camera-path", "--sky"}) {
    EXPECT_NE(c.Message.find(option), std::string::npos) << option;
  }
}

TEST(CommandLine, OverridesApplyAfterTheFileInOrderAndSizeOpensAWindow) {
  auto* blend = CVarHandler::Create<float>("Test Order", 0.0f);
  CommandLine c =
      Parse({"--set", "Test Order=1", "--size", "320x200", "--frames", "4", "--set", "Test Order=2"});
  ASSERT_EQ(c.ExitStatus, -1) << c.Message;
  using Pair = std::pair<std::string, std::string>;
  // A set number of frames keeps the render scale fixed, unless a --set says otherwise.
  const std::vector<Pair> expected = {{"Screen Resolution", "320,200"}, {"Fullscreen", "false"},
                                      {"Auto Render Scale", "false"},   {"Test Order", "1"},
                                      {"Test Order", "2"}};
  EXPECT_EQ(ConfigOverrides(c.Options), expected);
  // The pairs are what SetFromText reads, whatever the variable's type.
  for (const Pair& p : expected) {
    std::string problem;
    EXPECT_TRUE(CVarHandler::SetFromText(p.first, p.second, problem)) << problem;
  }
  EXPECT_EQ(blend->value, 2.0f);
}

TEST(CommandLine, CameraPoseLooksWhereTheConventionSays) {
  struct Case {
    float yaw, pitch;
    glm::vec3 view;
  };
  const float h = std::sqrt(0.5f);
  const Case cases[] = {
      {0, 0, {0, 1, 0}}, {90, 0, {1, 0, 0}}, {-90, 0, {-1, 0, 0}}, {180, 0, {0, -1, 0}},
      {0, 45, {0, h, h}}, {90, -45, {h, 0, -h}},
  };
  for (const Case& c : cases) {
    CameraPose pose;
    pose.Yaw = c.yaw;
    pose.Pitch = c.pitch;
    const glm::vec3 view = ViewOf(pose);
    EXPECT_NEAR(glm::distance(view, c.view), 0.0f, 1e-5f) << c.yaw << "," << c.pitch;
    // Never rolled: the camera's right stays level.
    EXPECT_NEAR((pose.Rotation() * glm::vec3(1, 0, 0)).z, 0.0f, 1e-5f);
  }
}

TEST(CommandLine, ALevelFilesAssetsAreFoundBesideItFirst) {
  KestorTest::TempDir dir;
  const std::string engineMesh = File::AssetsPath + "Meshes/Cube.fml";
  dir.Write("Scene/Levels/Room.xml", "<Level/>");
  dir.Write("Scene/Meshes/Chair.fml", "<Mesh/>");
  dir.Write("Loose/Room.xml", "<Level/>");
  dir.Write("Loose/Materials/Wood.xml", "<Material/>");

  // In a Levels folder: the assets sit beside that folder.
  EXPECT_EQ(SelectLevel(dir.Path() + "/Scene/Levels/Room.xml"), dir.Path() + "/Scene/Levels/Room.xml");
  EXPECT_EQ(File::Find("Meshes", "Chair.fml"), dir.Path() + "/Scene/Meshes/Chair.fml");
  EXPECT_EQ(File::Find("Meshes", "Cube.fml"), engineMesh) << "the engine's own assets stay reachable";

  // Anywhere else: beside the file itself.
  SelectLevel(dir.Path() + "/Loose/Room.xml");
  EXPECT_EQ(File::Find("Materials", "Wood.xml"), dir.Path() + "/Loose/Materials/Wood.xml");

  // A folder of the scene's own that it lacks: the engine's files of that name, said once for the folder.
  {
    KestorTest::CaptureStdout out;
    EXPECT_EQ(File::Find("Meshes", "Cornell/Floor.fml"), File::AssetsPath + "Meshes/Cornell/Floor.fml");
    File::Find("Meshes", "Cornell/Ceiling.fml");
    EXPECT_EQ(out.Text(), dir.Path() + "/Loose/Meshes/Cornell/Floor.fml: not found beside the level, taking " +
                              File::AssetsPath + "Meshes/Cornell/Floor.fml (and so for the rest of \"Cornell\")\n");
  }

  // A level by name brings no assets of its own.
  EXPECT_EQ(SelectLevel("StreetTest"), "StreetTest");
  EXPECT_EQ(File::SceneAssetsPath, "");
  EXPECT_EQ(File::Find("Materials", "Wood.xml"), File::AssetsPath + "Materials/Wood.xml");
}
