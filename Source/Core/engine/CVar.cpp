#include "engine/CVar.h"

#include <fstream>
#include <iostream>

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
      } else if (auto* typed = Registered<int>(var, cut, source, lineNumber)) {
        typed->value = parsed;
      }
    }
  } else if (cut.type == "float") {
    float parsed = 0;
    if (var != nullptr) {
      if (!TryParseFloat(cut.value, parsed)) {
        notANumber();
      } else if (auto* typed = Registered<float>(var, cut, source, lineNumber)) {
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
        if (auto* typed = Registered<glm::vec2>(var, cut, source, lineNumber)) typed->value = parsed;
      }
    }
  }

  std::cout << cut.value << std::endl << cut.name << std::endl << cut.type << std::endl;
}

void CVarHandler::Load(const std::string& path) {
  std::ifstream file(path);
  if (!file) return;
  std::string line;
  int lineNumber = 0;
  while (std::getline(file, line)) ApplyLine(line, path, ++lineNumber);
}

}  // namespace KestorEngine
