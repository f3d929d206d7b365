// Guards the configuration file's positional line cutting, the per-type value
// rules and that bad lines are reported and skipped, never thrown.
#include <gtest/gtest.h>

#include "engine/CVar.h"
#include "renderer/RenderSettings.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

std::string Apply(const std::string& line) {
  KestorTest::CaptureStdout out;
  CVarHandler::ApplyLine(line, "KestorConfig.txt", 1);
  return out.Text();
}

}  // namespace

TEST(ConfigLineCutting, AwkwardLines) {
  struct Case {
    const char* line;
    const char* type;
    const char* name;
    const char* value;
  };
  const Case cases[] = {
      {"bool Fullscreen = false;", "bool", "Fullscreen", "false"},
      {"vec2 Screen Resolution = vec2(1920,1080);", "vec2", "Screen Resolution", "vec2(1920,1080)"},
      {"int LightingSetup = 2", "int", "LightingSetup", "2"},                // no ";"
      {"bool Fullscreen = true\r", "bool", "Fullscreen", "true\r"},          // CR kept
      {"", "", "", ""},
      {"bool", "bool", "", ""},                                              // no space
      {"bool Fullscreen", "bool", "", ""},                                   // no "="
      {"bool Fullscreen =", "bool", "Fullscreen", ""},                       // nothing after "="
      {"bool  Two  Spaces = true;", "bool", " Two  Spaces", "true"},
      {"float Temporal Sample Blend = 0.5; trailing", "float", "Temporal Sample Blend", "0.5"},
      {"bool x=true;", "bool", "", ""},                                       // "=" without spaces
  };
  for (const Case& c : cases) {
    ConfigLine cut = CutConfigLine(c.line);
    EXPECT_EQ(cut.type, c.type) << c.line;
    EXPECT_EQ(cut.name, c.name) << c.line;
    EXPECT_EQ(cut.value, c.value) << c.line;
  }
}

TEST(ConfigValues, BoolIsTrueOnlyForTheExactText) {
  auto* v = CVarHandler::Create<bool>("Test Bool", false);
  Apply("bool Test Bool = true;");
  EXPECT_TRUE(v->value);
  Apply("bool Test Bool = False;");
  EXPECT_FALSE(v->value);
  Apply("bool Test Bool = true;");
  Apply("bool Test Bool = true\r");
  EXPECT_FALSE(v->value) << "a carriage return makes the value not \"true\"";
}

TEST(ConfigValues, Vec2ReadsBetweenParenthesesWhateverComesBefore) {
  auto* v = CVarHandler::Create<glm::vec2>("Test Size", glm::vec2(1, 2));
  EXPECT_NE(Apply("vec2 Test Size = vec2(800,600);").find("vec2(800,600)\n"), std::string::npos);
  EXPECT_EQ(v->value, glm::vec2(800, 600));
  Apply("vec2 Test Size = (640, 480);");
  EXPECT_EQ(v->value, glm::vec2(640, 480));
}

TEST(ConfigValues, IntAndFloatFollowTheStandardReadingRules) {
  auto* i = CVarHandler::Create<int>("Test Int", 0);
  auto* f = CVarHandler::Create<float>("Test Float", 0.0f);
  Apply("int Test Int =   42abc;");
  EXPECT_EQ(i->value, 42);
  Apply("float Test Float = 0.75;");
  EXPECT_FLOAT_EQ(f->value, 0.75f);
}

TEST(ConfigValues, BadNumbersAndTypeMismatchesAreReportedAndIgnored) {
  auto* i = CVarHandler::Create<int>("Test Int2", 7);
  auto* v = CVarHandler::Create<glm::vec2>("Test Vec", glm::vec2(3, 4));
  auto* b = CVarHandler::Create<bool>("Test Flag", true);

  std::string out = Apply("int Test Int2 = many;");
  EXPECT_EQ(i->value, 7);
  EXPECT_NE(out.find("KestorConfig.txt:1: \"many\" is not a int value"), std::string::npos) << out;

  out = Apply("int Test Int2 = 99999999999999;");
  EXPECT_EQ(i->value, 7);

  for (const char* line : {"vec2 Test Vec = vec2(a,b);", "vec2 Test Vec = 800,600;",
                           "vec2 Test Vec = )1,2(;", "vec2 Test Vec = vec2(1,"}) {
    out = Apply(line);
    EXPECT_EQ(v->value, glm::vec2(3, 4)) << line;
    EXPECT_NE(out.find("is not a vec2 value"), std::string::npos) << line;
  }

  out = Apply("int Test Flag = 0;");
  EXPECT_TRUE(b->value) << "an int line must not be written into a bool";
  EXPECT_NE(out.find("\"Test Flag\" is not a int variable"), std::string::npos) << out;
}

TEST(ConfigValues, UnknownNamesAndTypeWordsChangeNothingButAreEchoed) {
  const size_t before = CVarHandler::CVarDict().size();
  std::string out = Apply("bool Foo = true;");
  EXPECT_EQ(CVarHandler::CVarDict().size(), before);
  EXPECT_EQ(out, "true\nFoo\nbool\n");
  EXPECT_EQ(Apply(""), "\n\n\n");
  auto* v = CVarHandler::Create<bool>("Test Other", false);
  Apply("string Test Other = true;");
  EXPECT_FALSE(v->value);
}

TEST(ConfigFile, LoadAppliesEveryLineAndCreateKeepsLoadedValues) {
  KestorTest::TempDir dir;
  std::string path = dir.Write("KestorConfig.txt",
                               "bool Fullscreen = false;\n"
                               "int LightingSetup = 2;\n"
                               "float Temporal Sample Blend = 0.35;\n"
                               "vec2 Screen Resolution = vec2(800,600);\n");
  {
    KestorTest::CaptureStdout out;
    CVarHandler::Load(path);
    CVarHandler::Load(dir.Path() + "/missing.txt");  // silently skipped
  }
  EXPECT_FALSE(Fullscreen->value);
  EXPECT_EQ(LightingSetup->value, 2);
  EXPECT_FLOAT_EQ(TemporalSSExponent->value, 0.35f);
  EXPECT_EQ(CVarHandler::Create<glm::vec2>("Screen Resolution", {1920, 1080})->value,
            glm::vec2(800, 600));
  EXPECT_EQ(CVarHandler::Create<bool>("Fullscreen", true), Fullscreen);

  // Later tests in the same process expect the defaults.
  Fullscreen->value = true;
  LightingSetup->value = 0;
  TemporalSSExponent->value = 0.2f;
  ScreenResolution->value = glm::vec2(1280, 720);
}

TEST(ConfigFile, CreateWithAnotherTypeGetsAVariableOfItsOwnAndALine) {
  CVar<bool>* flag = CVarHandler::Create<bool>("Clash Test", true);
  KestorTest::CaptureStdout out;
  CVar<glm::vec2>* pair = CVarHandler::Create<glm::vec2>("Clash Test", glm::vec2(3.0f, 4.0f));
  ASSERT_NE(static_cast<CVarT*>(pair), static_cast<CVarT*>(flag));
  EXPECT_EQ(pair->value, glm::vec2(3.0f, 4.0f));
  pair->value = glm::vec2(1e9f, 1e9f);
  EXPECT_TRUE(flag->value) << "the bool is untouched";
  EXPECT_EQ(CVarHandler::CVarDict().at("Clash Test"), flag);
  EXPECT_NE(out.Text().find("CVar \"Clash Test\" is a bool, not a vec2"), std::string::npos) << out.Text();
  EXPECT_EQ(CVarHandler::Create<bool>("Clash Test", false), flag) << "the same type still shares";
}

TEST(ConfigValues, SetFromTextReadsTheWholeValueByTheVariablesOwnType) {
  auto* b = CVarHandler::Create<bool>("Text Bool", false);
  auto* i = CVarHandler::Create<int>("Text Int", 7);
  auto* f = CVarHandler::Create<float>("Text Float", 0.5f);
  auto* v = CVarHandler::Create<glm::vec2>("Text Vec2", glm::vec2(1.0f));
  struct Case {
    const char* name;
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"Text Bool", "true", true},   {"Text Bool", "0", true},      {"Text Bool", "True", false},
      {"Text Int", "-3", true},      {"Text Int", "3.5", false},    {"Text Int", "99999999999", false},
      {"Text Float", "2.5", true},   {"Text Float", "2.5f", false}, {"Text Float", " 1", false},
      {"Text Float", "inf", false},  {"Text Vec2", "4,5", true},    {"Text Vec2", "(6,7)", true},
      {"Text Vec2", "8", false},     {"No Such", "1", false},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_EQ(CVarHandler::SetFromText(c.name, c.text, problem, false), c.ok) << c.name << "=" << c.text;
    EXPECT_EQ(problem.empty(), c.ok) << problem;
  }
  EXPECT_FALSE(b->value) << "checking alone changes nothing";
  EXPECT_EQ(i->value, 7);

  std::string problem;
  EXPECT_TRUE(CVarHandler::SetFromText("Text Bool", "1", problem));
  EXPECT_TRUE(CVarHandler::SetFromText("Text Int", "-3", problem));
  EXPECT_TRUE(CVarHandler::SetFromText("Text Float", "2.5", problem));
  EXPECT_TRUE(CVarHandler::SetFromText("Text Vec2", "(6,7)", problem));
  EXPECT_FALSE(CVarHandler::SetFromText("Text Int", "x", problem));
  EXPECT_TRUE(b->value);
  EXPECT_EQ(i->value, -3);
  EXPECT_EQ(f->value, 2.5f);
  EXPECT_EQ(v->value, glm::vec2(6.0f, 7.0f));
}

TEST(ConfigValues, ValuesOutsideAVariablesLimitsAreRefusedByTextAndFile) {
  auto* f = CVarHandler::Create<float>("Limited Float", 0.5f);
  auto* v = CVarHandler::Create<glm::vec2>("Limited Vec2", glm::vec2(1.0f));
  f->Limit(0.0, 1.0);
  v->Limit(1.0, 100.0);
  struct Case {
    const char* name;
    const char* text;
    const char* line;
  };
  const Case cases[] = {
      {"Limited Float", "-0.5", "float Limited Float = -0.5;"},
      {"Limited Float", "1e38", "float Limited Float = 1e38;"},
      {"Limited Vec2", "5,0", "vec2 Limited Vec2 = vec2(5,0);"},
      // The renderer's own: a negative exposure is a black frame, preset 99 none at all.
      {"Exposure", "-1e38", "float Exposure = -1e38;"},
      {"LightingSetup", "99", "int LightingSetup = 99;"},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_FALSE(CVarHandler::SetFromText(c.name, c.text, problem)) << c.name << "=" << c.text;
    EXPECT_NE(problem.find("takes values from "), std::string::npos) << problem;
    const std::string out = Apply(c.line);
    EXPECT_NE(out.find("\" is outside what \"" + std::string(c.name) + "\" takes (from "), std::string::npos) << out;
  }
  EXPECT_EQ(f->value, 0.5f);
  EXPECT_EQ(v->value, glm::vec2(1.0f));
  std::string problem;
  EXPECT_TRUE(CVarHandler::SetFromText("Screen Resolution", "0,0", problem, false)) << "a maximised window: " << problem;
  EXPECT_EQ(Exposure->value, 1.1f);
  EXPECT_EQ(LightingSetup->value, 0);
}
