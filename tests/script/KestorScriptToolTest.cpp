// Guards the script translator tool's contract: translation alone on standard
// output, problems on standard error, and the exit status telling them apart.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "script/KestorScript.h"
#include "support/TestFiles.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ToolPath() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path() / "KestorScriptTool").string();
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the tool with `args` (already shell-quoted where needed).
ToolRun RunTool(const KestorTest::TempDir& scratch, const std::string& args) {
  const std::string out = scratch.Path() + "/stdout";
  const std::string err = scratch.Path() + "/stderr";
  const std::string command = "'" + ToolPath() + "' " + args + " >'" + out + "' 2>'" + err + "'";
  ToolRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  return run;
}

class ScriptTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(ToolPath())) GTEST_SKIP() << "KestorScriptTool not built";
  }
  KestorTest::TempDir scratch;
  KestorTest::TempDir dir;
};

}  // namespace

TEST_F(ScriptTool, TranslatesWithIncludesFromTheScriptsFolder) {
  dir.Write("common.inc", "float one() { return 1; }");
  const std::string script = dir.Write("main.ks", "# using common\nfloat2 two(float2 v) { return v * 2; }");
  const ToolRun run = RunTool(scratch, "'" + script + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "float one( ){\nreturn/*(yay)*/ 1;\n}\n"
            "float2 two( float2 v){\nreturn/*(yay)*/ v*2;\n}\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(ScriptTool, IncludeFolderAndTypeNamesFromTheArguments) {
  dir.Write("lib/shared.inc", "void touch() {}");
  const std::string script = dir.Write("main.ks", "# using shared\nhalf h() { return 0; }");
  const ToolRun run = RunTool(scratch, "-I '" + dir.Path() + "/lib' --types void,,half '" + script + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "void touch( ){\n}\nhalf h( ){\nreturn/*(yay)*/ 0;\n}\n");

  // With the defaults replaced, "float" no longer starts anything.
  const std::string plain = dir.Write("plain.ks", "float f() {}");
  EXPECT_EQ(RunTool(scratch, "-t half '" + plain + "'").status, 1);
}

TEST_F(ScriptTool, ScriptErrorsExitWithOneAndPrintNothingOnStandardOutput) {
  const std::string broken = dir.Write("broken.ks", "float ok() {} float bad() { nope; }");
  ToolRun run = RunTool(scratch, "'" + broken + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            broken + ": Expected Declaration, Expresion, or Loop, got nope ; } instead\n");

  dir.Write("loop.inc", "# using loop");
  run = RunTool(scratch, "'" + dir.Write("cycle.ks", "# using loop float f() {}") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("include cycle"), std::string::npos) << run.err;

  run = RunTool(scratch, "'" + dir.Write("escape.ks", "# using ../etc/passwd float f() {}") + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;

  // Missing includes are not errors, as in the engine.
  EXPECT_EQ(RunTool(scratch, "'" + dir.Write("gap.ks", "# using nowhere") + "'").status, 0);
}

// Problems met before parsing (a foreign character, a limit, a refused
// include) end the run with their own line alone: what is left of such a
// script would only add parse errors caused by the first.
TEST_F(ScriptTool, ProblemsBeforeParsingExitWithOneAndTheirOwnLineAlone) {
  using namespace KestorEngine::KestorScriptLimits;
  dir.Write("huge.inc", std::string(kMaxFileBytes + 1, ' '));
  struct Case {
    const char* name;
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"bang.ks", "float f(float done) {\n  if (!done) return 1;\n}",
       "Line 2: character '!' is not part of the script language"},
      {"big.ks", std::string(kMaxFileBytes + 1, ' '),
       "Script file is larger than " + std::to_string(kMaxFileBytes) + " bytes (not supported)"},
      {"many.ks", std::string(kMaxTokens + 1, ';'),
       "Script has more than " + std::to_string(kMaxTokens) + " tokens (not supported)"},
      {"cut.ks", "float f() # using huge",
       "Script include \"huge\" skipped: " + dir.Path() + "/huge.inc is larger than " +
           std::to_string(kMaxFileBytes) + " bytes"},
      {"nul.ks", std::string("# using \"a") + '\0' + "b\" float f() {}",
       "Script include \"a\\x00b\" refused: include names may not contain a NUL byte"},
  };
  for (const Case& c : cases) {
    const std::string script = dir.Write(c.name, c.text);
    const ToolRun run = RunTool(scratch, "'" + script + "'");
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out, "") << c.name;
    EXPECT_EQ(run.err, script + ": " + c.error + "\n") << c.name;
  }
}

TEST_F(ScriptTool, BadArgumentsExitWithTwo) {
  const std::string script = dir.Write("ok.ks", "float f() {}");
  for (const std::string& args :
       {std::string(""), "'" + dir.Path() + "/missing.ks'", "'" + dir.Path() + "'",
        "--frobnicate '" + script + "'", "'" + script + "' -I", "-t , '" + script + "'",
        "'" + script + "' '" + script + "'"}) {
    const ToolRun run = RunTool(scratch, args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.out, "") << args;
    EXPECT_NE(run.err, "") << args;
  }
  const ToolRun help = RunTool(scratch, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: KestorScriptTool"), std::string::npos);
}
