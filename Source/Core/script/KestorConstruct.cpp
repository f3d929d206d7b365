// Recursive-descent parsing and source emission for every script node.
//
// Sections:
//   1. Helpers: token access past the end, nesting guard
//   2. Base node and KestorVar
//   3. Expressions: Factor, Term, AddSub, Comparison, Equality, Expr,
//      FuncCall, Identifier
//   4. Statements: Statement, VarDecl, Return, If, ForPixel, ForRange
//   5. Function declaration
//
// Every Parse stops at the first problem and returns its text; a parent
// returns a child's text unchanged. No Parse reads a token without checking
// that it exists: running off the end reads as the token "end of script".
#include "script/KestorConstruct.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "script/KestorScript.h"

namespace KestorEngine {

// ---------------------------------------------------------------------------
// 1. Helpers
// ---------------------------------------------------------------------------

namespace {

using Tokens = std::vector<std::string>;

const std::string& EndOfScript() {
  static const std::string text = "end of script";
  return text;
}

bool Has(const Tokens& tokens, unsigned index) { return index < tokens.size(); }

const std::string& At(const Tokens& tokens, unsigned index) {
  return Has(tokens, index) ? tokens[index] : EndOfScript();
}

// Words that start or shape a statement; as an operand they would be
// emitted into the shader as they are.
const Tokens& Keywords() {
  static const Tokens words = {"return", "if", "else", "forrange", "forpixel", "in"};
  return words;
}

// A token that may serve as a name, literal or bound: not a reserved symbol,
// nor one of the other operators the tokeniser makes ("==", "^" ...), nor a
// keyword.
bool IsWord(const Tokens& tokens, unsigned index) {
  if (!Has(tokens, index)) return false;
  const std::string& token = tokens[index];
  return !KestorConstruct::inarray(KestorConstruct::ReservedSymbols(), token) &&
         !KestorConstruct::inarray(KestorScript::Operators(), token) &&
         !KestorConstruct::inarray(Keywords(), token);
}

// A literal zero in any spelling GLSL reads ("0", "0.0", ".0", "0e5", "0.0f",
// "0u", "0x0"). A step that is a variable is the script's own business.
bool IsZeroLiteral(const std::string& token) {
  if (token.empty() || !(std::isdigit(static_cast<unsigned char>(token[0])) || token[0] == '.')) {
    return false;
  }
  const bool hex = token.size() > 1 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
  // Hexadecimal literals are integers: an "f" there is a digit, not a suffix.
  const Tokens suffixes = hex ? Tokens{"u", "U"} : Tokens{"lf", "LF", "f", "F", "u", "U"};
  std::string number = token;
  for (const std::string& suffix : suffixes) {
    if (number.size() > suffix.size() &&
        number.compare(number.size() - suffix.size(), suffix.size(), suffix) == 0) {
      number.resize(number.size() - suffix.size());
      break;
    }
  }
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  return end == number.c_str() + number.size() && value == 0.0;
}

bool IsType(const KestorScript& script, const Tokens& tokens, unsigned index) {
  return Has(tokens, index) && KestorConstruct::inarray(script.types, tokens[index]);
}

std::string Got(const char* message, const std::string& token) {
  return message + token + " instead";
}

// Consumes `expected` or returns `message` with the token found instead.
std::string Expect(const Tokens& tokens, unsigned* index, const char* expected,
                   const char* message) {
  if (!Has(tokens, *index) || tokens[*index] != expected) return Got(message, At(tokens, *index));
  ++*index;
  return "";
}

// Swizzles arrive glued to their variable ("col.rgb"), so a token names a
// variable when it, or its part before the first ".", was declared.
KestorVar* NamedVariable(std::vector<KestorVar>& vars, const std::string& token) {
  if (KestorVar* found = KestorConstruct::variable(vars, token)) return found;
  const size_t dot = token.find('.');
  if (dot == std::string::npos || dot == 0) return nullptr;
  return KestorConstruct::variable(vars, token.substr(0, dot));
}

// Held by every node that recurses, so hostile input such as thousands of
// "(" ends with an error instead of a stack overflow.
class NestingGuard {
 public:
  explicit NestingGuard(KestorScript& owner) : script(owner), entered(owner.EnterNested()) {}
  ~NestingGuard() {
    if (entered) script.LeaveNested();
  }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  bool Entered() const { return entered; }

 private:
  KestorScript& script;
  bool entered;
};

std::string NestingError(const Tokens& tokens, unsigned index) {
  return "Script nests blocks, statements and brackets more than " +
         std::to_string(KestorScriptLimits::kMaxNesting) + " deep (not supported), at " +
         At(tokens, index);
}

std::string TooManyVariablesError(const std::string& name) {
  return "Script has more than " + std::to_string(KestorScriptLimits::kMaxVariables) +
         " variables in scope (not supported), at " + name;
}

// Declarations and loop variables live until the statement that made them
// ends; this drops them again on every way out.
class ScopeMark {
 public:
  explicit ScopeMark(std::vector<KestorVar>& scope) : vars(scope), size(scope.size()) {}
  ~ScopeMark() {
    if (vars.size() > size) vars.erase(vars.begin() + static_cast<std::ptrdiff_t>(size), vars.end());
  }
  ScopeMark(const ScopeMark&) = delete;
  ScopeMark& operator=(const ScopeMark&) = delete;

 private:
  std::vector<KestorVar>& vars;
  size_t size;
};

// A node whose Parse failed may lack its body; printing it must still work.
std::string DebugOf(const KestorConstructStatement* statement, unsigned depth) {
  return statement != nullptr ? statement->Debug(depth) : "";
}

}  // namespace

// ---------------------------------------------------------------------------
// 2. Base node and KestorVar
// ---------------------------------------------------------------------------

void KestorVar::RunComponentWise(std::function<float(float)> f) {
  int count = 0;
  if (type == "float") count = 1;
  else if (type == "float2") count = 2;
  else if (type == "float3") count = 3;
  else if (type == "float4") count = 4;
  for (int i = 0; i < count; ++i) components[i] = f(components[i]);
}

std::string KestorConstruct::Parse(KestorScript&, const Tokens&, unsigned*, std::vector<KestorVar>&) {
  return "";
}

std::string KestorConstruct::Debug(unsigned) const { return "hmmm/...\n"; }

const std::vector<std::string>& KestorConstruct::ReservedSymbols() {
  static const std::vector<std::string> symbols = {"{", "}", "(", ")", "[", "]", ",", ";", "=",
                                                   "<", ">", "+", "-", "*", "/", "*=", "/="};
  return symbols;
}

bool KestorConstruct::inarray(const std::vector<std::string>& list, const std::string& token) {
  return std::find(list.begin(), list.end(), token) != list.end();
}

KestorVar* KestorConstruct::variable(std::vector<KestorVar>& vars, const std::string& name) {
  for (auto it = vars.rbegin(); it != vars.rend(); ++it) {
    if (it->name == name) return &*it;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// 3. Expressions
// ---------------------------------------------------------------------------

KestorConstructFactor::~KestorConstructFactor() = default;

std::string KestorConstructFactor::Parse(KestorScript& script, const Tokens& tokens,
                                         unsigned* index, std::vector<KestorVar>& vars) {
  const std::string& token = At(tokens, *index);
  if (!Has(tokens, *index) || (token != "(" && !IsWord(tokens, *index))) {
    return Got("Factor; Expected Function Call, Variable Name or Constant, got ", token);
  }
  if (token == "(") {
    ++*index;
    expr = std::make_unique<KestorConstructExpr>();
    const std::string error = expr->Parse(script, tokens, index, vars);
    if (!error.empty()) return error;
    return Expect(tokens, index, ")", "Factor; Expected ) to close the bracket, got ");
  }
  if (At(tokens, *index + 1) == "(" && Has(tokens, *index + 1)) {
    call = std::make_unique<KestorConstructFuncCall>();
    return call->Parse(script, tokens, index, vars);
  }
  literal = token;
  ++*index;
  return "";
}

std::string KestorConstructFactor::Debug(unsigned depth) const {
  if (expr) return "(" + expr->Debug(depth + 1) + ")";
  if (call) return call->Debug(depth + 1);
  return literal;
}

// Term, AddSub, Comparison and Equality share one shape: an operand, then
// any number of (operator, operand) pairs, kept as flat lists.
std::string KestorConstructTerm::Parse(KestorScript& script, const Tokens& tokens, unsigned* index,
                                       std::vector<KestorVar>& vars) {
  while (true) {
    operands.push_back(std::make_unique<KestorConstructFactor>());
    const std::string error = operands.back()->Parse(script, tokens, index, vars);
    if (!error.empty()) return error;
    const std::string& next = At(tokens, *index);
    if (next != "*" && next != "/") return "";
    divide.push_back(next == "/");
    ++*index;
  }
}

std::string KestorConstructTerm::Debug(unsigned depth) const {
  std::string text;
  for (size_t i = 0; i < operands.size(); ++i) {
    if (i > 0) text += divide[i - 1] ? "/" : "*";
    text += operands[i]->Debug(depth + 1);
  }
  return text;
}

std::string KestorConstructAddSub::Parse(KestorScript& script, const Tokens& tokens,
                                         unsigned* index, std::vector<KestorVar>& vars) {
  while (true) {
    operands.push_back(std::make_unique<KestorConstructTerm>());
    const std::string error = operands.back()->Parse(script, tokens, index, vars);
    if (!error.empty()) return error;
    const std::string& next = At(tokens, *index);
    if (next != "+" && next != "-") return "";
    subtract.push_back(next == "-");
    ++*index;
  }
}

std::string KestorConstructAddSub::Debug(unsigned depth) const {
  std::string text;
  for (size_t i = 0; i < operands.size(); ++i) {
    if (i > 0) text += subtract[i - 1] ? "-" : "+";
    text += operands[i]->Debug(depth + 1);
  }
  return text;
}

std::string KestorConstructComparison::Parse(KestorScript& script, const Tokens& tokens,
                                             unsigned* index, std::vector<KestorVar>& vars) {
  while (true) {
    operands.push_back(std::make_unique<KestorConstructAddSub>());
    const std::string error = operands.back()->Parse(script, tokens, index, vars);
    if (!error.empty()) return error;
    const std::string& next = At(tokens, *index);
    if (next != "<" && next != ">" && next != "<=" && next != ">=") return "";
    operators.push_back(next);
    ++*index;
  }
}

std::string KestorConstructComparison::Debug(unsigned depth) const {
  std::string text;
  for (size_t i = 0; i < operands.size(); ++i) {
    if (i > 0) text += operators[i - 1];
    text += operands[i]->Debug(depth + 1);
  }
  return text;
}

std::string KestorConstructEquality::Parse(KestorScript& script, const Tokens& tokens,
                                           unsigned* index, std::vector<KestorVar>& vars) {
  while (true) {
    operands.push_back(std::make_unique<KestorConstructComparison>());
    const std::string error = operands.back()->Parse(script, tokens, index, vars);
    if (!error.empty()) return error;
    const std::string& next = At(tokens, *index);
    if (next != "==" && next != "!=") return "";
    equal.push_back(next == "==");
    ++*index;
  }
}

std::string KestorConstructEquality::Debug(unsigned depth) const {
  std::string text;
  for (size_t i = 0; i < operands.size(); ++i) {
    if (i > 0) text += equal[i - 1] ? "==" : "!=";
    text += operands[i]->Debug(depth + 1);
  }
  return text;
}

std::string KestorConstructExpr::Parse(KestorScript& script, const Tokens& tokens, unsigned* index,
                                       std::vector<KestorVar>& vars) {
  NestingGuard guard(script);
  if (!guard.Entered()) return NestingError(tokens, *index);
  // A symbol or keyword before "=" (as in "( = 1") is no name; the Factor
  // below reports it.
  if (At(tokens, *index + 1) == "=" && Has(tokens, *index + 1) && IsWord(tokens, *index)) {
    assignment = true;
    name = tokens[*index];
    *index += 2;
  }
  return value.Parse(script, tokens, index, vars);
}

std::string KestorConstructExpr::Debug(unsigned depth) const {
  if (assignment) return name + " = " + value.Debug(depth + 1);
  return value.Debug(depth + 1);
}

std::string KestorConstructFuncCall::Parse(KestorScript& script, const Tokens& tokens,
                                           unsigned* index, std::vector<KestorVar>& vars) {
  if (!IsWord(tokens, *index)) return Got("Expected Function Name, got ", At(tokens, *index));
  name = tokens[*index];
  ++*index;
  std::string error = Expect(tokens, index, "(", "Expected Open Bracket for argument list, got ");
  if (!error.empty()) return error;
  if (At(tokens, *index) == ")" && Has(tokens, *index)) {
    ++*index;
    return "";
  }
  while (true) {
    arguments.push_back(std::make_unique<KestorConstructExpr>());
    error = arguments.back()->Parse(script, tokens, index, vars);
    if (!error.empty()) return error;
    const std::string& next = At(tokens, *index);
    if (Has(tokens, *index) && (next == "," || next == ")")) {
      ++*index;
      if (next == ")") return "";
      continue;
    }
    return Got("Invalid Function Call, got ", next);
  }
}

std::string KestorConstructFuncCall::Debug(unsigned depth) const {
  std::string text = name + "( ";
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) text += ", ";
    text += arguments[i]->Debug(depth + 1);
  }
  return text + ")";
}

std::string KestorConstructIdentifier::Parse(KestorScript& script, const Tokens& tokens,
                                             unsigned* index, std::vector<KestorVar>& vars) {
  const std::string& token = At(tokens, *index);
  if (IsWord(tokens, *index) && At(tokens, *index + 1) == "(" && Has(tokens, *index + 1)) {
    call = std::make_unique<KestorConstructFuncCall>();
    const std::string error = call->Parse(script, tokens, index, vars);
    if (!error.empty()) return error;
  } else if (Has(tokens, *index) && variable(vars, token) != nullptr) {
    name = token;
    ++*index;
  } else if (Has(tokens, *index) && NamedVariable(vars, token) != nullptr) {
    const size_t dot = token.find('.');
    name = token.substr(0, dot);
    member = token.substr(dot + 1);
    ++*index;
    return "";
  } else {
    return Got("Identifier; Expected Variable Name, got ", token);
  }

  const std::string& next = At(tokens, *index);
  if (next == "." && Has(tokens, *index) && IsWord(tokens, *index + 1)) {
    member = tokens[*index + 1];
    *index += 2;
  } else if (Has(tokens, *index) && next.size() > 1 && next[0] == '.') {
    member = next.substr(1);
    ++*index;
  }
  return "";
}

std::string KestorConstructIdentifier::Debug(unsigned depth) const {
  std::string text = call ? call->Debug(depth + 1) : name;
  if (!member.empty()) text += "." + member;
  return text;
}

// ---------------------------------------------------------------------------
// 4. Statements
// ---------------------------------------------------------------------------

std::string KestorConstructStatement::Parse(KestorScript& script, const Tokens& tokens,
                                            unsigned* index, std::vector<KestorVar>& vars) {
  NestingGuard guard(script);
  if (!guard.Entered()) return NestingError(tokens, *index);
  ScopeMark scope(vars);
  if (!(At(tokens, *index) == "{" && Has(tokens, *index))) {
    return ParseStatement(script, tokens, index, &vars);
  }
  ++*index;
  while (true) {
    if (!Has(tokens, *index)) return Got("Expected } to close the block, got ", EndOfScript());
    if (tokens[*index] == "}") {
      ++*index;
      return "";
    }
    const std::string error = ParseStatement(script, tokens, index, &vars);
    if (!error.empty()) return error;
  }
}

std::string KestorConstructStatement::ParseStatement(KestorScript& script, const Tokens& tokens,
                                                     unsigned* index,
                                                     std::vector<KestorVar>* vars) {
  const std::string& first = At(tokens, *index);
  std::unique_ptr<KestorConstruct> node;
  KestorConstructVarDecl* declaration = nullptr;
  // Loops and ifs end in their own body's "}" or ";", so a ";" after them is
  // taken when present but not required.
  bool needsSemicolon = true;
  if (!Has(tokens, *index)) {
    return Got("Expected Declaration, Expresion, or Loop, got ", EndOfScript());
  } else if (first == "return") {
    node = std::make_unique<KestorConstructReturn>();
  } else if (first == "forpixel") {
    node = std::make_unique<KestorConstructForPixel>();
    needsSemicolon = false;
  } else if (first == "forrange") {
    node = std::make_unique<KestorConstructForRange>();
    needsSemicolon = false;
  } else if (first == "if") {
    node = std::make_unique<KestorConstructIf>();
    needsSemicolon = false;
  } else if (IsType(script, tokens, *index)) {
    auto made = std::make_unique<KestorConstructVarDecl>();
    declaration = made.get();
    node = std::move(made);
  } else if (NamedVariable(*vars, first) != nullptr) {
    node = std::make_unique<KestorConstructExpr>();
  } else {
    std::string seen = first;
    for (unsigned ahead = 1; ahead <= 2; ++ahead) {
      seen += " " + At(tokens, *index + ahead);
      if (!Has(tokens, *index + ahead)) break;
    }
    return Got("Expected Declaration, Expresion, or Loop, got ", seen);
  }

  const std::string error = node->Parse(script, tokens, index, *vars);
  if (!error.empty()) return error;
  if (declaration != nullptr) {
    if (vars->size() >= KestorScriptLimits::kMaxVariables) {
      return TooManyVariablesError(declaration->name);
    }
    vars->push_back(KestorVar{declaration->type, declaration->name});
  }
  if (At(tokens, *index) == ";" && Has(tokens, *index)) {
    ++*index;
  } else if (needsSemicolon) {
    return Got("Expected end of line, got ", At(tokens, *index));
  }
  children.push_back(std::move(node));
  return "";
}

std::string KestorConstructStatement::Debug(unsigned depth) const {
  std::string text;
  for (const auto& child : children) text += child->Debug(depth + 1) + ";\n";
  return text;
}

std::string KestorConstructVarDecl::Parse(KestorScript& script, const Tokens& tokens,
                                          unsigned* index, std::vector<KestorVar>& vars) {
  if (!IsType(script, tokens, *index)) {
    return Got("Variable Declartion; Expected Variable Type, got ", At(tokens, *index));
  }
  type = tokens[*index];
  ++*index;
  if (!IsWord(tokens, *index)) {
    return Got("Variable Declartion; Expected Variable Name, got ", At(tokens, *index));
  }
  name = tokens[*index];
  ++*index;

  if (At(tokens, *index) == "(" && Has(tokens, *index)) {
    ++*index;
    constexpr unsigned kMaxDisplayNameTokens = 500;
    unsigned taken = 0;
    while (!(Has(tokens, *index) && tokens[*index] == ")")) {
      if (taken == kMaxDisplayNameTokens || !Has(tokens, *index)) {
        return "Either something went wrong or the display name for variable '" + name +
               "' is over 500 characters (not supported).";
      }
      displayName += tokens[*index];
      ++*index;
      ++taken;
    }
    ++*index;
  }

  const std::string& next = At(tokens, *index);
  if (Has(tokens, *index) && next == ";") return "";  // the statement takes the ";"
  if (Has(tokens, *index) && next == "=") {
    ++*index;
    initialiser = std::make_unique<KestorConstructExpr>();
    return initialiser->Parse(script, tokens, index, vars);
  }
  return Got("Expected end of line, got ", next);
}

std::string KestorConstructVarDecl::Debug(unsigned depth) const {
  std::string text = type + " " + name;
  if (!displayName.empty()) text += "(" + displayName + ")";
  if (initialiser) text += " = " + initialiser->Debug(depth + 1);
  return text;
}

std::string KestorConstructReturn::Parse(KestorScript& script, const Tokens& tokens,
                                         unsigned* index, std::vector<KestorVar>& vars) {
  const std::string error =
      Expect(tokens, index, "return", "Expected return for return statement, got ");
  if (!error.empty()) return error;
  return value.Parse(script, tokens, index, vars);
}

std::string KestorConstructReturn::Debug(unsigned depth) const {
  return "return/*(yay)*/ " + value.Debug(depth + 1);
}

std::string KestorConstructIf::Parse(KestorScript& script, const Tokens& tokens, unsigned* index,
                                     std::vector<KestorVar>& vars) {
  std::string error = Expect(tokens, index, "if", "Expected if loop to start with if, got ");
  if (error.empty()) error = Expect(tokens, index, "(", "Expected if setup to start with (, got ");
  if (error.empty()) error = condition.Parse(script, tokens, index, vars);
  if (error.empty()) error = Expect(tokens, index, ")", "Expected if setup to end with ), got ");
  if (!error.empty()) return error;

  thenBranch = std::make_unique<KestorConstructStatement>();
  error = thenBranch->Parse(script, tokens, index, vars);
  if (!error.empty()) return error;
  if (At(tokens, *index) == "else" && Has(tokens, *index)) {
    ++*index;
    elseBranch = std::make_unique<KestorConstructStatement>();
    return elseBranch->Parse(script, tokens, index, vars);
  }
  return "";
}

std::string KestorConstructIf::Debug(unsigned depth) const {
  std::string text =
      "if (" + condition.Debug(depth + 1) + "){\n" + DebugOf(thenBranch.get(), depth + 1);
  if (elseBranch) text += "}\nelse{\n" + elseBranch->Debug(depth + 1);
  return text + "}";
}

std::string KestorConstructForPixel::Parse(KestorScript& script, const Tokens& tokens,
                                           unsigned* index, std::vector<KestorVar>& vars) {
  std::string error =
      Expect(tokens, index, "forpixel", "Expected forpixel loop to start with forpixel, got ");
  if (error.empty()) {
    error = Expect(tokens, index, "(", "Expected forpixel setup to start with (, got ");
  }
  if (!error.empty()) return error;
  if (!IsWord(tokens, *index)) {
    return Got("Forpixel Setup; Expected Variable Name, got ", At(tokens, *index));
  }
  variableName = tokens[(*index)++];
  error = Expect(tokens, index, "in", "Expected forpixel setup to middle with in, got ");
  if (!error.empty()) return error;
  if (!IsWord(tokens, *index)) {
    return Got("Forpixel Setup; Expected Texture Variable Name, got ", At(tokens, *index));
  }
  textureName = tokens[(*index)++];
  error = Expect(tokens, index, ")", "Expected forpixel setup to end with ), got ");
  if (!error.empty()) return error;

  ScopeMark scope(vars);
  vars.push_back(KestorVar{"float4", variableName});
  body = std::make_unique<KestorConstructStatement>();
  return body->Parse(script, tokens, index, vars);
}

std::string KestorConstructForPixel::Debug(unsigned depth) const {
  return "forpixel(" + variableName + " in " + textureName + "){\n" +
         DebugOf(body.get(), depth + 1) + "}";
}

std::string KestorConstructForRange::Parse(KestorScript& script, const Tokens& tokens,
                                           unsigned* index, std::vector<KestorVar>& vars) {
  // The bound and setup texts below say "Forpixel" for forrange too; they
  // are the translator's established messages.
  struct Step {
    const char* expected;  // a fixed token, or nullptr for a word stored in `word`
    std::string* word;
    const char* message;
  };
  const Step steps[] = {
      {"forrange", nullptr, "Expected forrange loop to start with forrange, got "},
      {"(", nullptr, "Expected forrange setup to start with (, got "},
      {nullptr, &variableName, "Forpixel Setup; Expected Variable Name, got "},
      {"in", nullptr, "Expected forrange setup to middle with in, got "},
      {"(", nullptr, "Expected forrange range setup to start with a (, got "},
      {nullptr, &start, "Forpixel Setup; Expected start, got "},
      {",", nullptr, "Expected forrange range setup first variable to end with a ',', got "},
      {nullptr, &step, "Forpixel Setup; Expected second variable, step, got "},
      {",", nullptr, "Expected forrange range setup second variable to end with a ',', got "},
      {nullptr, &end, "Forpixel Setup; Expected third variable, end, got "},
      {")", nullptr, "Expected forrange range setup to end with a ), got "},
      {")", nullptr, "Expected forrange setup to end with ), got "},
  };
  for (const Step& s : steps) {
    if (s.expected != nullptr) {
      const std::string error = Expect(tokens, index, s.expected, s.message);
      if (!error.empty()) return error;
    } else {
      if (!IsWord(tokens, *index)) return Got(s.message, At(tokens, *index));
      *s.word = tokens[(*index)++];
      if (s.word == &step && IsZeroLiteral(step)) {
        return Got("Forrange Setup; Expected a step other than 0, got ", step);
      }
    }
  }

  ScopeMark scope(vars);
  vars.push_back(KestorVar{"float", variableName});
  body = std::make_unique<KestorConstructStatement>();
  return body->Parse(script, tokens, index, vars);
}

std::string KestorConstructForRange::Debug(unsigned depth) const {
  return "for(float tempiblerg = " + start + "; tempiblerg<" + end + ";tempiblerg+=" + step +
         "){float " + variableName + " = tempiblerg;\n" + DebugOf(body.get(), depth + 1) + "}";
}

// ---------------------------------------------------------------------------
// 5. Function declaration
// ---------------------------------------------------------------------------

std::string KestorConstructFuncDecl::Parse(KestorScript& script, const Tokens& tokens,
                                           unsigned* index, std::vector<KestorVar>& vars) {
  if (!IsType(script, tokens, *index)) return Got("Expected Return Type, got ", At(tokens, *index));
  returnType = tokens[(*index)++];
  if (!IsWord(tokens, *index)) return Got("Expected Function Name, got ", At(tokens, *index));
  name = tokens[(*index)++];
  std::string error = Expect(tokens, index, "(", "Expected Open Bracket for argument list, got ");
  if (!error.empty()) return error;

  if (At(tokens, *index) == ")" && Has(tokens, *index)) {
    ++*index;
  } else {
    while (true) {
      if (!IsType(script, tokens, *index)) {
        return Got("Expected Argument Type, got ", At(tokens, *index));
      }
      argumentTypes.push_back(tokens[(*index)++]);
      if (!IsWord(tokens, *index)) return Got("Expected Argument Name, got ", At(tokens, *index));
      argumentNames.push_back(tokens[(*index)++]);
      if (argumentNames.size() > KestorScriptLimits::kMaxVariables) {
        return TooManyVariablesError(argumentNames.back());
      }
      const std::string& next = At(tokens, *index);
      if (Has(tokens, *index) && (next == "," || next == ")")) {
        ++*index;
        if (next == ")") break;
        continue;
      }
      return Got("Invalid Function Declaration, got ", next);
    }
  }

  ScopeMark scope(vars);
  for (size_t i = 0; i < argumentNames.size(); ++i) {
    vars.push_back(KestorVar{argumentTypes[i], argumentNames[i]});
  }
  return body.Parse(script, tokens, index, vars);
}

std::string KestorConstructFuncDecl::Debug(unsigned depth) const {
  std::string text = returnType + " " + name + "( ";
  for (size_t i = 0; i < argumentNames.size(); ++i) {
    if (i > 0) text += ", ";
    text += argumentTypes[i] + " " + argumentNames[i];
  }
  return text + "){\n" + body.Debug(depth + 1) + "}";
}

}  // namespace KestorEngine
