// The file dialogs run Zenity without a shell: hostile titles, paths and
// filters arrive as single arguments and never start a command; a missing
// program shows the message box; a cancelled dialog gives "".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gui/IMGUI.h"
#include "gui/Subprocess.h"
#include "support/TestFiles.h"

using namespace KestorEngine;

namespace {

// PATH for the duration of a test.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& path) : old(std::getenv("PATH") ? std::getenv("PATH") : "") {
    setenv("PATH", path.c_str(), 1);
  }
  ~ScopedPath() { setenv("PATH", old.c_str(), 1); }

 private:
  std::string old;
};

// A stand-in Zenity that records its arguments, one per line, and prints
// `answer` (or exits 1 without output when it is empty, as a cancel does).
std::string FakeZenity(const KestorTest::TempDir& dir, const std::string& answer) {
  std::string script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + dir.Path() + "/args.txt'\n";
  script += answer.empty() ? "exit 1\n" : "printf '%s\\n' '" + answer + "'\n";
  std::string path = dir.Write("bin/zenity", script);
  chmod(path.c_str(), 0755);
  return dir.Path() + "/bin";
}

std::vector<std::string> Lines(const std::string& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

TEST(FileDialog, ArgumentVectorKeepsEveryTextWhole) {
  const std::vector<std::string> args =
      IMGUI::FileDialogArguments(true, "Save \"it\"; rm -rf ~", "/tmp/a b/'q'$(id).xml", {"Levels | *.xml"});
  const std::vector<std::string> expected = {
      "zenity", "--file-selection", "--save", "--title=Save \"it\"; rm -rf ~", "--filename=/tmp/a b/'q'$(id).xml",
      "--file-filter=Levels | *.xml", "--file-filter=All files | *"};
  EXPECT_EQ(args, expected);
  EXPECT_EQ(IMGUI::FileDialogArguments(false, "T", "D", {})[2], "--title=T");
}

TEST(FileDialog, HostileTextReachesZenityAsDataAndRunsNothing) {
  KestorTest::TempDir dir;
  ScopedPath path(FakeZenity(dir, "/chosen/level one.xml"));
  const std::string marker = dir.Path() + "/pwned";
  const std::string title = "Open \"$(touch " + marker + ")\"; touch " + marker + "; `touch " + marker + "`";
  const std::string filter = "Levels' ; touch " + marker + " ; '";

  EXPECT_EQ(IMGUI::FileOpenDialog(title, "$(touch " + marker + ")", {filter}), "/chosen/level one.xml");

  EXPECT_FALSE(std::filesystem::exists(marker));
  const std::vector<std::string> received = Lines(dir.Path() + "/args.txt");
  std::vector<std::string> expected = IMGUI::FileDialogArguments(false, title, "$(touch " + marker + ")", {filter});
  expected.erase(expected.begin());  // the program's own name is not in "$@"
  EXPECT_EQ(received, expected);
}

TEST(FileDialog, CancelGivesEmptyText) {
  KestorTest::TempDir dir;
  ScopedPath path(FakeZenity(dir, ""));
  EXPECT_EQ(IMGUI::FileSaveDialog("Save", "/tmp/x", {}), "");
  EXPECT_EQ(Lines(dir.Path() + "/args.txt").at(1), "--save");
}

TEST(FileDialog, MissingZenityShowsTheMessageBox) {
  KestorTest::TempDir dir;
  std::filesystem::create_directories(dir.Path() + "/empty");
  ScopedPath path(dir.Path() + "/empty");
  std::string shownTitle, shownText;
  IMGUI::ShowErrorBox = [&](const std::string& title, const std::string& text) {
    shownTitle = title;
    shownText = text;
  };
  EXPECT_EQ(IMGUI::FileOpenDialog("Open", "", {}), "");
  EXPECT_EQ(shownTitle, "Missing Zenity");
  EXPECT_EQ(shownText,
            "Sorry, to show useful dialogs I need the Zenity program to be installed. Should be in your package "
            "manager :)");
}

TEST(FileDialog, ProgramLookupSkipsFoldersAndPlainFiles) {
  KestorTest::TempDir dir;
  std::filesystem::create_directories(dir.Path() + "/a/zenity");  // a folder of that name
  dir.Write("b/zenity", "not executable");
  std::string found = dir.Write("c/zenity", "#!/bin/sh\n");
  chmod(found.c_str(), 0755);
  const std::string search = dir.Path() + "/a:" + dir.Path() + "/b:" + dir.Path() + "/c";
  EXPECT_EQ(Subprocess::FindProgram("zenity", search), found);
  EXPECT_EQ(Subprocess::FindProgram("zenity", dir.Path() + "/a"), "");
}

TEST(CommandOutput, DropsLineBreaksButNoOtherBytes) {
  EXPECT_EQ(getCmdOutput("printf 'one\\ntwo\\n'"), "onetwo");
  // Longer than one 255-byte read: every byte survives.
  EXPECT_EQ(getCmdOutput("printf '%0300d' 0"), std::string(300, '0'));
}
