#pragma once
// The shading-script translator's front end: text to tokens, include
// splicing, and the loop that parses a token list into function nodes (the
// nodes themselves live in KestorConstruct.h).
//
// Calling order for one script:
//   tokens = script.ParseSource(text);
//   tokens = script.PreprocessTokens(tokens, includeDirectory);
//   functions = script.ParseTokens(tokens);
// Nothing here throws; problems are printed as one line each on standard
// output and also kept in `errors`, with control bytes written as \xNN.
// Check `errors` before parsing: a text with a character outside the
// language, or over a limit, gives no tokens, and a script whose includes
// were refused or cut is not the script as written, so parsing it would only
// add errors caused by the first.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace KestorEngine {

class KestorConstructFuncDecl;

// Limits that keep hostile scripts from exhausting the stack, the memory or
// the file system. Real shading scripts stay far below every one of them.
namespace KestorScriptLimits {
// Blocks, statements, brackets and call arguments nested inside each other.
// Parsing, emission and destruction all recurse once per level.
constexpr unsigned kMaxNesting = 128;
// Variables in scope at one time (arguments, declarations, loop variables).
// Every statement looks its first word up among them, so without a bound a
// long script of declarations and assignments takes quadratic time.
constexpr size_t kMaxVariables = 1024;
// Include files open inside each other at one time.
constexpr size_t kMaxIncludeDepth = 32;
// Include files opened while preprocessing one script, repeats counted, so a
// file that includes another twice, which includes another twice ... stops.
constexpr size_t kMaxIncludeFiles = 4096;
// Tokens of one script, its own and those its includes add.
constexpr size_t kMaxTokens = size_t(1) << 20;
// Size of one script or include file.
constexpr size_t kMaxFileBytes = size_t(4) << 20;
}  // namespace KestorScriptLimits

class KestorScript {
 public:
  // Type names that may start a declaration. The caller fills it; the engine's
  // own vocabulary is "float", "float2", "float3", "float4".
  std::vector<std::string> types;

  // Every problem line printed by this object, in order. A caller that needs
  // to tell success from failure checks it after the three steps.
  std::vector<std::string> errors;

  // Returns no tokens, and reports the first one with its line, when the text
  // holds a character outside the language (`!` alone, `~`, `%`, `&`, a
  // non-ASCII byte ...; any character may stand inside a "string"), and when
  // it makes more than kMaxTokens tokens.
  std::vector<std::string> ParseSource(const std::string& source);

  // `directory` is prefixed to each include name as it is (it carries its own
  // trailing separator). Names holding ".." or starting like an absolute path
  // are refused; include cycles are reported and cut.
  std::vector<std::string> PreprocessTokens(const std::vector<std::string>& tokens,
                                            const std::string& directory);

  // Stops at the first parse error, prints it and returns the functions
  // parsed before it.
  std::vector<std::unique_ptr<KestorConstructFuncDecl>> ParseTokens(
      const std::vector<std::string>& tokens);

  static bool inarray(const std::vector<char>& list, char c);
  // The operators the tokeniser makes, in the order it tries them.
  static const std::vector<std::string>& Operators();

  // Reads a whole file in binary mode. Fails (with a reason) when the path is
  // not a regular file, cannot be read or is larger than kMaxFileBytes (then
  // *tooLarge is set).
  static bool ReadScriptFile(const std::string& path, std::string& text, std::string& problem,
                             bool* tooLarge = nullptr);

  // Parser bookkeeping: every recursive node enters before it recurses and
  // leaves after; Enter refuses past kMaxNesting.
  bool EnterNested();
  void LeaveNested();

 private:
  void Report(const std::string& line);
  bool MayOpenInclude(const std::string& name, const std::string& path, const std::string& shown,
                      const std::vector<std::string>& chain, std::string& key);
  void Splice(const std::vector<std::string>& tokens, const std::string& directory, size_t after,
              std::vector<std::string>& chain, std::vector<std::string>& out);

  unsigned nesting = 0;
  size_t includesOpened = 0;
  bool includesStopped = false;
};

}  // namespace KestorEngine
