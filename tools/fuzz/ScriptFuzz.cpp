// Feeds arbitrary bytes through the whole translator: tokenise, splice
// includes from a small fixed folder (with a self-include and a two-file
// cycle in it), parse, emit. Any crash, sanitizer report or stack overflow is
// a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>

#include "script/KestorConstruct.h"
#include "script/KestorScript.h"

namespace {

class DiscardBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
};

std::string& IncludeDir() {
  static std::string dir;
  return dir;
}

void RemoveIncludeDir() {
  std::error_code ec;
  std::filesystem::remove_all(IncludeDir(), ec);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "kestor-script-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  IncludeDir() = pattern + "/";
  std::atexit(RemoveIncludeDir);
  const std::string& dir = IncludeDir();
  WriteFile(dir + "common.inc", "float lerp1(float a, float b, float t) { return a + (b - a) * t; }");
  WriteFile(dir + "self.inc", "# using self float s() { return 1; }");
  WriteFile(dir + "a.inc", "# using b float fa() { return 2; }");
  WriteFile(dir + "b.inc", "# using a float fb() { return 3; }");
  WriteFile(dir + "twice.inc", "# using common # using common");
  std::filesystem::create_directory(dir + "sub");
  WriteFile(dir + "sub/inner.inc", "# using common");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DiscardBuffer discard;
  std::streambuf* previous = std::cout.rdbuf(&discard);

  KestorEngine::KestorScript script;
  script.types = {"float", "float2", "float3", "float4", "void", "sampler2D"};
  const std::string source(reinterpret_cast<const char*>(data), size);
  const auto tokens = script.PreprocessTokens(script.ParseSource(source), IncludeDir());
  const auto functions = script.ParseTokens(tokens);
  size_t emitted = 0;
  for (const auto& function : functions) emitted += function->Debug(0).size();

  std::cout.rdbuf(previous);
  return emitted == static_cast<size_t>(-1) ? -1 : 0;
}
