// Translates one shading script to shader source on standard output.
//
//   KestorScriptTool [-I DIR] [-t TYPES] SCRIPT
//
// Exit status: 0 translated, 1 the script has an error (a parse error, a
// character outside the language, a limit, or an include that was refused,
// cyclic or too large), 2 bad arguments or an unreadable script file. Problems go to standard error as "SCRIPT: line";
// standard output carries only the translation, and nothing when it failed.
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "script/KestorConstruct.h"
#include "script/KestorScript.h"

using namespace KestorEngine;

namespace {

constexpr int kTranslated = 0;
constexpr int kScriptError = 1;
constexpr int kUsageError = 2;

const char* const kUsage =
    "usage: KestorScriptTool [-I DIR] [-t TYPES] SCRIPT\n"
    "  -I, --include DIR  folder holding the include files NAME.inc\n"
    "                     (default: the script's own folder)\n"
    "  -t, --types TYPES  comma-separated type names that start a declaration\n"
    "                     (default: float,float2,float3,float4)\n"
    "  -h, --help         this text\n";

// Swallows the library's own console lines while it runs: the tool reports
// them itself on standard error, so standard output stays pure translation.
class DiscardBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
};

std::vector<std::string> SplitTypes(const std::string& list) {
  std::vector<std::string> types;
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t comma = list.find(',', begin);
    if (comma == std::string::npos) comma = list.size();
    if (comma > begin) types.push_back(list.substr(begin, comma - begin));
    begin = comma + 1;
  }
  return types;
}

int Usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "KestorScriptTool: " << problem << "\n";
  std::cerr << kUsage;
  return kUsageError;
}

int Run(int argc, char** argv) {
  std::string scriptPath;
  std::string includeDir;
  bool includeGiven = false;
  std::vector<std::string> types = {"float", "float2", "float3", "float4"};

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return kTranslated;
    }
    if (arg == "-I" || arg == "--include" || arg == "-t" || arg == "--types") {
      if (i + 1 >= argc) return Usage(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "-I" || arg == "--include") {
        includeDir = value;
        includeGiven = true;
      } else {
        types = SplitTypes(value);
        if (types.empty()) return Usage("no type names in \"" + value + "\"");
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (scriptPath.empty()) {
      scriptPath = arg;
    } else {
      return Usage("only one script at a time");
    }
  }
  if (scriptPath.empty()) return Usage("no script given");

  if (!includeGiven) includeDir = std::filesystem::path(scriptPath).parent_path().string();
  // Include paths are the directory and the name glued together.
  if (!includeDir.empty() && includeDir.back() != '/') includeDir += '/';

  std::string source;
  std::string problem;
  bool tooLarge = false;
  if (!KestorScript::ReadScriptFile(scriptPath, source, problem, &tooLarge)) {
    if (tooLarge) {
      // A limit of the language, like the token and nesting limits.
      std::cerr << scriptPath << ": Script file is larger than "
                << KestorScriptLimits::kMaxFileBytes << " bytes (not supported)\n";
      return kScriptError;
    }
    std::cerr << "KestorScriptTool: " << problem << "\n";
    return kUsageError;
  }

  KestorScript script;
  script.types = types;
  std::vector<std::unique_ptr<KestorConstructFuncDecl>> functions;
  {
    DiscardBuffer discard;
    std::streambuf* previous = std::cout.rdbuf(&discard);
    const auto tokens = script.PreprocessTokens(script.ParseSource(source), includeDir);
    // What is left of a script after a problem here is not the script as
    // written: parsing it would add errors caused by the first.
    if (script.errors.empty()) functions = script.ParseTokens(tokens);
    std::cout.rdbuf(previous);
  }

  if (!script.errors.empty()) {
    for (const std::string& error : script.errors) std::cerr << scriptPath << ": " << error << "\n";
    return kScriptError;
  }
  for (const auto& function : functions) std::cout << function->Debug(0) << "\n";
  std::cout.flush();
  return std::cout ? kTranslated : kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "KestorScriptTool: " << e.what() << "\n";
    return kUsageError;
  }
}
