#include "engine/TextNumbers.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace KestorEngine {

bool TryParseInt(const std::string& text, int32_t& out) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(begin, &end, 10);
  if (end == begin || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

bool TryParseUint(const std::string& text, uint32_t& out) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(begin, &end, 10);
  if (end == begin || errno == ERANGE || value > UINT32_MAX) return false;
  // strtoul wraps negative input around; a mesh index must never do that.
  for (const char* p = begin; p != end; ++p) {
    if (*p == '-') return false;
  }
  out = static_cast<uint32_t>(value);
  return true;
}

bool TryParseFloat(const std::string& text, float& out) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  float value = std::strtof(begin, &end);
  // stof rejects overflow but accepts underflow to zero or a denormal.
  if (end == begin || (errno == ERANGE && (value == HUGE_VALF || value == -HUGE_VALF))) return false;
  out = value;
  return true;
}

bool ParseWholeInt(const std::string& text, int32_t& out) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

bool ParseWholeFloat(const std::string& text, float& out) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const float value = std::strtof(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) return false;
  out = value;
  return true;
}

}  // namespace KestorEngine
