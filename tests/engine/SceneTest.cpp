// Guards the level loader: two-pass naming, component loading by registered
// type name, its console lines, and that every kind of malformed level is
// reported in one line and skipped while the rest of the level loads.
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "engine/File.h"
#include "engine/Resource.h"
#include "engine/Scene.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

// Stand-in for a placement component: vectors and an optional parent link.
struct Spot : Component {
  void Load(AttributeMap attributes, Scene* scene) override {
    ++loads;
    scene->ReadVec3(attributes, "Position", Position);
    scene->ReadVec4(attributes, "Rotation", Rotation);
    scene->ReadVec3(attributes, "Scale", Scale);
    Parent = nullptr;
    Thing parent;
    if (scene->ReadThing(attributes, "Parent", parent)) Parent = ComponentHandler<Spot>::Get(parent);
  }
  static Component* AddMe(Thing t) { return AddComponent<Spot>(t); }

  glm::vec3 Position{0};
  glm::vec4 Rotation{1, 0, 0, 0};
  glm::vec3 Scale{1};
  Spot* Parent = nullptr;
  int loads = 0;
};

// Stand-in for a component with a plain number; throws on request.
struct Glow : Component {
  void Load(AttributeMap attributes, Scene* scene) override {
    if (attributes.count("Throw")) throw std::runtime_error("boom");
    scene->ReadFloat(attributes, "Samples", Samples);
  }
  static Component* AddMe(Thing t) { return AddComponent<Glow>(t); }
  float Samples = 10;
};

struct Quiet : Component {
  static Component* AddMe(Thing t) { return AddComponent<Quiet>(t); }
};

const char* const LastThing =
    R"(<Thing Name="Last"><Spot Position="7,8,9" Rotation="1,0,0,0" Scale="1,1,1"/></Thing>)";

class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (bool& used : Thing::ThingsUsed) used = false;
    for (Spot& spot : ComponentHandler<Spot>::Components) spot = Spot();
    for (Glow& glow : ComponentHandler<Glow>::Components) glow = Glow();
    shippedAssets = File::AssetsPath;
    File::AssetsPath = assets.Path() + File::PathSeparator;
    RegisterComponentType<Spot>("Spot");
    RegisterComponentType<Glow>("Glow");
  }
  void TearDown() override {
    File::AssetsPath = shippedAssets;
    GimmooString.clear();
    EXPECT_TRUE(Scene::ActiveScenes.empty()) << "a scene outlived its test";
  }

  void WriteLevel(const std::string& name, const std::string& text) {
    assets.Write("Levels/" + name + ".xml", text);
  }
  void WriteThings(const std::string& name, const std::string& things) {
    WriteLevel(name, "<Level>\n<Things>\n" + things + "\n</Things>\n</Level>\n");
  }

  static Spot* SpotOf(const Scene& scene, const std::string& thing) {
    return ComponentHandler<Spot>::Get(scene.Things.at(thing));
  }

  // The loader's problem lines: those that start with the level's path.
  static std::vector<std::string> Problems(const Scene& scene, const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(scene.Path() + ": ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  KestorTest::TempDir assets;
  std::string shippedAssets;
};

}  // namespace

TEST_F(SceneTest, LoadsEveryThingInFileOrderAndPrintsEachComponent) {
  WriteThings("Yard",
              R"(<Thing Name="Gate"><Spot Scale="2,2,2" Position="1,2,3" Rotation="0,0,0,1"/></Thing>
                 <Prop Anything="Well"><Spot Position="0,0,1" Rotation="1,0,0,0" Scale="1,1,1"/>
                   <Glow Samples="4"/></Prop>)");
  KestorTest::CaptureStdout out;
  Scene scene("Yard");

  EXPECT_EQ(scene.ProblemCount(), 0) << out.Text();
  EXPECT_EQ(scene.Things.at("Gate").ID, 0);
  EXPECT_EQ(scene.Things.at("Well").ID, 1) << "the first attribute names a Thing, whatever its name";
  Spot* gate = SpotOf(scene, "Gate");
  ASSERT_NE(gate, nullptr);
  EXPECT_EQ(gate->Position, glm::vec3(1, 2, 3));
  EXPECT_EQ(gate->Rotation, glm::vec4(0, 0, 0, 1));
  EXPECT_EQ(gate->Scale, glm::vec3(2));
  EXPECT_FLOAT_EQ(ComponentHandler<Glow>::Get(scene.Things.at("Well"))->Samples, 4.0f);

  // Attributes are echoed in document order, not the map's order.
  EXPECT_EQ(out.Text(),
            "Spot\n1\nScale: 2,2,2\nPosition: 1,2,3\nRotation: 0,0,0,1\n"
            "Spot\n1\nPosition: 0,0,1\nRotation: 1,0,0,0\nScale: 1,1,1\n"
            "Glow\n1\nSamples: 4\n");
  ASSERT_EQ(Scene::ActiveScenes.size(), 1u);
  EXPECT_EQ(Scene::ActiveScenes[0], &scene);
}

TEST_F(SceneTest, DuplicateNameKeepsItsIdButLoadsIntoTheFirstThing) {
  WriteThings("Twins",
              R"(<Thing Name="A"><Spot Position="1,1,1" Rotation="1,0,0,0" Scale="1,1,1"/></Thing>
                 <Thing Name="A"><Glow Samples="3"/></Thing>
                 <Thing Name="B"/>)");
  KestorTest::CaptureStdout out;
  Scene scene("Twins");

  EXPECT_EQ(scene.Things.size(), 2u);
  EXPECT_EQ(scene.Things.at("A").ID, 0);
  EXPECT_TRUE(Thing::ThingsUsed[1]) << "the duplicate's id stays handed out";
  EXPECT_EQ(scene.Things.at("B").ID, 2);
  Thing first = scene.Things.at("A");
  EXPECT_NE(ComponentHandler<Spot>::Get(first), nullptr);
  ASSERT_NE(ComponentHandler<Glow>::Get(first), nullptr);
  EXPECT_FLOAT_EQ(ComponentHandler<Glow>::Get(first)->Samples, 3.0f);
  auto problems = Problems(scene, out.Text());
  ASSERT_EQ(problems.size(), 1u) << out.Text();
  EXPECT_NE(problems[0].find("\"A\" is already used at line 3"), std::string::npos) << problems[0];
}

TEST_F(SceneTest, AFullLevelLeavesTheProgramItsIdsAndSaysOnceWhatItSkipped) {
  // Two ids to spare beyond what the program keeps: two Things fit, three do not.
  for (bool& used : Thing::ThingsUsed) used = true;
  for (int id = 100; id < 100 + Thing::KeptForProgram + 2; ++id) Thing::ThingsUsed[id] = false;
  WriteThings("Full", R"(<Thing Name="A"><Glow Samples="2"/></Thing>
                         <Thing Name="B"/>
                         <Thing Name="C"><Glow Samples="5"/></Thing>
                         <Thing Name="D"/>
                         <Thing Name="E"/>)");
  KestorTest::CaptureStdout out;
  Scene scene("Full");
  ASSERT_EQ(scene.Things.size(), 2u);
  EXPECT_EQ(scene.Things.at("A").ID, 100);
  EXPECT_FLOAT_EQ(ComponentHandler<Glow>::Get(scene.Things.at("A"))->Samples, 2.0f);
  EXPECT_FLOAT_EQ(ComponentHandler<Glow>::Components[0].Samples, 10.0f) << "nothing lands on Thing 0";
  auto problems = Problems(scene, out.Text());
  ASSERT_EQ(problems.size(), 1u) << out.Text();
  EXPECT_NE(problems[0].find("no Thing id is left for 3 Things from line 5 (\"C\") on"), std::string::npos)
      << problems[0];
  for (int kept = 0; kept < Thing::KeptForProgram; ++kept) EXPECT_FALSE(Thing::Gimme().IsDud()) << kept;
}

TEST_F(SceneTest, ParentsLinkOnlyToThingsWhoseElementComesEarlier) {
  WriteThings("Family",
              R"(<Thing Name="Early"><Spot Position="0,0,0" Rotation="1,0,0,0" Scale="1,1,1" Parent="Root"/></Thing>
                 <Thing Name="Root"><Spot Position="0,5,0" Rotation="1,0,0,0" Scale="1,1,1"/></Thing>
                 <Thing Name="Late"><Spot Position="1,0,0" Rotation="1,0,0,0" Scale="1,1,1" Parent="Root"/></Thing>)");
  KestorTest::CaptureStdout quiet;
  Scene scene("Family");

  EXPECT_EQ(scene.ProblemCount(), 0) << "naming a later Thing is legal, it just finds no component yet";
  EXPECT_EQ(SpotOf(scene, "Early")->Parent, nullptr);
  EXPECT_EQ(SpotOf(scene, "Late")->Parent, SpotOf(scene, "Root"));
}

TEST_F(SceneTest, EachMalformedPieceGetsOneLineAndTheRestStillLoads) {
  struct Case {
    const char* things;
    const char* expected;  // part of the one problem line
  };
  const Case cases[] = {
      {R"(<Thing/>)", "line 3: Thing element <Thing> has no attribute to name it"},
      {R"(<Thing Name="A"><Wobble Size="3"/></Thing>)",
       "line 3: Wobble of Thing \"A\": not a registered component type, skipped"},
      {R"(<Thing Name="A"><Spot Position="1,2,3" Rotation="1,0,0,0" Scale="1,1,1" Parent="Nobody"/></Thing>)",
       "Spot of Thing \"A\": \"Parent\" names no Thing of this level: \"Nobody\""},
      {R"(<Thing Name="A"><Spot Position="1,2" Rotation="1,0,0,0" Scale="1,1,1"/></Thing>)",
       "\"Position\" is not 3 numbers: \"1,2\""},
      {R"(<Thing Name="A"><Spot Position="1,2,3" Rotation="1,0,0" Scale="1,1,1"/></Thing>)",
       "\"Rotation\" is not 4 numbers: \"1,0,0\""},
      {R"(<Thing Name="A"><Spot Position="1,2,3" Rotation="1,0,0,0"/></Thing>)", "\"Scale\" is missing"},
      {R"(<Thing Name="A"><Glow Samples="lots"/></Thing>)", "\"Samples\" is not a number: \"lots\""},
      {R"(<Thing Name="A"><Glow Samples="4" Throw="yes"/></Thing>)", "Glow of Thing \"A\": loading failed: boom"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.things);
    for (bool& used : Thing::ThingsUsed) used = false;
    std::string name = "Bad" + std::to_string(index++);
    WriteThings(name, std::string(c.things) + "\n" + LastThing);
    KestorTest::CaptureStdout out;
    Scene scene(name);

    auto problems = Problems(scene, out.Text());
    ASSERT_EQ(problems.size(), 1u) << out.Text();
    EXPECT_NE(problems[0].find(c.expected), std::string::npos) << problems[0];
    EXPECT_EQ(scene.ProblemCount(), 1);
    ASSERT_EQ(scene.Things.count("Last"), 1u);
    ASSERT_NE(SpotOf(scene, "Last"), nullptr);
    EXPECT_EQ(SpotOf(scene, "Last")->Position, glm::vec3(7, 8, 9));
  }
}

TEST_F(SceneTest, ABadValueLeavesItsFieldAloneAndTheComponentsOtherFieldsLoad) {
  WriteThings("Partial",
              R"(<Thing Name="A"><Wobble/><Spot Position="1,x,3" Rotation="1,0,0,0" Scale="3,3,3" Parent="Nobody"/>
                   <Glow Samples=""/></Thing>)");
  KestorTest::CaptureStdout out;
  Scene scene("Partial");

  Spot* spot = SpotOf(scene, "A");
  ASSERT_NE(spot, nullptr) << "the unregistered element before it is skipped alone";
  EXPECT_EQ(spot->Position, glm::vec3(0));
  EXPECT_EQ(spot->Scale, glm::vec3(3));
  EXPECT_EQ(spot->Parent, nullptr);
  EXPECT_FLOAT_EQ(ComponentHandler<Glow>::Get(scene.Things.at("A"))->Samples, 10.0f);
  EXPECT_EQ(scene.ProblemCount(), 4) << out.Text();
}

TEST_F(SceneTest, AFileThatCannotBeReadGivesAnEmptyScene) {
  struct Case {
    const char* level;  // null: no file at all
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, "cannot read the level (XML_ERROR_FILE_NOT_FOUND)"},
      {"", "cannot read the level (XML_ERROR_EMPTY_DOCUMENT)"},
      {"<Level>\n<Things>\n<Thing Name=\"A\">\n</Things>\n</Level>\n",
       "cannot read the level (XML_ERROR_MISMATCHED_ELEMENT at line 3: XMLElement name=Thing)"},
      {"<Stage><Things><Thing Name=\"A\"/></Things></Stage>", "no \"Level\" element"},
      {"<Level><Thing Name=\"A\"/></Level>", "no \"Things\" element in \"Level\""},
  };
  int index = 0;
  for (const Case& c : cases) {
    std::string name = "Broken" + std::to_string(index++);
    SCOPED_TRACE(name);
    if (c.level != nullptr) WriteLevel(name, c.level);
    KestorTest::CaptureStdout out;
    Scene scene(name);

    EXPECT_TRUE(scene.Things.empty());
    EXPECT_FALSE(Thing::ThingsUsed[0]) << "no id is handed out for a level that does not load";
    auto problems = Problems(scene, out.Text());
    ASSERT_EQ(problems.size(), 1u) << out.Text();
    EXPECT_NE(problems[0].find(c.expected), std::string::npos) << problems[0];
    EXPECT_EQ(Scene::ActiveScenes.back(), &scene) << "an empty scene is still a scene";
  }
}

TEST_F(SceneTest, ReleasedSceneForgetsItsNamesButNotItsThings) {
  WriteThings("Lane", R"(<Thing Name="Post"><Spot Position="4,4,4" Rotation="1,0,0,0" Scale="1,1,1"/></Thing>)");
  KestorTest::CaptureStdout out;
  {
    Resource<Scene> first = Resources<Scene>::Get("Lane");
    Resource<Scene> second = Resources<Scene>::Get("Lane");
    EXPECT_EQ(first, second);
    ASSERT_EQ(Scene::ActiveScenes.size(), 1u);
    EXPECT_EQ(Scene::ActiveScenes[0], first.Object());
  }
  EXPECT_TRUE(Scene::ActiveScenes.empty()) << "a deleted scene must not stay listed";
  EXPECT_TRUE(Thing::ThingsUsed[0]);
  Thing post = Thing::MakeAThingWithAnIDISwearIKnowWhatImDoingIPromiseToBeGoodOk(0);
  ASSERT_NE(ComponentHandler<Spot>::Get(post), nullptr);
  EXPECT_EQ(ComponentHandler<Spot>::Get(post)->Position, glm::vec3(4));

  Resource<Scene> reloaded = Resources<Scene>::Get("Lane");
  EXPECT_EQ(reloaded->Things.at("Post").ID, 1) << "a reload hands out new Things";
  reloaded = Resource<Scene>();
}

TEST_F(SceneTest, ShippedStreetLoadsCleanlyWithThePanelsNamedThings) {
  File::AssetsPath = shippedAssets;
  RegisterComponentType<Spot>("Transform");
  RegisterComponentType<Glow>("ISArea");
  RegisterComponentType<Quiet>("MeshRenderer");
  RegisterComponentType<Quiet>("LightField");
  RegisterComponentType<Quiet>("ISContainer");
  RegisterComponentType<Quiet>("Sky");
  KestorTest::CaptureStdout out;
  Scene scene("StreetTest");

  EXPECT_EQ(scene.ProblemCount(), 0) << out.Text();
  for (const char* name : {"Light1Mesh", "Light2Mesh", "SunMesh", "Light1IS", "Light2IS", "Sun", "Window1",
                           "Window2", "Window3", "FireIS", "Fire", "Windows"}) {
    ASSERT_EQ(scene.Things.count(name), 1u) << name;
    EXPECT_NE(SpotOf(scene, name), nullptr) << name;
  }
  // Parents resolve only when their element comes earlier in the file.
  EXPECT_EQ(SpotOf(scene, "Light1Mesh")->Parent, SpotOf(scene, "LampPost1"));
  EXPECT_EQ(SpotOf(scene, "Fire")->Parent, SpotOf(scene, "Brazier"));
}
