#pragma once
// A scratch asset folder for the render tests: File::AssetsPath points at it
// while the object lives, and files of the shipped assets can be copied in.
#include <fstream>
#include <sstream>
#include <string>

#include "engine/File.h"
#include "support/TestFiles.h"

namespace KestorTest {

class RenderAssets {
 public:
  RenderAssets() : shipped(KestorEngine::File::AssetsPath) {
    KestorEngine::File::AssetsPath = dir.Path() + KestorEngine::File::PathSeparator;
  }
  ~RenderAssets() { KestorEngine::File::AssetsPath = shipped; }
  RenderAssets(const RenderAssets&) = delete;
  RenderAssets& operator=(const RenderAssets&) = delete;

  // `relative` uses "/" (e.g. "Shaders/Flat.shader"); returns the full path.
  std::string Write(const std::string& relative, const std::string& text) const {
    return dir.Write(relative, text);
  }
  std::string WriteShader(const std::string& name, const std::string& text) const {
    return Write("Shaders/" + name + ".shader", text);
  }
  // Copies a file of the shipped CompiledAssets folder into this one.
  std::string CopyShipped(const std::string& relative) const {
    std::ifstream in(shipped + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return Write(relative, text.str());
  }
  const std::string& Shipped() const { return shipped; }
  std::string Path(const std::string& relative) const { return dir.Path() + "/" + relative; }

 private:
  TempDir dir;
  std::string shipped;
};

// A shader file with one uniform section and the given passes.
inline std::string ShaderFile(const std::string& name, const std::string& uniforms,
                              const std::string& passes) {
  return "<Shader Name=\"" + name + "\"><Uniforms>" + uniforms + "</Uniforms><Passes>" + passes +
         "</Passes></Shader>";
}

// A vertex and fragment pass; the texts are used as written (escape "<").
inline std::string GraphicsPass(const std::string& name, const std::string& vertex,
                                const std::string& fragment) {
  return "<Pass Name=\"" + name + "\"><V>" + vertex + "</V><F>" + fragment + "</F></Pass>";
}

// Positions pass straight through to clip space.
inline const char* const kPassThroughVertex =
    "#version 430 core\nin vec3 position;\nvoid main() { gl_Position = vec4(position, 1.0); }\n";

}  // namespace KestorTest
