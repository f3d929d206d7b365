// Guards where the engine looks for its files: the executable's folder and
// the asset folder beside it.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/File.h"

using namespace KestorEngine;

TEST(File, GetDirectoryCutsAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(File::GetDirectory("/opt/kestor/bin/KestorEngine"), "/opt/kestor/bin");
  EXPECT_EQ(File::GetDirectory("C:\\Games\\Kestor\\KestorEngine.exe"), "C:\\Games\\Kestor");
  EXPECT_EQ(File::GetDirectory("a/b\\c"), "a/b");
  EXPECT_EQ(File::GetDirectory("a\\b/c"), "a\\b");
  EXPECT_EQ(File::GetDirectory("KestorEngine"), "KestorEngine");
  EXPECT_EQ(File::GetDirectory("/KestorEngine"), "");
}

TEST(File, AssetsLieBesideTheRunningProgram) {
  std::string executable = File::find_executable();
  ASSERT_FALSE(executable.empty());
  EXPECT_EQ(std::filesystem::path(executable).filename(), "EngineTests");
  EXPECT_EQ(File::ExecutablePath, File::GetDirectory(executable) + File::PathSeparator);
  EXPECT_EQ(File::AssetsPath, File::ExecutablePath + "CompiledAssets" + File::PathSeparator);
  EXPECT_TRUE(std::filesystem::is_regular_file(File::AssetsPath + "Levels/StreetTest.xml"));
}
