#include "engine/CVar.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "engine/TextNumbers.h"

namespace KestorEngine {

std::map<std::string, CVarT*>& CVarHandler::CVarDict() {
  static auto* dict = new std::map<std::string, CVarT*>();
  return *dict;
}

const char* CVarTypeName(const CVarT* var) {
  if (dynamic_cast<const CVar<bool>*>(var) != nullptr) return CVarTypeName<bool>();
  if (dynamic_cast<const CVar<int>*>(var) != nullptr) return CVarTypeName<int>();
  if (dynamic_cast<const CVar<float>*>(var) != nullptr) return CVarTypeName<float>();
  if (dynamic_cast<const CVar<glm::vec2>*>(var) != nullptr) return CVarTypeName<glm::vec2>();
  return "other";
}

void CVarHandler::ReportTypeClash(const std::string& name, const char* asked, const CVarT* registered) {
  std::cout << "CVar \"" << name << "\" is a " << CVarTypeName(registered) << ", not a " << asked
            << ": this caller gets a variable of its own" << std::endl;
}

template <>
std::string CVar<bool>::ToString() {
  return "BOOL";
}
template <>
std::string CVar<float>::ToString() {
  return "FLOAT";
}

ConfigLine CutConfigLine(const std::string& line) {
  ConfigLine cut;
  const size_t firstSpace = line.find(' ');
  if (firstSpace == std::string::npos) {
    cut.type = line;
    return cut;
  }
  cut.type = line.substr(0, firstSpace);

  const size_t equals = line.find('=');
  if (equals != std::string::npos && equals > firstSpace) {
    const size_t lastSpace = line.rfind(' ', equals);
    if (lastSpace != std::string::npos && lastSpace > firstSpace) {
      cut.name = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    }
  }

  if (equals != std::string::npos) {
    const size_t valueSpace = line.find(' ', equals);
    if (valueSpace != std::string::npos) {
      const size_t begin = valueSpace + 1;
      const size_t semicolon = line.find(';', begin);
      cut.value = line.substr(begin, semicolon == std::string::npos ? std::string::npos
                                                                    : semicolon - begin);
    }
  }
  return cut;
}

namespace {

void Report(const std::string& source, int lineNumber, const std::string& what) {
  std::cout << source << ":" << lineNumber << ": " << what << ", line ignored" << std::endl;
}

bool ParseVec2(const std::string& value, glm::vec2& out) {
  const size_t open = value.find('(');
  const size_t comma = value.find(',');
  const size_t close = value.find(')');
  if (open == std::string::npos || comma == std::string::npos || close == std::string::npos ||
      comma < open || close < comma) {
    return false;
  }
  return TryParseFloat(value.substr(open + 1, comma - open - 1), out.x) &&
         TryParseFloat(value.substr(comma + 1, close - comma - 1), out.y);
}

template <typename T>
CVar<T>* Registered(CVarT* var, const ConfigLine& cut, const std::string& source, int line) {
  auto* typed = dynamic_cast<CVar<T>*>(var);
  if (typed == nullptr) {
    Report(source, line, "\"" + cut.name + "\" is not a " + cut.type + " variable");
  }
  return typed;
}

bool Allows(const CVarT& var, float v) { return var.Allows(v); }
bool Allows(const CVarT& var, int32_t v) { return var.Allows(v); }
bool Allows(const CVarT& var, bool) { return true; }
bool Allows(const CVarT& var, glm::vec2 v) { return var.Allows(v.x) && var.Allows(v.y); }

std::string Number(double v) {
  std::ostringstream text;
  text << v;
  return text.str();
}

std::string Limits(const CVarT& var) { return "from " + Number(var.Low) + " to " + Number(var.High); }

// The typed variable when `value` lies within its limits; else reported.
template <typename T>
CVar<T>* Accepting(CVarT* var, const ConfigLine& cut, const std::string& source, int line, T value) {
  CVar<T>* typed = Registered<T>(var, cut, source, line);
  if (typed != nullptr && !Allows(*typed, value)) {
    Report(source, line, "\"" + cut.value + "\" is outside what \"" + cut.name + "\" takes (" + Limits(*typed) + ")");
    return nullptr;
  }
  return typed;
}

}  // namespace

void CVarHandler::ApplyLine(const std::string& line, const std::string& source, int lineNumber) {
  const ConfigLine cut = CutConfigLine(line);
  auto& dict = CVarDict();
  auto found = dict.find(cut.name);
  CVarT* var = found != dict.end() ? found->second : nullptr;
  const auto notANumber = [&] {
    Report(source, lineNumber, "\"" + cut.value + "\" is not a " + cut.type + " value for \"" +
                                   cut.name + "\"");
  };

  if (cut.type == "bool") {
    if (var != nullptr) {
      if (auto* typed = Registered<bool>(var, cut, source, lineNumber)) typed->value = cut.value == "true";
    }
  } else if (cut.type == "int") {
    int32_t parsed = 0;
    if (var != nullptr) {
      if (!TryParseInt(cut.value, parsed)) {
        notANumber();
      } else if (auto* typed = Accepting<int>(var, cut, source, lineNumber, parsed)) {
        typed->value = parsed;
      }
    }
  } else if (cut.type == "float") {
    float parsed = 0;
    if (var != nullptr) {
      if (!TryParseFloat(cut.value, parsed)) {
        notANumber();
      } else if (auto* typed = Accepting<float>(var, cut, source, lineNumber, parsed)) {
        typed->value = parsed;
      }
    }
  } else if (cut.type == "vec2") {
    glm::vec2 parsed(0.0f);
    if (!ParseVec2(cut.value, parsed)) {
      notANumber();
    } else {
      std::cout << "vec2(" << parsed.x << "," << parsed.y << ")" << std::endl;
      if (var != nullptr) {
        if (auto* typed = Accepting<glm::vec2>(var, cut, source, lineNumber, parsed)) typed->value = parsed;
      }
    }
  }

  std::cout << cut.value << std::endl << cut.name << std::endl << cut.type << std::endl;
}

namespace {

bool WholeVec2(const std::string& whole, glm::vec2& out) {
  std::string text = whole;
  if (text.size() >= 2 && text.front() == '(' && text.back() == ')') text = text.substr(1, text.size() - 2);
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  glm::vec2 v;
  if (!ParseWholeFloat(text.substr(0, comma), v.x) || !ParseWholeFloat(text.substr(comma + 1), v.y)) return false;
  out = v;
  return true;
}

template <typename T>
bool SetTyped(CVarT* var, bool (*read)(const std::string&, T&), const std::string& text, bool apply,
              std::string& problem) {
  auto* typed = dynamic_cast<CVar<T>*>(var);
  T value{};
  if (typed == nullptr || !read(text, value)) return false;
  if (!Allows(*typed, value)) {
    problem = "\"" + var->name + "\" takes values " + Limits(*var) + ", not \"" + text + "\"";
    return false;
  }
  if (apply) typed->value = value;
  return true;
}

bool WholeBool(const std::string& text, bool& out) {
  if (text != "true" && text != "1" && text != "false" && text != "0") return false;
  out = text == "true" || text == "1";
  return true;
}

}  // namespace

bool CVarHandler::SetFromText(const std::string& name, const std::string& text, std::string& problem,
                              bool apply) {
  problem.clear();
  auto& dict = CVarDict();
  auto found = dict.find(name);
  if (found == dict.end()) {
    problem = "no configuration variable is called \"" + name + "\"";
    return false;
  }
  CVarT* var = found->second;
  const char* expected = nullptr;
  bool ok = false;
  if (dynamic_cast<CVar<bool>*>(var) != nullptr) {
    expected = "true, false, 1 or 0";
    ok = SetTyped<bool>(var, &WholeBool, text, apply, problem);
  } else if (dynamic_cast<CVar<int>*>(var) != nullptr) {
    expected = "a whole number";
    ok = SetTyped<int>(var, &ParseWholeInt, text, apply, problem);
  } else if (dynamic_cast<CVar<float>*>(var) != nullptr) {
    expected = "a number";
    ok = SetTyped<float>(var, &ParseWholeFloat, text, apply, problem);
  } else if (dynamic_cast<CVar<glm::vec2>*>(var) != nullptr) {
    expected = "two numbers x,y";
    ok = SetTyped<glm::vec2>(var, &WholeVec2, text, apply, problem);
  } else {
    problem = "\"" + name + "\" cannot be set from text";
    return false;
  }
  if (!ok && problem.empty()) problem = "\"" + name + "\" takes " + expected + ", not \"" + text + "\"";
  return ok;
}

void CVarHandler::Load(const std::string& path) {
  std::ifstream file(path);
  if (!file) return;
  std::string line;
  int lineNumber = 0;
  while (std::getline(file, line)) ApplyLine(line, path, ++lineNumber);
}

}  // namespace KestorEngine
