// Guards what the script parser accepts, the exact source it emits, every
// error text it can give, variable scoping between blocks and the nesting
// guard against hostile depth.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/KestorConstruct.h"
#include "script/KestorScript.h"
#include "support/TestFiles.h"

using namespace KestorEngine;
using Tokens = std::vector<std::string>;

namespace {

const Tokens kEngineTypes = {"float", "float2", "float3", "float4"};

struct Translation {
  std::string code;     // every parsed function's emission, one per line
  std::string printed;  // what the translator printed
  size_t functions = 0;
};

Translation Translate(const std::string& source, const Tokens& types = kEngineTypes) {
  KestorScript script;
  script.types = types;
  KestorTest::CaptureStdout out;
  const auto functions = script.ParseTokens(script.ParseSource(source));
  Translation result;
  for (const auto& function : functions) result.code += function->Debug(0) + "\n";
  result.printed = out.Text();
  result.functions = functions.size();
  return result;
}

// The emission of `body` as the body of "float f()".
std::string Body(const std::string& body) {
  const Translation t = Translate("float f(float a, float b, float c) {" + body + "}");
  EXPECT_EQ(t.printed, "") << body;
  const std::string head = "float f( float a, float b, float c){\n";
  if (t.code.compare(0, head.size(), head) != 0) return "unparsed: " + t.code;
  return t.code.substr(head.size(), t.code.size() - head.size() - 2);  // drop "}\n"
}

// The one error line printed for `source`.
std::string ErrorOf(const std::string& source) {
  const Translation t = Translate(source);
  if (t.printed.empty() || t.printed.back() != '\n') return "no error line: " + t.printed;
  return t.printed.substr(0, t.printed.size() - 1);
}

// Runs one node's Parse directly, for the checks that the statement
// dispatcher never lets a node see.
template <typename Node>
std::string ParseAlone(const std::string& source, std::vector<KestorVar> vars = {}) {
  KestorScript script;
  script.types = kEngineTypes;
  const Tokens tokens = script.ParseSource(source);
  unsigned index = 0;
  Node node;
  return node.Parse(script, tokens, &index, vars);
}

}  // namespace

TEST(ScriptEmission, Functions) {
  EXPECT_EQ(Translate("float f() { return 1; }").code, "float f( ){\nreturn/*(yay)*/ 1;\n}\n");
  EXPECT_EQ(Translate("float4 g(float2 uv, float t) return t;").code,
            "float4 g( float2 uv, float t){\nreturn/*(yay)*/ t;\n}\n");
  EXPECT_EQ(Translate("float f() {}").code, "float f( ){\n}\n");
  EXPECT_EQ(Translate("void main() {}", {"void"}).code, "void main( ){\n}\n");
}

TEST(ScriptEmission, Statements) {
  struct Case {
    const char* body;
    const char* code;
  };
  const Case cases[] = {
      {"return a - b + c;", "return/*(yay)*/ a-b+c;\n"},
      {"return a / b * c;", "return/*(yay)*/ a/b*c;\n"},
      {"float k(Strength) = 2;", "float k(Strength) = 2;\n"},
      {"float k(\"Light Strength\") = 2;", "float k(Light Strength) = 2;\n"},
      {"float k(Light Strength);", "float k(LightStrength);\n"},  // tokens glued
      {"float k();", "float k;\n"},
      {"float3 v;", "float3 v;\n"},
      {"a = b * 2;", "a = b*2;\n"},
      {"return a + b * c - (a - b) / c;", "return/*(yay)*/ a+b*c-(a-b)/c;\n"},
      {"return a < b == b >= c != a > c;", "return/*(yay)*/ a<b==b>=c!=a>c;\n"},
      {"return a <= b;", "return/*(yay)*/ a<=b;\n"},
      {"return max(a, min(b, 1.5), f());", "return/*(yay)*/ max( a, min( b, 1.5), f( ));\n"},
      {"return ((a));", "return/*(yay)*/ ((a));\n"},
      {"if (a > b) a = b;", "if (a>b){\na = b;\n};\n"},
      {"if (a) { a = 1; b = 2; } else b = 3;", "if (a){\na = 1;\nb = 2;\n}\nelse{\nb = 3;\n};\n"},
      {"if (a) if (b) c = 1; else c = 2;", "if (a){\nif (b){\nc = 1;\n}\nelse{\nc = 2;\n};\n};\n"},
      {"if (a) {};", "if (a){\n};\n"},  // the ";" after a block is optional
      {"forrange(i in (0, 1, 8)) { a = a + i; }",
       "for(float tempiblerg = 0; tempiblerg<8;tempiblerg+=1){float i = tempiblerg;\na = a+i;\n};\n"},
      {"forpixel(p in tex) a = a + p;", "forpixel(p in tex){\na = a+p;\n};\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Body(c.body), c.code) << c.body;
}

TEST(ScriptEmission, RealisticScript) {
  const std::string source = R"(
    float luminance(float3 col) {
      return dot(col, float3(0.2126, 0.7152, 0.0722));
    }

    float4 tonemap(float4 col, float exposure) {
      float k("Exposure Scale") = exposure * 2;
      float4 result = col * k;
      if (luminance(result.rgb) > 1) {
        result = result / (1 + luminance(result.rgb));
      } else {
        result.a = 1;
      }
      return result;
    }

    float4 blur(float4 col, float radius) {
      float4 sum = col;
      forrange(i in (0, 1, 4)) {
        forrange(j in (0, 1, 4)) {
          sum = sum + sample(i, j) * radius;
        }
      }
      forpixel(p in source) {
        if (p.r != 0) sum = sum - p;
      }
      return sum / 16;
    }
  )";
  const std::string expected =
      "float luminance( float3 col){\n"
      "return/*(yay)*/ dot( col, float3( 0.2126, 0.7152, 0.0722));\n"
      "}\n"
      "float4 tonemap( float4 col, float exposure){\n"
      "float k(Exposure Scale) = exposure*2;\n"
      "float4 result = col*k;\n"
      "if (luminance( result.rgb)>1){\n"
      "result = result/(1+luminance( result.rgb));\n"
      "}\n"
      "else{\n"
      "result.a = 1;\n"
      "};\n"
      "return/*(yay)*/ result;\n"
      "}\n"
      "float4 blur( float4 col, float radius){\n"
      "float4 sum = col;\n"
      "for(float tempiblerg = 0; tempiblerg<4;tempiblerg+=1){float i = tempiblerg;\n"
      "for(float tempiblerg = 0; tempiblerg<4;tempiblerg+=1){float j = tempiblerg;\n"
      "sum = sum+sample( i, j)*radius;\n"
      "};\n"
      "};\n"
      "forpixel(p in source){\n"
      "if (p.r!=0){\n"
      "sum = sum-p;\n"
      "};\n"
      "};\n"
      "return/*(yay)*/ sum/16;\n"
      "}\n";
  const Translation t = Translate(source);
  EXPECT_EQ(t.printed, "");
  EXPECT_EQ(t.functions, 3u);
  EXPECT_EQ(t.code, expected);
}

TEST(ScriptErrors, EveryTextTheGrammarCanReach) {
  struct Case {
    std::string source;
    std::string error;
  };
  const std::string f = "float f(float a) { ";
  const Case cases[] = {
      {"x f() {}", "Expected Return Type, got x instead"},
      {"float ( ) {}", "Expected Function Name, got ( instead"},
      {"float f {", "Expected Open Bracket for argument list, got { instead"},
      {"float f(x a) {}", "Expected Argument Type, got x instead"},
      {"float f(float) {}", "Expected Argument Name, got ) instead"},
      {"float f(float a b) {}", "Invalid Function Declaration, got b instead"},
      {"float f(float a,", "Expected Argument Type, got end of script instead"},
      {"float", "Expected Function Name, got end of script instead"},
      {f + "foo bar baz qux }", "Expected Declaration, Expresion, or Loop, got foo bar baz instead"},
      {f + "foo", "Expected Declaration, Expresion, or Loop, got foo end of script instead"},
      {f + "; }", "Expected Declaration, Expresion, or Loop, got ; } end of script instead"},
      {f + "{ a = 1; } }", "Expected Declaration, Expresion, or Loop, got { a = instead"},
      {f + "return 1;", "Expected } to close the block, got end of script instead"},
      {"float f()", "Expected Declaration, Expresion, or Loop, got end of script instead"},
      {f + "float = 1; }", "Variable Declartion; Expected Variable Name, got = instead"},
      {f + "float k x; }", "Expected end of line, got x instead"},
      {f + "float k(a) 2; }", "Expected end of line, got 2 instead"},
      {f + "float k(a b", "Either something went wrong or the display name for variable 'k' is "
                          "over 500 characters (not supported)."},
      {f + "a = 1 }", "Expected end of line, got } instead"},
      {f + "a *= 2; }", "Expected end of line, got *= instead"},
      {f + "a = b = c; }", "Expected end of line, got = instead"},  // the value is no Expr
      {f + "return -1; }",  // no signed literals
       "Factor; Expected Function Call, Variable Name or Constant, got - instead"},
      {f + "return 1 }", "Expected end of line, got } instead"},
      {f + "return ; }", "Factor; Expected Function Call, Variable Name or Constant, got ; instead"},
      {f + "return", "Factor; Expected Function Call, Variable Name or Constant, got end of script "
                     "instead"},
      {f + "return (1; }", "Factor; Expected ) to close the bracket, got ; instead"},
      {f + "return g(1; }", "Invalid Function Call, got ; instead"},
      {f + "return g(1,); }",
       "Factor; Expected Function Call, Variable Name or Constant, got ) instead"},
      {f + "if a) {} }", "Expected if setup to start with (, got a instead"},
      {f + "if (a {} }", "Expected if setup to end with ), got { instead"},
      {f + "forpixel p in t) {} }", "Expected forpixel setup to start with (, got p instead"},
      {f + "forpixel(( in t) {} }", "Forpixel Setup; Expected Variable Name, got ( instead"},
      {f + "forpixel(p on t) {} }", "Expected forpixel setup to middle with in, got on instead"},
      {f + "forpixel(p in ;) {} }",
       "Forpixel Setup; Expected Texture Variable Name, got ; instead"},
      {f + "forpixel(p in t {} }", "Expected forpixel setup to end with ), got { instead"},
      {f + "forrange i", "Expected forrange setup to start with (, got i instead"},
      {f + "forrange(,", "Forpixel Setup; Expected Variable Name, got , instead"},
      {f + "forrange(i of", "Expected forrange setup to middle with in, got of instead"},
      {f + "forrange(i in 0", "Expected forrange range setup to start with a (, got 0 instead"},
      {f + "forrange(i in (,", "Forpixel Setup; Expected start, got , instead"},
      {f + "forrange(i in (0;",
       "Expected forrange range setup first variable to end with a ',', got ; instead"},
      {f + "forrange(i in (0,)",
       "Forpixel Setup; Expected second variable, step, got ) instead"},
      {f + "forrange(i in (0,1 8",
       "Expected forrange range setup second variable to end with a ',', got 8 instead"},
      {f + "forrange(i in (0,1,", "Forpixel Setup; Expected third variable, end, got end of script "
                                  "instead"},
      {f + "forrange(i in (0,1,8,",
       "Expected forrange range setup to end with a ), got , instead"},
      {f + "forrange(i in (0,1,8) {", "Expected forrange setup to end with ), got { instead"},
  };
  for (const Case& c : cases) {
    const Translation t = Translate(c.source);
    EXPECT_EQ(t.printed, c.error + "\n") << c.source;
    EXPECT_EQ(t.functions, 0u) << c.source;
  }
}

// The tokeniser makes more operators than the grammar uses, and keywords are
// words too: none of them may stand where a name, literal or bound belongs.
TEST(ScriptErrors, OperatorsAndKeywordsAreNoOperands) {
  struct Case {
    const char* body;
    const char* error;
  };
  const std::string factor = "Factor; Expected Function Call, Variable Name or Constant, got ";
  const Case cases[] = {
      {"return ==;", "=="},
      {"return a + ^;", "^"},
      {"a = !=;", "!="},
      {"return g(>=, a);", ">="},
      {"return (+=);", "+="},
      {"return #;", "#"},
      {"return return;", "return"},
      {"a = if;", "if"},
      {"return b * else;", "else"},
      {"return in;", "in"},
      {"return forrange;", "forrange"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf(std::string("float f(float a, float b) { ") + c.body + " }"),
              factor + c.error + " instead")
        << c.body;
  }
  const std::string f = "float f(float a) { ";
  EXPECT_EQ(ErrorOf(f + "float return; }"),
            "Variable Declartion; Expected Variable Name, got return instead");
  EXPECT_EQ(ErrorOf("float if() {}"), "Expected Function Name, got if instead");
  EXPECT_EQ(ErrorOf("float f(float else) {}"), "Expected Argument Name, got else instead");
  EXPECT_EQ(ErrorOf(f + "forpixel(p in ^=) {} }"),
            "Forpixel Setup; Expected Texture Variable Name, got ^= instead");
  EXPECT_EQ(ErrorOf(f + "forrange(in in (0, 1, 2)) {} }"),
            "Forpixel Setup; Expected Variable Name, got in instead");
}

// A zero step would be emitted as a loop that never ends.
TEST(ScriptErrors, ForrangeRefusesALiteralStepOfZero) {
  for (const char* step : {"0", "00", "0.0", ".0", "0.", "0e5", "0.0f", "0u", "0x0"}) {
    EXPECT_EQ(ErrorOf(std::string("float f() { forrange(i in (1, ") + step + ", 8)) {} }"),
              std::string("Forrange Setup; Expected a step other than 0, got ") + step + " instead")
        << step;
  }
  for (const char* step : {"0.5", "0x0f", "1e5", "a"}) {
    EXPECT_EQ(Translate(std::string("float f(float a) { forrange(i in (1, ") + step + ", 8)) {} }")
                  .printed,
              "")
        << step;
  }
}

TEST(ScriptErrors, TextsOnlyANodeCalledDirectlyCanGive) {
  EXPECT_EQ(ParseAlone<KestorConstructVarDecl>("x k;"),
            "Variable Declartion; Expected Variable Type, got x instead");
  EXPECT_EQ(ParseAlone<KestorConstructReturn>("give 1"),
            "Expected return for return statement, got give instead");
  EXPECT_EQ(ParseAlone<KestorConstructIf>("when (a)"),
            "Expected if loop to start with if, got when instead");
  EXPECT_EQ(ParseAlone<KestorConstructForPixel>("for"),
            "Expected forpixel loop to start with forpixel, got for instead");
  EXPECT_EQ(ParseAlone<KestorConstructForRange>(""),
            "Expected forrange loop to start with forrange, got end of script instead");
  EXPECT_EQ(ParseAlone<KestorConstructFuncCall>("( )"), "Expected Function Name, got ( instead");
  EXPECT_EQ(ParseAlone<KestorConstructFuncCall>("g 1"),
            "Expected Open Bracket for argument list, got 1 instead");
  EXPECT_EQ(ParseAlone<KestorConstructIdentifier>("x"),
            "Identifier; Expected Variable Name, got x instead");
}

TEST(ScriptErrors, DisplayNamesStopAt500Tokens) {
  std::string words;
  for (int i = 0; i < 500; ++i) words += "w ";
  const std::string longest = "float f() { float k(" + words + ") = 1; }";
  EXPECT_EQ(Translate(longest).printed, "");
  EXPECT_EQ(ErrorOf("float f() { float k(" + words + "w) = 1; }"),
            "Either something went wrong or the display name for variable 'k' is over 500 "
            "characters (not supported).");
}

TEST(ScriptIdentifiers, NamesCallsAndMembers) {
  struct Case {
    const char* source;
    const char* code;
  };
  const Case cases[] = {
      {"col", "col"},
      {"col.rgb", "col.rgb"},       // glued by the tokeniser
      {"col . rgb", "col.rgb"},     // spelled apart
      {"g(col).x", "g( col).x"},    // member of a call's result
      {"g()", "g( )"},
      {"col + 1", "col"},           // stops before what is not its own
  };
  for (const Case& c : cases) {
    KestorScript script;
    std::vector<KestorVar> vars = {KestorVar{"float4", "col"}};
    const Tokens tokens = script.ParseSource(c.source);
    unsigned index = 0;
    KestorConstructIdentifier node;
    EXPECT_EQ(node.Parse(script, tokens, &index, vars), "") << c.source;
    EXPECT_EQ(node.Debug(0), c.code) << c.source;
  }
}

// Every Statement is a scope: what a block declares dies at its "}", loop
// variables die with their loop, and each function sees only its arguments.
TEST(ScriptScopes, DeclarationsLiveUntilTheirStatementEnds) {
  struct Case {
    const char* source;
    const char* error;  // "" when the script must parse
  };
  const Case cases[] = {
      {"float f() { float x = 1; if (x) { x = 2; } x = 3; }", ""},
      {"float f() { if (1) { float x = 1; x = 2; } x = 3; }",
       "Expected Declaration, Expresion, or Loop, got x = 3 instead"},
      {"float f() { x = 1; float x; }", "Expected Declaration, Expresion, or Loop, got x = 1 instead"},
      {"float f() { if (1) float y = 2; y = 3; }",
       "Expected Declaration, Expresion, or Loop, got y = 3 instead"},
      {"float f() { if (1) {} else { float e; } e = 1; }",
       "Expected Declaration, Expresion, or Loop, got e = 1 instead"},
      {"float f() { forrange(i in (0, 1, 8)) i = i + 1; i = 0; }",
       "Expected Declaration, Expresion, or Loop, got i = 0 instead"},
      {"float f() { forpixel(p in t) { p = p * 2; } p = 0; }",
       "Expected Declaration, Expresion, or Loop, got p = 0 instead"},
      {"float f(float a) { a = 1; } float g() { a = 2; }",
       "Expected Declaration, Expresion, or Loop, got a = 2 instead"},
      // An inner declaration may reuse an outer name; the outer one survives.
      {"float f() { float x; if (1) { float2 x; x = 1; } x = 2; }", ""},
      // A swizzle names its variable.
      {"float f() { float4 c; c.rgb = 1; c.a = 0; }", ""},
      {"float f() { float4 c; d.rgb = 1; }",
       "Expected Declaration, Expresion, or Loop, got d.rgb = 1 instead"},
  };
  for (const Case& c : cases) {
    const Translation t = Translate(c.source);
    if (*c.error == '\0') {
      EXPECT_EQ(t.printed, "") << c.source;
      EXPECT_EQ(t.functions, 1u) << c.source;
    } else {
      EXPECT_EQ(t.printed, std::string(c.error) + "\n") << c.source;
    }
  }
}

TEST(ScriptScopes, ScopeIsRestoredWhateverTheOutcome) {
  KestorScript script;
  script.types = kEngineTypes;
  std::vector<KestorVar> vars = {KestorVar{"float", "outer"}};
  auto parse = [&](const char* source, bool wholeStatement) {
    const Tokens tokens = script.ParseSource(source);
    unsigned index = 0;
    KestorConstructStatement statement;
    KestorTest::CaptureStdout quiet;
    return wholeStatement ? statement.Parse(script, tokens, &index, vars)
                          : statement.ParseStatement(script, tokens, &index, &vars);
  };
  EXPECT_EQ(parse("{ float a; float b; outer = a; }", true), "");
  EXPECT_NE(parse("{ float a; broken ( }", true), "");
  EXPECT_EQ(parse("forrange(i in (0,1,2)) { float c; }", false), "");
  EXPECT_NE(parse("forpixel(p in t) { float c; broken }", false), "");
  EXPECT_NE(parse("float k = (1;", false), "");
  ASSERT_EQ(vars.size(), 1u);
  EXPECT_EQ(vars[0].name, "outer");

  // A declaration statement on its own adds to the caller's list.
  EXPECT_EQ(parse("float2 d;", false), "");
  ASSERT_EQ(vars.size(), 2u);
  EXPECT_EQ(vars[1].type, "float2");
  EXPECT_EQ(vars[1].name, "d");
}

TEST(ScriptNesting, HostileDepthEndsInAnError) {
  using KestorScriptLimits::kMaxNesting;
  const std::string tooDeep =
      "Script nests blocks, statements and brackets more than " + std::to_string(kMaxNesting) +
      " deep (not supported), at ";
  const int n = 100000;

  const std::string parens = "float f() { return " + std::string(n, '(') + "1" +
                             std::string(n, ')') + "; }";
  EXPECT_EQ(ErrorOf(parens), tooDeep + "(");

  std::string calls = "float f() { return ";
  for (int i = 0; i < n; ++i) calls += "g(";
  EXPECT_EQ(ErrorOf(calls + "1"), tooDeep + "g");

  std::string ifs = "float f(float a) ";
  for (int i = 0; i < n; ++i) ifs += "if (a) ";
  EXPECT_EQ(ErrorOf(ifs + "a = 1;"), tooDeep + "a");  // the condition is one level deeper

  std::string loops = "float f(float a) { ";
  for (int i = 0; i < n / 10; ++i) loops += "forrange(i in (0,1,2)) { ";  // within the token limit
  EXPECT_EQ(ErrorOf(loops), tooDeep + "{");

  // Just inside the limit parses, emits and is freed normally.
  const int depth = kMaxNesting - 4;
  const Translation ok = Translate("float f() { return " + std::string(depth, '(') + "1" +
                                   std::string(depth, ')') + "; }");
  EXPECT_EQ(ok.printed, "");
  EXPECT_EQ(ok.functions, 1u);

  // The count restarts for every parse.
  KestorScript script;
  script.types = kEngineTypes;
  KestorTest::CaptureStdout out;
  script.ParseTokens(script.ParseSource(parens));
  EXPECT_EQ(script.ParseTokens(script.ParseSource("float f() { return ((1)); }")).size(), 1u);
}

// Each statement looks its first word up among the variables in scope, so
// their number is bounded to keep long hostile scripts from taking minutes.
TEST(ScriptNesting, VariablesInScopeAreBounded) {
  using KestorScriptLimits::kMaxVariables;
  const std::string tooMany = "Script has more than " + std::to_string(kMaxVariables) +
                              " variables in scope (not supported), at ";
  std::string declarations;
  std::string arguments = "float a0";
  for (size_t i = 0; i < kMaxVariables; ++i) {
    declarations += "float v" + std::to_string(i) + "; ";
    if (i > 0) arguments += ", float a" + std::to_string(i);
  }
  const Translation full = Translate("float f() { " + declarations + "v0 = 1; }");
  EXPECT_EQ(full.printed, "");
  EXPECT_EQ(full.functions, 1u);
  EXPECT_EQ(ErrorOf("float f() { " + declarations + "float last; }"), tooMany + "last");
  // Block scopes end, so their variables no longer count.
  EXPECT_EQ(Translate("float f() { if (1) { " + declarations + "} float after; }").printed, "");

  EXPECT_EQ(Translate("float f(" + arguments + ") { }").printed, "");
  EXPECT_EQ(ErrorOf("float f(" + arguments + ", float extra) { }"), tooMany + "extra");
}

TEST(ScriptNodes, ComponentWiseVariablesAndTheInnermostName) {
  struct Case {
    const char* type;
    int touched;
  };
  for (const Case& c : {Case{"float", 1}, Case{"float2", 2}, Case{"float3", 3},
                        Case{"float4", 4}, Case{"int", 0}, Case{"", 0}}) {
    KestorVar v{c.type, "v", {1, 2, 3, 4}};
    v.RunComponentWise([](float x) { return x * 10; });
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(v.components[i], i < c.touched ? (i + 1) * 10.0f : i + 1.0f)
          << c.type << " component " << i;
    }
  }

  std::vector<KestorVar> scope = {{"float", "x"}, {"float2", "y"}, {"float3", "x"}};
  ASSERT_NE(KestorConstruct::variable(scope, "x"), nullptr);
  EXPECT_EQ(KestorConstruct::variable(scope, "x")->type, "float3") << "innermost wins";
  EXPECT_EQ(KestorConstruct::variable(scope, "z"), nullptr);
}

// A caller may print a node whose Parse failed; the parts it never reached
// print as nothing instead of crashing.
TEST(ScriptNodes, FailedNodesStillPrint) {
  KestorScript script;
  script.types = kEngineTypes;
  std::vector<KestorVar> vars = {KestorVar{"float", "a"}};
  auto parse = [&](KestorConstruct& node, const char* source) {
    const Tokens tokens = script.ParseSource(source);
    unsigned index = 0;
    return node.Parse(script, tokens, &index, vars);
  };

  KestorConstructIf branch;
  EXPECT_NE(parse(branch, "if (a"), "");
  EXPECT_EQ(branch.Debug(0), "if (a){\n}");
  KestorConstructForPixel pixels;
  EXPECT_NE(parse(pixels, "forpixel(p in"), "");
  EXPECT_EQ(pixels.Debug(0), "forpixel(p in ){\n}");
  KestorConstructForRange range;
  EXPECT_NE(parse(range, "forrange(i in (0, 1"), "");
  EXPECT_EQ(range.Debug(0).substr(0, 24), "for(float tempiblerg = 0");
  KestorConstructFuncDecl function;
  EXPECT_NE(parse(function, "float f(float x, float"), "");
  EXPECT_EQ(function.Debug(0), "float f( float x){\n}");
}
