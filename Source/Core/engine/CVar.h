#pragma once
#include <glm/vec2.hpp>
#include <cmath>
#include <map>
#include <string>
#include <type_traits>

namespace KestorEngine {

// A named program-wide setting. Code keeps the pointer Create returns; the
// configuration file may override the value at start-up and the control
// panel edits it live. Nothing is saved.
class CVarT {
 public:
  virtual ~CVarT() = default;
  // Draws the variable's control-panel row with its top-left corner at pos.
  virtual int DrawGUI(glm::vec2 pos, glm::vec2 size) { return 0; }
  virtual std::string ToString() { return "N/A"; }

  // The values the code using an int, float or vec2 variable copes with
  // (both parts of a vec2); the command line and the configuration file
  // refuse others. Unbounded unless Limit is called.
  void Limit(double low, double high) {
    Low = low;
    High = high;
  }
  bool Allows(double v) const { return v >= Low && v <= High; }

  std::string name;
  double Low = -HUGE_VAL, High = HUGE_VAL;
};

template <typename T>
class CVar : public CVarT {
 public:
  int DrawGUI(glm::vec2 pos, glm::vec2 size) override { return 0; }
  std::string ToString() override { return "N/A"; }

  T value{};
};

// Rows drawn by the immediate-mode widgets: toggle for bools (a filled mark
// when on), slider and number field for floats (the name on a line of its
// own when the row is two lines tall).
template <>
int CVar<bool>::DrawGUI(glm::vec2 pos, glm::vec2 size);
template <>
int CVar<float>::DrawGUI(glm::vec2 pos, glm::vec2 size);
template <>
std::string CVar<bool>::ToString();
template <>
std::string CVar<float>::ToString();

// One line of the configuration file cut up by position (not tokenised), so
// that names may hold spaces.
struct ConfigLine {
  std::string type;
  std::string name;
  std::string value;
};
ConfigLine CutConfigLine(const std::string& line);

class CVarHandler {
 public:
  // Row layout of DrawGUI, in pixels.
  static constexpr float textLen = 100.0f;
  static constexpr float editLen = 50.0f;
  static constexpr float rowHeight = 24.0f;

  // Ordered by name; the variables live until exit.
  static std::map<std::string, CVarT*>& CVarDict();

  // Returns the registered variable of that name untouched, or registers a
  // new one holding `value`. A name registered with another type is refused
  // with a console line: the caller gets a private variable holding `value`,
  // never the other type's object.
  template <typename T>
  static CVar<T>* Create(const std::string& name, T value);

  // Applies `path` over the registered variables; a missing file is no error.
  static void Load(const std::string& path);
  // Applies one line; `source` and `lineNumber` only label reports.
  static void ApplyLine(const std::string& line, const std::string& source, int lineNumber);
  // Sets the registered variable `name` from `text`, read as the variable's
  // own type: bool "true", "false", "1" or "0"; a whole int or float; vec2
  // "x,y" (or "(x,y)"). An unknown name, a value that does not read in full
  // or one outside the variable's limits changes nothing, returns false and
  // says why in `problem`. With `apply` false it only checks.
  static bool SetFromText(const std::string& name, const std::string& text, std::string& problem,
                          bool apply = true);

  static void ReportTypeClash(const std::string& name, const char* asked, const CVarT* registered);

  static void Save(const std::string& path) {}
  static std::string Serialize() { return ""; }
  static void Deserialize(const std::string& text) {}
};

// The type word of the configuration file for each variable type.
template <typename T>
constexpr const char* CVarTypeName() {
  if constexpr (std::is_same_v<T, bool>) return "bool";
  if constexpr (std::is_same_v<T, int>) return "int";
  if constexpr (std::is_same_v<T, float>) return "float";
  if constexpr (std::is_same_v<T, glm::vec2>) return "vec2";
  return "other";
}
const char* CVarTypeName(const CVarT* var);

template <typename T>
CVar<T>* CVarHandler::Create(const std::string& name, T value) {
  auto& dict = CVarDict();
  auto found = dict.find(name);
  if (found != dict.end()) {
    if (auto* same = dynamic_cast<CVar<T>*>(found->second)) return same;
    // Writing through the other type's object would corrupt it. The stray
    // below is never registered and, like registered ones, never deleted.
    ReportTypeClash(name, CVarTypeName<T>(), found->second);
  }
  auto* var = new CVar<T>();
  var->name = name;
  var->value = value;
  if (found == dict.end()) dict[name] = var;
  return var;
}

}  // namespace KestorEngine
