#pragma once
// A named GPU effect read from Shaders/<name>.shader: the uniforms it
// declares and its passes. Shader::Use makes a pass current with the draw's
// uniform buffers; the pass picks (or compiles) the program variant for the
// buffers' precompiled values. A shader watches its file and reloads itself
// when the file gets newer, so effects can be edited while the program runs.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "render/ShaderUniform.h"

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

namespace KestorEngine {

class ShaderPass;

// The pass used when a caller names none.
extern const std::string DefaultPass;

class Shader {
 public:
  // Files are checked for changes at most this often (milliseconds).
  static constexpr int64_t ChangeCheckIntervalMs = 700;

  // Loading constructor of Resources<Shader>.
  explicit Shader(std::string name);
  // An empty shader, to be filled by LoadFromSource.
  Shader();
  ~Shader();
  Shader(const Shader&) = delete;
  Shader& operator=(const Shader&) = delete;

  void Load(const std::string& name);
  // A shader made from XML text; it has no file and is never reloaded.
  void LoadFromSource(const std::string& text);
  void Reload();

  // Checks the file for changes, then makes the named pass current with the
  // buffers (in priority order: later buffers win). A pass the shader lacks
  // (reported once per name) or whose program failed to build falls back to
  // the error shader; with no error program either, no program is current.
  void Use(const std::string& passName, std::vector<UniformBuffer*>* buffers);
  void Use(std::vector<UniformBuffer*>* buffers);

  // Shaders/Error.shader, loaded once and kept for the whole run.
  static Shader* GetErrorShader();

  std::unordered_map<std::string, ShaderUniform> Uniforms;
  std::string Name;
  std::string Filename;
  std::string Source;
  std::unordered_map<std::string, ShaderPass*> Passes;
  // Nanoseconds, the file's modification time as last seen, and its size.
  int64_t LastModified = 0;
  int64_t LastSize = 0;
  // System-clock ticks (nanoseconds) of the last change check.
  int64_t LastCheck = 0;

  // The last Use fell back to the error shader (a pass the shader lacks, or
  // one whose program failed): the renderer then lets it show its look in
  // the emission pass too, where the deferred lighting cannot hide it.
  bool DrawnAsError = false;

  static Shader* ErrorShader;
  // Source options: "#define TAA" / "#define MotionBlur" go in front of every
  // include of "HLSL".
  static bool TemporalAntiAliasing;
  static bool MotionBlur;

 private:
  void CheckForChanges();
  void UseErrorShader(const std::string& passName, std::vector<UniformBuffer*>* buffers);
  void DestroyPasses();
  bool ParseDocument(tinyxml2::XMLDocument& document);
  void ReadUniforms(const tinyxml2::XMLElement* uniforms);
  void ReadPasses(const tinyxml2::XMLElement* passes);
  void Report(const std::string& problem) const;
  // The file's modification time in nanoseconds and its size; false when it
  // cannot be read.
  bool FileTime(int64_t& nanoseconds, int64_t& size) const;

  // Missing pass names already reported since the last reload.
  std::unordered_set<std::string> ReportedMissing;
};

}  // namespace KestorEngine
