// Guards the script tokeniser's character rules, include splicing with its
// path, cycle and size guards, and the parse loop's stop-at-first-error rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/KestorConstruct.h"
#include "script/KestorScript.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using Tokens = std::vector<std::string>;

namespace {

Tokens Tokenise(const std::string& source) {
  KestorScript script;
  Tokens tokens = script.ParseSource(source);
  EXPECT_TRUE(script.errors.empty()) << "source: " << source;
  return tokens;
}

// Preprocesses `source` against dir, returning the tokens; the console lines
// and recorded errors land in *printed and *errors.
Tokens Preprocess(const std::string& source, const std::string& dir, std::string* printed = nullptr,
                  Tokens* errors = nullptr) {
  KestorScript script;
  KestorTest::CaptureStdout out;
  Tokens tokens = script.PreprocessTokens(script.ParseSource(source), dir + "/");
  if (printed != nullptr) *printed = out.Text();
  if (errors != nullptr) *errors = script.errors;
  return tokens;
}

}  // namespace

TEST(ScriptTokens, CharacterRules) {
  struct Case {
    const char* source;
    Tokens tokens;
  };
  const Case cases[] = {
      {"", {}},
      {" \t\r\n\v\f", {}},
      {"a<=b", {"a", "<=", "b"}},
      {"a< =b", {"a", "<", "=", "b"}},
      {"a+=b", {"a", "+=", "b"}},
      {"x!=y", {"x", "!=", "y"}},
      {"a=", {"a", "="}},
      {"a===b", {"a", "==", "=", "b"}},  // longest form first, then what is left
      {"a<==b", {"a", "<=", "=", "b"}},
      {"a=<b", {"a", "=", "<", "b"}},
      {"-1", {"-", "1"}},
      {"a//b", {"a", "/", "/", "b"}},
      {"col.rgb = 1.5;", {"col.rgb", "=", "1.5", ";"}},
      {"f(a,b)[0]{};", {"f", "(", "a", ",", "b", ")", "[", "0", "]", "{", "}", ";"}},
      {"a*=b/=c-=d^=e", {"a", "*=", "b", "/=", "c", "-=", "d", "^=", "e"}},
      {"a==b>=c^d#e", {"a", "==", "b", ">=", "c", "^", "d", "#", "e"}},
      {"a<b>c+d*e", {"a", "<", "b", ">", "c", "+", "d", "*", "e"}},
      {"x=\n=y", {"x", "=", "=", "y"}},
      {"_Snake_Case9", {"_Snake_Case9"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Tokenise(c.source), c.tokens) << "source: " << c.source;
}

TEST(ScriptTokens, StringLiterals) {
  struct Case {
    const char* source;
    Tokens tokens;
  };
  const Case cases[] = {
      {"\"two words\"", {"two words"}},
      {"\"\"", {""}},  // two adjacent quotes are one empty token
      {"a\"b c\"d", {"a", "b c", "d"}},
      {"\"a\"\"b\"", {"a", "b"}},
      {"\"( , ; # == \"", {"( , ; # == "}},  // separators and operators kept inside
      {"x \"unterminated (", {"x", "unterminated ("}},
      {"x \"", {"x"}},  // an opened literal with nothing in it adds nothing
      {"\"caf\xC3\xA9 ~!\"", {"caf\xC3\xA9 ~!"}},  // any character inside a literal
  };
  for (const Case& c : cases) EXPECT_EQ(Tokenise(c.source), c.tokens) << "source: " << c.source;
}

// Dropping such a character would change the meaning ("if (!done)" read as
// "if (done)"), so the first one refuses the whole text.
TEST(ScriptTokens, CharactersOutsideTheLanguageAreErrors) {
  struct Case {
    std::string source;
    std::string error;
  };
  const Case cases[] = {
      {"if (!done)", "Line 1: character '!' is not part of the script language"},
      {"a!", "Line 1: character '!' is not part of the script language"},
      {"a\n\r\n\"\n\"~x", "Line 4: character '~' is not part of the script language"},
      {"a % b", "Line 1: character '%' is not part of the script language"},
      {"caf\xC3\xA9", "Line 1: byte 0xC3 is not part of the script language"},
      {std::string("a\0b", 3), "Line 1: byte 0x00 is not part of the script language"},
  };
  for (const Case& c : cases) {
    KestorScript script;
    KestorTest::CaptureStdout out;
    EXPECT_TRUE(script.ParseSource(c.source).empty()) << c.source;
    EXPECT_EQ(script.errors, Tokens{c.error}) << c.source;
    EXPECT_EQ(out.Text(), c.error + "\n") << c.source;
  }
}

TEST(ScriptIncludes, SplicedInPlaceAndRecursively) {
  KestorTest::TempDir dir;
  dir.Write("common.inc", "float c ;");
  dir.Write("outer.inc", "p # using inner q");
  dir.Write("inner.inc", "r");
  dir.Write("sub/deeper.inc", "s");
  dir.Write("twice.inc", "# using inner # using inner");

  EXPECT_EQ(Preprocess("# using common", dir.Path()), (Tokens{"float", "c", ";"}));
  EXPECT_EQ(Preprocess("x # using outer y", dir.Path()), (Tokens{"x", "p", "r", "q", "y"}));
  // Only a quoted name can hold a "/": unquoted, the name stops at "sub".
  EXPECT_EQ(Preprocess("# using \"sub/deeper\"", dir.Path()), (Tokens{"s"}));
  EXPECT_EQ(Preprocess("# using sub/deeper", dir.Path()), (Tokens{"/", "deeper"}));
  // Including the same file twice is repetition, not a cycle.
  std::string printed;
  EXPECT_EQ(Preprocess("# using twice # using twice", dir.Path(), &printed),
            (Tokens{"r", "r", "r", "r"}));
  EXPECT_EQ(printed, "");
}

// An include is a closed unit: its text is tokenised on its own, and a
// directive left open at its end cannot reach into the file that includes it.
TEST(ScriptIncludes, IncludedTextStaysInsideItsFile) {
  KestorTest::TempDir dir;
  dir.Write("open.inc", "x \"two words");   // unterminated literal at the end
  dir.Write("hash.inc", "h #");
  dir.Write("using.inc", "u # using");
  dir.Write("common.inc", "c");

  EXPECT_EQ(Preprocess("# using open y", dir.Path()), (Tokens{"x", "two words", "y"}));
  EXPECT_EQ(Preprocess("# using hash using common", dir.Path()), (Tokens{"h", "using", "common"}));
  EXPECT_EQ(Preprocess("# using using common", dir.Path()), (Tokens{"u", "common"}));
}

TEST(ScriptIncludes, AnIncludeWithAForeignCharacterIsSkippedWithItsLine) {
  KestorTest::TempDir dir;
  dir.Write("bad.inc", "a\nb ~c");
  Tokens errors;
  EXPECT_EQ(Preprocess("x # using bad y", dir.Path(), nullptr, &errors), (Tokens{"x", "y"}));
  EXPECT_EQ(errors, Tokens{"Script include \"bad\" skipped: line 2: character '~' is not part of "
                           "the script language"});
}

TEST(ScriptIncludes, DirectivesWithoutAFileVanishQuietly) {
  KestorTest::TempDir dir;
  dir.Write("folder.inc/keep", "");  // a directory is no include file
  std::string printed;
  Tokens errors;
  EXPECT_EQ(Preprocess("a # using missing b", dir.Path(), &printed, &errors), (Tokens{"a", "b"}));
  EXPECT_EQ(Preprocess("a # using folder b", dir.Path()), (Tokens{"a", "b"}));
  EXPECT_EQ(printed, "");
  EXPECT_TRUE(errors.empty());

  // A "#" not followed by "using" goes alone; "# using" at the end goes whole.
  EXPECT_EQ(Preprocess("# a # # b", dir.Path()), (Tokens{"a", "b"}));
  EXPECT_EQ(Preprocess("a # using", dir.Path()), (Tokens{"a"}));
  EXPECT_EQ(Preprocess("a #", dir.Path()), (Tokens{"a"}));
  dir.Write("common.inc", "c");
  EXPECT_EQ(Preprocess("# # using common", dir.Path()), (Tokens{"c"}));
}

TEST(ScriptIncludes, NamesLeavingTheFolderAreRefused) {
  KestorTest::TempDir dir;
  dir.Write("secret.inc", "SECRET");
  dir.Write("inc/ok.inc", "ok");
  const std::string incDir = dir.Path() + "/inc";
  const std::string absolute = "\"" + dir.Path() + "/secret\"";

  for (const std::string& name : {std::string("\"../secret\""), std::string("\"sub/../../secret\""),
                                  absolute, std::string("\"\\\\server\\\\x\""),
                                  std::string("\"C:secret\"")}) {
    std::string printed;
    Tokens errors;
    EXPECT_EQ(Preprocess("a # using " + name + " b", incDir, &printed, &errors),
              (Tokens{"a", "b"}))
        << name;
    ASSERT_EQ(errors.size(), 1u) << name;
    EXPECT_NE(errors[0].find("refused"), std::string::npos) << errors[0];
    EXPECT_EQ(printed, errors[0] + "\n");
  }
  EXPECT_EQ(Preprocess("# using ok", incDir), (Tokens{"ok"}));

  // Unquoted, the name is ".." alone, refused as well; the rest stays text.
  EXPECT_EQ(Preprocess("# using ../secret", incDir), (Tokens{"/", "secret"}));

  // A NUL would cut the path short; the message shows it escaped.
  const std::string nul =
      "Script include \"ok\\x00x\" refused: include names may not contain a NUL byte";
  std::string printed;
  Tokens errors;
  EXPECT_EQ(Preprocess(std::string("# using \"ok") + '\0' + "x\"", incDir, &printed, &errors),
            Tokens{});
  EXPECT_EQ(errors, Tokens{nul});
  EXPECT_EQ(printed, nul + "\n");
}

TEST(ScriptIncludes, CyclesAreReportedAndCut) {
  KestorTest::TempDir dir;
  dir.Write("self.inc", "s1 # using self s2");
  dir.Write("a.inc", "a # using b");
  dir.Write("b.inc", "b # using a");

  Tokens errors;
  EXPECT_EQ(Preprocess("# using self", dir.Path(), nullptr, &errors), (Tokens{"s1", "s2"}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Script include \"self\" skipped: the include cycle"), std::string::npos)
      << errors[0];
  EXPECT_NE(errors[0].find("self.inc -> "), std::string::npos) << errors[0];

  EXPECT_EQ(Preprocess("x # using a y", dir.Path(), nullptr, &errors),
            (Tokens{"x", "a", "b", "y"}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("a.inc -> "), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find("b.inc -> "), std::string::npos) << errors[0];

  // The same file reached under another spelling is still the same file.
  dir.Write("dot.inc", "d # using \"./dot\"");
  EXPECT_EQ(Preprocess("# using dot", dir.Path(), nullptr, &errors), (Tokens{"d"}));
  EXPECT_EQ(errors.size(), 1u);
}

TEST(ScriptIncludes, GrowthIsBounded) {
  using namespace KestorScriptLimits;
  KestorTest::TempDir dir;
  Tokens errors;

  // A chain of distinct files longer than the depth limit.
  for (size_t i = 0; i < kMaxIncludeDepth + 5; ++i) {
    dir.Write("chain" + std::to_string(i) + ".inc", "# using chain" + std::to_string(i + 1));
  }
  EXPECT_TRUE(Preprocess("# using chain0", dir.Path(), nullptr, &errors).empty());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("nest deeper than"), std::string::npos) << errors[0];

  // Each level includes the next twice: 2^24 opens unless stopped.
  for (int i = 0; i < 24; ++i) {
    const std::string next = "# using twice" + std::to_string(i + 1) + " ";
    dir.Write("twice" + std::to_string(i) + ".inc", next + next);
  }
  dir.Write("twice24.inc", "leaf");
  const Tokens grown = Preprocess("# using twice0 end", dir.Path(), nullptr, &errors);
  ASSERT_EQ(errors.size(), 1u) << "one report, however many includes follow";
  EXPECT_NE(errors[0].find("more than " + std::to_string(kMaxIncludeFiles)), std::string::npos);
  EXPECT_EQ(grown.back(), "end");

  // Few files, many tokens: stopped by the token budget.
  dir.Write("wide.inc", std::string(kMaxTokens / 4, ';'));
  const Tokens wide =
      Preprocess("# using wide # using wide # using wide # using wide # using wide", dir.Path(),
                 nullptr, &errors);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("grows past"), std::string::npos) << errors[0];
  EXPECT_LE(wide.size(), kMaxTokens);
  // The script's own tokens after an include count as well.
  dir.Write("nearly.inc", std::string(kMaxTokens - 10, ';'));
  EXPECT_EQ(Preprocess("# using nearly " + std::string(20, ';'), dir.Path(), nullptr, &errors),
            Tokens(20, ";"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("grows past"), std::string::npos) << errors[0];

  dir.Write("huge.inc", std::string(kMaxFileBytes + 1, ' '));
  EXPECT_TRUE(Preprocess("# using huge", dir.Path(), nullptr, &errors).empty());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("larger than"), std::string::npos) << errors[0];
}

TEST(ScriptParseLoop, EmptyInputGivesNoFunctions) {
  KestorScript script;
  script.types = {"float"};
  KestorTest::CaptureStdout out;
  EXPECT_TRUE(script.ParseTokens({}).empty());
  EXPECT_EQ(out.Text(), "");
  EXPECT_TRUE(script.errors.empty());
}

TEST(ScriptParseLoop, StopsAtTheFirstBrokenFunction) {
  KestorScript script;
  script.types = {"float"};
  KestorTest::CaptureStdout out;
  const auto functions = script.ParseTokens(script.ParseSource(
      "float one() { return 1; } float two() { nonsense here now; } float three() { return 3; }"));
  ASSERT_EQ(functions.size(), 1u);
  EXPECT_EQ(functions[0]->name, "one");
  EXPECT_EQ(out.Text(), "Expected Declaration, Expresion, or Loop, got nonsense here now instead\n");
  EXPECT_EQ(script.errors, (Tokens{"Expected Declaration, Expresion, or Loop, got nonsense here now instead"}));
}

TEST(ScriptFiles, ReadingRefusesWhatIsNotAScriptFile) {
  KestorTest::TempDir dir;
  std::string text;
  std::string problem;
  EXPECT_TRUE(KestorScript::ReadScriptFile(dir.Write("a.ks", std::string("a\0b", 3)), text, problem));
  EXPECT_EQ(text, std::string("a\0b", 3));
  EXPECT_FALSE(KestorScript::ReadScriptFile(dir.Path() + "/missing.ks", text, problem));
  EXPECT_NE(problem.find("missing.ks"), std::string::npos);
  EXPECT_FALSE(KestorScript::ReadScriptFile(dir.Path(), text, problem));
}
