#pragma once
#include <cstdint>
#include <string>

namespace KestorEngine {

// Checked conversions with the standard library's stoi/stof/stoul reading
// rules (leading white space skipped, trailing text ignored), but reporting
// failure instead of throwing. Every loader of text data goes through these.
bool TryParseInt(const std::string& text, int32_t& out);
bool TryParseUint(const std::string& text, uint32_t& out);
bool TryParseFloat(const std::string& text, float& out);

// For values a person types (command line options, --set, the console):
// the whole text is the number, with no white space before it and nothing
// after it ("640x" or "1.5deg" are mistakes, not numbers), and a float is
// finite and in range.
bool ParseWholeInt(const std::string& text, int32_t& out);
bool ParseWholeFloat(const std::string& text, float& out);

}  // namespace KestorEngine
