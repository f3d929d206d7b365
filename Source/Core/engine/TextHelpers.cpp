#include "engine/TextHelpers.h"

#include "engine/TextNumbers.h"

namespace KestorEngine {

namespace {

template <typename Vec>
bool TryGetVec(const std::string& text, Vec& out) {
  std::vector<std::string> pieces = split(text);
  if (pieces.size() < static_cast<size_t>(Vec::length())) return false;
  Vec value;
  for (int i = 0; i < Vec::length(); ++i) {
    if (!TryParseFloat(pieces[i], value[i])) return false;
  }
  out = value;
  return true;
}

template <typename Number, typename Parse>
bool TrySplitTo(const std::string& text, std::vector<Number>& out, Parse parse) {
  std::vector<std::string> pieces = split(text);
  std::vector<Number> values(pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (!parse(pieces[i], values[i])) return false;
  }
  out.swap(values);
  return true;
}

}  // namespace

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) {
      pieces.push_back(text.substr(start));
      break;
    }
    pieces.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return pieces;
}

bool TryGetVec2(const std::string& text, glm::vec2& out) { return TryGetVec(text, out); }
bool TryGetVec3(const std::string& text, glm::vec3& out) { return TryGetVec(text, out); }
bool TryGetVec4(const std::string& text, glm::vec4& out) { return TryGetVec(text, out); }

bool TrySplitToFloat(const std::string& text, std::vector<float>& out) {
  return TrySplitTo(text, out, TryParseFloat);
}
bool TrySplitToInt(const std::string& text, std::vector<int32_t>& out) {
  return TrySplitTo(text, out, TryParseInt);
}
bool TrySplitToUint(const std::string& text, std::vector<uint32_t>& out) {
  return TrySplitTo(text, out, TryParseUint);
}

float getFloat(const std::string& text, float fallback) {
  float value = fallback;
  TryParseFloat(text, value);
  return value;
}

glm::vec2 getVec2(const std::string& text, glm::vec2 fallback) {
  TryGetVec2(text, fallback);
  return fallback;
}

glm::vec3 getVec3(const std::string& text, glm::vec3 fallback) {
  TryGetVec3(text, fallback);
  return fallback;
}

glm::vec4 getVec4(const std::string& text, glm::vec4 fallback) {
  TryGetVec4(text, fallback);
  return fallback;
}

std::vector<float> splitToFloat(const std::string& text) {
  std::vector<float> values;
  TrySplitToFloat(text, values);
  return values;
}

std::vector<int32_t> splitToInt(const std::string& text) {
  std::vector<int32_t> values;
  TrySplitToInt(text, values);
  return values;
}

std::vector<uint32_t> splitToUint(const std::string& text) {
  std::vector<uint32_t> values;
  TrySplitToUint(text, values);
  return values;
}

}  // namespace KestorEngine
