#pragma once
#include <cstdint>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>
#include <string>
#include <vector>

namespace KestorEngine {

// The pieces between "," characters, as getline would read them: an empty
// text gives no pieces, a trailing "," adds no empty piece, and two adjacent
// "," give an empty one.
std::vector<std::string> split(const std::string& text);

// Checked readers for number lists in asset text. Each piece is read with the
// standard readers' rules (leading white space skipped, trailing characters
// ignored). On failure they return false and leave `out` untouched. A vector
// needs at least as many pieces as it has components; extra pieces are
// ignored.
bool TryGetVec2(const std::string& text, glm::vec2& out);
bool TryGetVec3(const std::string& text, glm::vec3& out);
bool TryGetVec4(const std::string& text, glm::vec4& out);
// All or nothing: a list with one bad piece would shift every later value.
bool TrySplitToFloat(const std::string& text, std::vector<float>& out);
bool TrySplitToInt(const std::string& text, std::vector<int32_t>& out);
bool TrySplitToUint(const std::string& text, std::vector<uint32_t>& out);

// Unchecked forms for callers that have nothing to report. They never
// throw: text that does not convert gives the fallback (zero unless given),
// and a list with a bad piece gives an empty list.
float getFloat(const std::string& text, float fallback = 0.0f);
glm::vec2 getVec2(const std::string& text, glm::vec2 fallback = glm::vec2(0.0f));
glm::vec3 getVec3(const std::string& text, glm::vec3 fallback = glm::vec3(0.0f));
glm::vec4 getVec4(const std::string& text, glm::vec4 fallback = glm::vec4(0.0f));
std::vector<float> splitToFloat(const std::string& text);
std::vector<int32_t> splitToInt(const std::string& text);
std::vector<uint32_t> splitToUint(const std::string& text);

}  // namespace KestorEngine
