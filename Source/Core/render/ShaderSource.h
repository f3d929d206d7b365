#pragma once
// GLSL assembly for shader passes: #include resolution from ".glinc" files,
// the rewriting of [PreCompile] uniform declarations into constants whose
// values are filled per variant, and the variant key built from the value
// hashes of those uniforms.
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace KestorEngine {

class UniformBuffer;

// Offset in a processed stage text -> name of the precompiled uniform whose
// value is inserted there. Ascending offsets, all valid in the final text.
using PrecompilePositions = std::map<int, std::string>;
// Include name -> its fully expanded text.
using IncludeCache = std::unordered_map<std::string, std::string>;

// Expands every #include of `text` (from the last one to the first, so an
// expansion never moves a directive still to be handled). At top level it
// then rewrites the [PreCompile] declarations and records their value
// offsets in `positions`. `owner` names the pass in messages.
std::string IncludeWoop(std::string text, IncludeCache cache, PrecompilePositions& positions,
                        bool topLevel, const std::string& owner);
std::string IncludeWoop(std::string text, IncludeCache cache, PrecompilePositions& positions,
                        bool topLevel);

// The text with the value of each precompiled uniform inserted at its
// offset: the last buffer holding a single value wins, array elements of all
// buffers are joined, and a name no buffer holds gets "0".
std::string ComputeVariant(const PrecompilePositions& positions, const std::string& text,
                           const std::vector<UniformBuffer*>* buffers);

// Folds the stored ValueHash of every precompiled uniform into `key`, once
// per buffer holding it, in ascending offset order.
uint64_t CombineVariantKey(uint64_t key, const PrecompilePositions& positions,
                           const std::vector<UniformBuffer*>* buffers);

// The value text of one uniform as GLSL: "%f" numbers, vecN(...) and
// matN(vecN(...), ...) constructors. Empty for textures.
class ShaderUniform;
std::string PrecompiledValue(const ShaderUniform& uniform, std::string value);

}  // namespace KestorEngine
