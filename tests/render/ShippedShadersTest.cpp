// Guards the shader files we ship: every pass of every file under
// CompiledAssets/Shaders must build on a real GL 4.3 context. A typo in a
// rarely drawn pass would otherwise show only as the error look in the demo.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/File.h"
#include "engine/Resource.h"
#include "render/Shader.h"
#include "render/ShaderPass.h"
#include "render/ShaderVariant.h"
#include "support/GLTestContext.h"
#include "support/TestFiles.h"

namespace {

using namespace KestorEngine;
namespace fs = std::filesystem;

// Shader names as the engine asks for them: the path below Shaders/ without
// the extension ("PostFX/MotionBlur").
std::vector<std::string> ShippedShaderNames() {
  const fs::path root = fs::path(File::AssetsPath) / "Shaders";
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".shader") continue;
    names.push_back(fs::relative(entry.path(), root).replace_extension().generic_string());
  }
  return names;
}

class ShippedShaders : public KestorTest::GLTest {};

TEST_F(ShippedShaders, EveryPassOfEveryFileCompilesAndLinks) {
  const std::vector<std::string> names = ShippedShaderNames();
  ASSERT_GE(names.size(), 10u) << "the shader folder was not found beside the tests";
  for (const std::string& name : names) {
    KestorTest::CaptureStdout console;
    Resource<Shader> shader = Resources<Shader>::Get(name);
    ASSERT_TRUE(shader) << name;
    EXPECT_FALSE(shader->Passes.empty()) << name << " has no passes";
    for (const auto& [passName, pass] : shader->Passes) {
      std::vector<UniformBuffer*> none;
      shader->Use(passName, &none);
    }
    const std::string text = console.Text();
    EXPECT_EQ(text.find("Error compiling"), std::string::npos) << name << ":\n" << text;
    EXPECT_EQ(text.find("Error linking"), std::string::npos) << name << ":\n" << text;
    EXPECT_EQ(text.find("\" not found at "), std::string::npos) << name << ":\n" << text;
  }
}

}  // namespace
