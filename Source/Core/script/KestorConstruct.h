#pragma once
// The shading script's syntax tree. Each node parses itself by recursive
// descent (`Parse` returns "" or the first error text) and prints itself back
// as shader source (`Debug`). Children are owned by their parent.
//
// Variable scope: a function starts with its arguments in scope. Every
// Statement, whether a { } block or a single statement, is a scope: what it
// declares is visible to the statements after the declaration inside it and
// gone at its end. Loop variables are visible in their loop's body only. An
// inner declaration may reuse an outer name; lookups find the innermost one.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace KestorEngine {

class KestorScript;

// A value declared in a script. `components` are x, y, z, w.
class KestorVar {
 public:
  std::string type;
  std::string name;
  float components[4] = {0.0f, 0.0f, 0.0f, 0.0f};

  // Applies f to as many components as the type has ("float" one ...
  // "float4" four); other types are left alone.
  void RunComponentWise(std::function<float(float)> f);
};

class KestorConstruct {
 public:
  // Parses at tokens[*index], advancing *index past what was consumed.
  // `vars` holds the variables in scope; only statements add to it, and every
  // statement removes what it added before returning.
  virtual std::string Parse(KestorScript& script, const std::vector<std::string>& tokens,
                            unsigned* index, std::vector<KestorVar>& vars);
  virtual std::string Debug(unsigned depth) const;
  virtual ~KestorConstruct() = default;

  // "{", "}", "(", ")", "[", "]", ",", ";", "=", "<", ">", "+", "-", "*",
  // "/", "*=", "/=": never a name, literal or bound.
  static const std::vector<std::string>& ReservedSymbols();

  static bool inarray(const std::vector<std::string>& list, const std::string& token);
  // The innermost variable called `name`, or nullptr.
  static KestorVar* variable(std::vector<KestorVar>& vars, const std::string& name);
};

class KestorConstructExpr;
class KestorConstructFuncCall;

// A parenthesised Expr, a call, or a literal token (name or number).
class KestorConstructFactor : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;
  ~KestorConstructFactor() override;

  std::unique_ptr<KestorConstructExpr> expr;
  std::unique_ptr<KestorConstructFuncCall> call;
  std::string literal;
};

// Factors joined by "*" and "/"; divide[i] belongs between operand i and i+1.
class KestorConstructTerm : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::vector<std::unique_ptr<KestorConstructFactor>> operands;
  std::vector<bool> divide;
};

// Terms joined by "+" and "-".
class KestorConstructAddSub : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::vector<std::unique_ptr<KestorConstructTerm>> operands;
  std::vector<bool> subtract;
};

// AddSubs joined by "<", ">", "<=", ">=".
class KestorConstructComparison : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::vector<std::unique_ptr<KestorConstructAddSub>> operands;
  std::vector<std::string> operators;
};

// Comparisons joined by "==" (flag set) and "!=".
class KestorConstructEquality : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::vector<std::unique_ptr<KestorConstructComparison>> operands;
  std::vector<bool> equal;
};

// `name = value` when `assignment` is set, otherwise just the value.
class KestorConstructExpr : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  bool assignment = false;
  std::string name;
  KestorConstructEquality value;
};

class KestorConstructFuncCall : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::string name;
  std::vector<std::unique_ptr<KestorConstructExpr>> arguments;
};

// A declared variable or a call, with an optional ".member". The tokeniser
// glues "col.rgb" into one token, so a member arrives either as "." then a
// name or as one token starting with ".".
class KestorConstructIdentifier : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::string name;
  std::unique_ptr<KestorConstructFuncCall> call;
  std::string member;
};

// A { } block or a single statement; each child prints followed by ";".
class KestorConstructStatement : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;
  // One statement with its ";"; declarations add to *vars.
  std::string ParseStatement(KestorScript& script, const std::vector<std::string>& tokens,
                             unsigned* index, std::vector<KestorVar>* vars);

  std::vector<std::unique_ptr<KestorConstruct>> children;
};

class KestorConstructVarDecl : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::string type;
  std::string name;
  std::string displayName;
  std::unique_ptr<KestorConstructExpr> initialiser;
};

class KestorConstructReturn : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  KestorConstructExpr value;
};

class KestorConstructIf : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  KestorConstructExpr condition;
  std::unique_ptr<KestorConstructStatement> thenBranch;
  std::unique_ptr<KestorConstructStatement> elseBranch;
};

// forpixel(p in tex): printed as written. The loop variable is a "float4".
class KestorConstructForPixel : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::string variableName;
  std::string textureName;
  std::unique_ptr<KestorConstructStatement> body;
};

// forrange(i in (start, step, end)): rewritten as a C for loop over a float.
class KestorConstructForRange : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::string variableName;
  std::string start;
  std::string end;
  std::string step;
  std::unique_ptr<KestorConstructStatement> body;
};

class KestorConstructFuncDecl : public KestorConstruct {
 public:
  std::string Parse(KestorScript& script, const std::vector<std::string>& tokens, unsigned* index,
                    std::vector<KestorVar>& vars) override;
  std::string Debug(unsigned depth) const override;

  std::string returnType = "Missing Function Return Type";
  std::string name = "Missing Function Name";
  std::vector<std::string> argumentTypes;
  std::vector<std::string> argumentNames;
  KestorConstructStatement body;
};

}  // namespace KestorEngine
