#pragma once
// Writes small levels into a scratch asset folder and loads them with the
// real loader, keeping the console lines for checks.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/File.h"
#include "engine/Scene.h"
#include "support/TestFiles.h"

namespace KestorTest {

class LevelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    shippedAssets = KestorEngine::File::AssetsPath;
    KestorEngine::File::AssetsPath = assets.Path() + KestorEngine::File::PathSeparator;
  }
  void TearDown() override { KestorEngine::File::AssetsPath = shippedAssets; }

  // Loads a level made of the given Thing elements; `output` gets the
  // console text of the load.
  std::unique_ptr<KestorEngine::Scene> Load(const std::string& things) {
    std::string name = "Level" + std::to_string(levels++);
    assets.Write("Levels/" + name + ".xml", "<Level>\n<Things>\n" + things + "\n</Things>\n</Level>\n");
    CaptureStdout capture;
    auto scene = std::make_unique<KestorEngine::Scene>(name);
    output = capture.Text();
    return scene;
  }

  // The loader's problem lines (those naming the level file).
  std::vector<std::string> Problems(const KestorEngine::Scene& scene) const {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(scene.Path() + ": ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  template <typename T>
  static T* Of(const KestorEngine::Scene& scene, const std::string& thing) {
    return KestorEngine::ComponentHandler<T>::Get(scene.Things.at(thing));
  }

  TempDir assets;
  std::string shippedAssets;
  std::string output;
  int levels = 0;
};

}  // namespace KestorTest
