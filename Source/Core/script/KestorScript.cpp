#include "script/KestorScript.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "script/KestorConstruct.h"

namespace KestorEngine {

namespace {

const std::vector<char>& IdentifierChars() {
  static const std::vector<char> chars = [] {
    const std::string text = "aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ_";
    return std::vector<char>(text.begin(), text.end());
  }();
  return chars;
}

const std::vector<char>& Digits() {
  static const std::vector<char> chars = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
  return chars;
}

const std::vector<char>& Separators() {
  static const std::vector<char> chars = {'(', ')', ',', '[', ']', '{', '}', ';'};
  return chars;
}

// Whitespace only separates tokens. Every other character outside the
// classes above is an error: silently dropping it would change the meaning
// ("if (!done)" would read as "if (done)").
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The include directory is the caller's; the names come from the script,
// which may be hostile, so they must stay inside that directory.
bool IsSafeIncludeName(const std::string& name) {
  if (name.find("..") != std::string::npos) return false;
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return false;
  if (name.size() >= 2 && name[1] == ':') return false;  // a drive letter
  return true;
}

std::string Hex(unsigned char byte) {
  const char* digits = "0123456789ABCDEF";
  return {digits[byte >> 4], digits[byte & 15]};
}

// Control bytes written as \xNN: messages echo script text (names, tokens),
// and a raw NUL or escape sequence must not reach the console.
std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x" + Hex(byte);
    } else {
      out += c;
    }
  }
  return out;
}

enum class Tokenised { kDone, kForeignCharacter, kTooManyTokens };

// Splits `source` into `tokens`, stopping at the first character the
// language has no use for (`foreign` then says which, on line `line`) or when
// more than `limit` tokens would be made.
Tokenised Tokenise(const std::string& source, size_t limit, std::vector<std::string>& tokens,
                   std::string& foreign, size_t& line) {
  std::string current;
  bool inString = false;
  line = 1;
  auto pushCurrent = [&] {
    if (!current.empty()) tokens.push_back(current);
    current.clear();
  };

  for (size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    if (tokens.size() > limit) return Tokenised::kTooManyTokens;
    if (c == '\n') ++line;
    if (c == '"' || inString) {
      if (!inString) {
        pushCurrent();
        inString = true;
      } else if (c == '"') {
        // Kept even when empty: "" is a real (empty) token.
        tokens.push_back(current);
        current.clear();
        inString = false;
      } else {
        current += c;
      }
    } else if (KestorScript::inarray(Separators(), c)) {
      pushCurrent();
      tokens.emplace_back(1, c);
    } else if (KestorScript::inarray(IdentifierChars(), c) || KestorScript::inarray(Digits(), c) ||
               c == '.') {
      current += c;
    } else if (IsBlank(c)) {
      pushCurrent();
    } else {
      const std::string* matched = nullptr;
      for (const std::string& op : KestorScript::Operators()) {
        if (op.size() <= source.size() - i && source.compare(i, op.size(), op) == 0) {
          matched = &op;
          break;
        }
      }
      if (matched == nullptr) {
        const auto byte = static_cast<unsigned char>(c);
        foreign = byte > 0x20 && byte < 0x7F ? std::string("character '") + c + "'"
                                             : "byte 0x" + Hex(byte);
        return Tokenised::kForeignCharacter;
      }
      pushCurrent();
      tokens.push_back(*matched);
      i += matched->size() - 1;
    }
  }
  // An unterminated string literal ends up here as the last token.
  pushCurrent();
  return tokens.size() > limit ? Tokenised::kTooManyTokens : Tokenised::kDone;
}

std::string ForeignText(const std::string& foreign) {
  return foreign + " is not part of the script language";
}

}  // namespace

// ---------------------------------------------------------------------------
// Tokenising
// ---------------------------------------------------------------------------

bool KestorScript::inarray(const std::vector<char>& list, char c) {
  return std::find(list.begin(), list.end(), c) != list.end();
}

// Tried in order, first match wins, so each two-character form stands before
// its one-character prefix.
const std::vector<std::string>& KestorScript::Operators() {
  static const std::vector<std::string> ops = {"==", ">=", "<=", "!=", "+=", "-=", "*=", "/=", "^=",
                                               "=",  "<",  ">",  "+",  "-",  "/",  "*",  "^",  "#"};
  return ops;
}

std::vector<std::string> KestorScript::ParseSource(const std::string& source) {
  using KestorScriptLimits::kMaxTokens;
  std::vector<std::string> tokens;
  try {
    std::string foreign;
    size_t line = 0;
    switch (Tokenise(source, kMaxTokens, tokens, foreign, line)) {
      case Tokenised::kDone:
        return tokens;
      case Tokenised::kForeignCharacter:
        Report("Line " + std::to_string(line) + ": " + ForeignText(foreign));
        break;
      case Tokenised::kTooManyTokens:
        Report("Script has more than " + std::to_string(kMaxTokens) + " tokens (not supported)");
        break;
    }
  } catch (const std::exception& e) {
    Report(std::string("Script could not be tokenised: ") + e.what());
  }
  // Part of a script is not the script: translating it would mean something
  // else, or fail on the missing part with a misleading second error.
  return {};
}

// ---------------------------------------------------------------------------
// Includes
// ---------------------------------------------------------------------------

std::vector<std::string> KestorScript::PreprocessTokens(const std::vector<std::string>& tokens,
                                                        const std::string& directory) {
  std::vector<std::string> out;
  includesOpened = 0;
  includesStopped = false;
  try {
    out.reserve(tokens.size());
    std::vector<std::string> chain;
    Splice(tokens, directory, 0, chain, out);
  } catch (const std::exception& e) {
    Report(std::string("Script includes could not be read: ") + e.what());
  }
  return out;
}

// Whether the include `name` at `path` is to be read: a name that is safe,
// a regular file, no cycle, within the nesting and file limits; else says
// why not (a missing file silently). `key` names the file in `chain`.
bool KestorScript::MayOpenInclude(const std::string& name, const std::string& path, const std::string& shown,
                                  const std::vector<std::string>& chain, std::string& key) {
  namespace fs = std::filesystem;
  using namespace KestorScriptLimits;
  if (name.find('\0') != std::string::npos) {
    // The file system would read the name only up to the NUL.
    Report(shown + " refused: include names may not contain a NUL byte");
    return false;
  }
  if (!IsSafeIncludeName(name)) {
    Report(shown + " refused: include names may not contain \"..\" or be absolute paths");
    return false;
  }
  std::error_code ec;
  // A missing include contributes nothing, silently. Only regular files are
  // opened: a FIFO or device in the directory would block or never end.
  if (!fs::is_regular_file(path, ec)) return false;

  key = fs::canonical(path, ec).string();
  if (ec) key = path;
  if (std::find(chain.begin(), chain.end(), key) != chain.end()) {
    std::string cycle;
    for (const std::string& link : chain) cycle += link + " -> ";
    Report(shown + " skipped: the include cycle " + cycle + key + " never ends");
    return false;
  }
  if (chain.size() >= kMaxIncludeDepth) {
    Report(shown + " skipped: includes nest deeper than " + std::to_string(kMaxIncludeDepth) +
           " files");
    return false;
  }
  if (++includesOpened > kMaxIncludeFiles) {
    includesStopped = true;
    Report(shown + " skipped, and every include after it: more than " +
           std::to_string(kMaxIncludeFiles) + " include files in one script");
    return false;
  }
  return true;
}

// Copies `tokens` to `out`, replacing each "# using name" with the tokens of
// directory + name + ".inc", themselves spliced. Any other "#" is dropped.
// `chain` holds the include files being spliced, outermost first, so a file
// that reaches itself again is caught instead of recursing forever. `after`
// is how many tokens at most still follow `tokens` in the enclosing lists, so
// the token budget holds for the finished script, not just its first part.
void KestorScript::Splice(const std::vector<std::string>& tokens, const std::string& directory,
                          size_t after, std::vector<std::string>& chain,
                          std::vector<std::string>& out) {
  namespace fs = std::filesystem;
  using namespace KestorScriptLimits;

  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i] != "#") {
      out.push_back(tokens[i]);
      continue;
    }
    if (i + 1 >= tokens.size() || tokens[i + 1] != "using") continue;
    if (i + 2 >= tokens.size()) {
      ++i;  // "# using" at the very end: nothing to include
      continue;
    }
    const std::string& name = tokens[i + 2];
    i += 2;
    if (includesStopped) continue;

    const std::string shown = "Script include \"" + name + "\"";
    const std::string path = directory + name + ".inc";
    std::string key;
    if (!MayOpenInclude(name, path, shown, chain, key)) continue;

    std::string text;
    std::string problem;
    if (!ReadScriptFile(path, text, problem)) {
      Report(shown + " skipped: " + problem);
      continue;
    }
    const size_t following = after + (tokens.size() - i - 1);
    const size_t used = out.size() + following;
    std::vector<std::string> included;
    std::string foreign;
    size_t line = 0;
    const Tokenised result =
        Tokenise(text, used < kMaxTokens ? kMaxTokens - used : 0, included, foreign, line);
    if (result == Tokenised::kTooManyTokens) {
      includesStopped = true;
      Report(shown + " skipped, and every include after it: the script grows past " +
             std::to_string(kMaxTokens) + " tokens");
      continue;
    }
    if (result == Tokenised::kForeignCharacter) {
      Report(shown + " skipped: line " + std::to_string(line) + ": " + ForeignText(foreign));
      continue;
    }
    chain.push_back(key);
    Splice(included, directory, following, chain, out);
    chain.pop_back();
  }
}

bool KestorScript::ReadScriptFile(const std::string& path, std::string& text,
                                  std::string& problem, bool* tooLarge) {
  using KestorScriptLimits::kMaxFileBytes;
  text.clear();
  if (tooLarge != nullptr) *tooLarge = false;
  try {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
      problem = path + " is not a file that can be read";
      return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      problem = path + " cannot be opened";
      return false;
    }
    // Read in pieces rather than trusting the size on disk: the file may
    // grow while it is read.
    char piece[1 << 16];
    while (in.read(piece, sizeof(piece)) || in.gcount() > 0) {
      text.append(piece, static_cast<size_t>(in.gcount()));
      if (text.size() > kMaxFileBytes) {
        text.clear();
        problem = path + " is larger than " + std::to_string(kMaxFileBytes) + " bytes";
        if (tooLarge != nullptr) *tooLarge = true;
        return false;
      }
    }
    if (in.bad()) {
      text.clear();
      problem = path + " could not be read to the end";
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    text.clear();
    problem = path + " could not be read: " + e.what();
    return false;
  }
}

// ---------------------------------------------------------------------------
// Parsing loop
// ---------------------------------------------------------------------------

std::vector<std::unique_ptr<KestorConstructFuncDecl>> KestorScript::ParseTokens(
    const std::vector<std::string>& tokens) {
  std::vector<std::unique_ptr<KestorConstructFuncDecl>> functions;
  nesting = 0;
  try {
    if (tokens.size() >= UINT_MAX) {
      Report("Script has too many tokens to parse (" + std::to_string(tokens.size()) + ")");
      return functions;
    }
    unsigned index = 0;
    while (index < tokens.size()) {
      auto function = std::make_unique<KestorConstructFuncDecl>();
      std::vector<KestorVar> vars;
      const unsigned before = index;
      const std::string error = function->Parse(*this, tokens, &index, vars);
      if (!error.empty()) {
        Report(error);
        break;
      }
      functions.push_back(std::move(function));
      if (index == before) break;  // a parse that consumes nothing would loop forever
    }
  } catch (const std::exception& e) {
    Report(std::string("Script parse stopped: ") + e.what());
  }
  nesting = 0;
  return functions;
}

bool KestorScript::EnterNested() {
  if (nesting >= KestorScriptLimits::kMaxNesting) return false;
  ++nesting;
  return true;
}

void KestorScript::LeaveNested() {
  if (nesting > 0) --nesting;
}

void KestorScript::Report(const std::string& line) {
  try {
    const std::string printable = Printable(line);
    std::cout << printable << std::endl;
    errors.push_back(printable);
  } catch (...) {
    // Out of memory while reporting: the caller's result already says enough.
  }
}

}  // namespace KestorEngine
