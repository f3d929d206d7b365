#pragma once
// Checks a scene file before Assimp reads it, for what would make the
// library crash or allocate far beyond the file: a glTF node tree deeper
// than MaxNodeDepth (its reader recurses per level), nodes with two
// parents or in a loop, JSON nested deeper than MaxJsonDepth, counts (glTF
// accessors, glb chunks, OFF and PLY elements) that the bytes present
// cannot hold, and an OBJ's material file that sets anything before its
// first material. Other formats pass; the import's memory and time limits
// and its child process stand behind them.
#include <cstdint>
#include <string>

namespace KestorTools {

// Levels of a node tree the importer takes, the root's children at 1.
constexpr int MaxNodeDepth = 256;
// Nesting of JSON objects and arrays in a glTF file; the format itself
// needs about eight.
constexpr int MaxJsonDepth = 64;
// Elements an accessor without a buffer view may declare (it reads as
// zeros, and the library fills them all in), beyond what the file's own
// bytes would hold.
constexpr uint64_t MaxZeroBytes = 16u << 20;

// Empty when the file at `path` may go to the library; else one line
// saying what is wrong. The extension selects the format; a glTF file's
// external buffers and an OBJ's material files are found beside it.
std::string CheckSource(const std::string& path);

}  // namespace KestorTools
