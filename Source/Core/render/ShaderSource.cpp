#include "render/ShaderSource.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "engine/Debug.h"
#include "engine/File.h"
#include "render/Shader.h"
#include "render/ShaderUniform.h"

namespace KestorEngine {

// Shader's source options live beside the assembly that reads them.
bool Shader::TemporalAntiAliasing = false;
bool Shader::MotionBlur = false;

namespace {

const std::string kIncludeDirective = "#include";
const std::string kPrecompileMarker = "[PreCompile]";
const std::string kUniformWord = "uniform";

// The "//" rule shared by includes and markers: a "//" on the same line after
// `pos` (or anywhere after it on the last line) leaves the directive alone.
bool CommentedAfter(const std::string& text, size_t pos) {
  size_t comment = text.find("//", pos);
  if (comment == std::string::npos) return false;
  size_t newline = text.find('\n', pos);
  return newline == std::string::npos || newline >= comment;
}

size_t LineEnd(const std::string& text, size_t pos) {
  size_t newline = text.find('\n', pos);
  return newline == std::string::npos ? text.size() : newline;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream text;
  text << file.rdbuf();
  out = text.str();
  return true;
}

std::string IncludePath(const std::string& name) {
  return File::Find("Shaders", name + ".glinc");
}

void Report(const std::string& owner, const std::string& problem) {
  Debug::Log((owner.empty() ? std::string("Shader source") : owner) + ": " + problem + "\n");
}

std::string DescribeChain(const std::vector<std::string>& chain, const std::string& last) {
  std::string text;
  for (const std::string& name : chain) text += name + ".glinc -> ";
  return text + last + ".glinc";
}

// Where an include sits, for messages: the stage text itself or the chain of
// files that led to it.
std::string Where(const std::vector<std::string>& chain) {
  if (chain.empty()) return "";
  std::string text = " (in ";
  for (size_t i = 0; i < chain.size(); ++i) text += (i > 0 ? " -> " : "") + chain[i] + ".glinc";
  return text + ")";
}

// What a stage may grow to through its includes; past it, further includes
// expand to nothing and the stage usually fails to compile, which draws it
// with the error shader instead of stalling the start.
constexpr size_t kMaxExpandedBytes = 8u << 20;

struct Expansion {
  IncludeCache cache;
  std::vector<std::string>& chain;
  const std::string& owner;
  size_t& inserted;    // bytes of include text inserted so far, nesting included
  bool& overReported;  // the size limit has been reported for this stage
};

std::string Expand(const std::string& text, Expansion& x);

// The text an include directive stands for, read (and expanded) once per
// cache.
std::string IncludeText(const std::string& name, Expansion& x) {
  if (std::find(x.chain.begin(), x.chain.end(), name) != x.chain.end()) {
    Report(x.owner, "include cycle " + DescribeChain(x.chain, name) + ", expanded to nothing");
    return std::string();
  }
  auto cached = x.cache.find(name);
  if (cached == x.cache.end()) {
    std::string fileText;
    std::string expanded;
    if (ReadWholeFile(IncludePath(name), fileText)) {
      x.chain.push_back(name);
      // A copy of the cache: what the nested file adds stays private to it.
      Expansion nested{x.cache, x.chain, x.owner, x.inserted, x.overReported};
      expanded = Expand(fileText, nested);
      x.chain.pop_back();
    } else {
      Report(x.owner, "include \"" + name + "\" not found at " + IncludePath(name) + Where(x.chain) +
                          ", expanded to nothing");
    }
    cached = x.cache.emplace(name, std::move(expanded)).first;
  }
  std::string entry = cached->second;
  if (name == "HLSL") {
    // Applied at every directive, so cached text never carries them.
    if (Shader::TemporalAntiAliasing) entry = "\n\t#define TAA\n" + entry;
    if (Shader::MotionBlur) entry = "\n\t#define MotionBlur\n" + entry;
  }
  return entry;
}

// One line of the text, without its newline. A directive is replaced by its
// include text from where it starts up to the end of the line as it stands
// then; the directives of a line are taken from the last to the first, so an
// earlier one on the same line cuts a later one's text at its first newline.
std::string ExpandLine(std::string line, Expansion& x) {
  size_t pos = line.rfind(kIncludeDirective);
  while (pos != std::string::npos) {
    if (CommentedAfter(line, pos)) {
      pos = pos == 0 ? std::string::npos : line.rfind(kIncludeDirective, pos - 1);
      continue;
    }
    size_t lineEnd = LineEnd(line, pos);
    size_t open = line.find('"', pos);
    size_t close = open == std::string::npos ? open : line.find('"', open + 1);
    bool quoted = close != std::string::npos && close < lineEnd;
    std::string name = quoted ? line.substr(open + 1, close - open - 1) : std::string();

    std::string entry;
    if (!quoted) {
      Report(x.owner, "#include without a quoted name" + Where(x.chain) + ", expanded to nothing");
    } else if (x.inserted > kMaxExpandedBytes) {
      if (!x.overReported) {
        Report(x.owner, "includes expand past " + std::to_string(kMaxExpandedBytes >> 20) +
                            " MiB, the rest expanded to nothing");
        x.overReported = true;
      }
    } else {
      entry = IncludeText(name, x);
      x.inserted += entry.size();
    }
    line.replace(pos, lineEnd - pos, entry);
    pos = line.rfind(kIncludeDirective, pos);
  }
  return line;
}

// Lines are independent (a directive never reaches past its own line), so
// they are expanded one by one, from the last to the first as before, and
// joined once at the end.
std::string Expand(const std::string& text, Expansion& x) {
  if (text.find(kIncludeDirective) == std::string::npos) return text;
  std::vector<size_t> starts;
  for (size_t at = 0; at != std::string::npos && at <= text.size();) {
    starts.push_back(at);
    const size_t newline = text.find('\n', at);
    at = newline == std::string::npos ? std::string::npos : newline + 1;
  }
  std::vector<std::string> lines(starts.size());
  for (size_t i = starts.size(); i-- > 0;) {
    const size_t end = i + 1 < starts.size() ? starts[i + 1] - 1 : text.size();
    std::string line = text.substr(starts[i], end - starts[i]);
    lines[i] = line.find(kIncludeDirective) == std::string::npos ? std::move(line) : ExpandLine(std::move(line), x);
  }
  size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 1;
  std::string out;
  out.reserve(total);
  for (size_t i = 0; i < lines.size(); ++i) {
    out += lines[i];
    if (i + 1 < lines.size()) out += '\n';
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Rewrites every uncommented "[PreCompile] uniform <type> <name>;" into
// "<type> <name> = /*Precompiled*/;" (arrays: "<type> <name>[] = <type>[]()
// /*Precompiled*/;") and records where each value goes.
void PreparePrecompiles(std::string& text, PrecompilePositions& positions,
                        const std::string& owner) {
  size_t p = text.find(kPrecompileMarker);
  while (p != std::string::npos) {
    if (CommentedAfter(text, p)) {
      p = text.find(kPrecompileMarker, p + 1);
      continue;
    }
    size_t uniform = text.find(kUniformWord, p);
    size_t firstSemi = text.find(';', p);
    if (uniform == std::string::npos || firstSemi == std::string::npos || uniform > firstSemi) {
      // Erasing up to a "uniform" of some later declaration would eat code.
      Report(owner, "[PreCompile] not followed by a uniform declaration, marker dropped");
      text.erase(p, kPrecompileMarker.size());
      p = text.find(kPrecompileMarker, p);
      continue;
    }
    text.erase(p, uniform + kUniformWord.size() - p);

    size_t semi = text.find(';', p);
    size_t sp = semi;
    while (semi != std::string::npos && sp > p && !IsBlank(text[sp])) --sp;
    if (semi == std::string::npos || sp <= p + 1 || sp + 1 >= semi) {
      Report(owner, "[PreCompile] declaration without a type and a name, left as a plain "
                    "declaration");
      p = text.find(kPrecompileMarker, p + 1);
      continue;
    }
    std::string name = text.substr(sp + 1, semi - sp - 1);
    std::string type = text.substr(p + 1, sp - p - 1);
    std::cout << "Precompile " << name << "\n";
    std::cout << "PrecompileType " << type << "\n";

    int valueOffset = 0;
    size_t bracket = name.find('[');
    if (name.back() == ']' && bracket != std::string::npos && bracket > 0) {
      // Unsized arrays are the expected form; a sized one keeps its size in
      // the declaration and gets an initialiser of matching element type.
      name.erase(bracket);
      std::string initialiser = " = " + type + "[]()/*Precompiled*/";
      text.insert(semi, initialiser);
      valueOffset = static_cast<int>(semi + 3 + type.size() + 3);
    } else {
      text.insert(semi, " = /*Precompiled*/");
      valueOffset = static_cast<int>(semi + 3);
    }
    positions[valueOffset] = name;
    p = text.find(kPrecompileMarker, p + 1);
  }
}

std::string Number(float value) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%f", static_cast<double>(value));
  return buffer;
}

template <typename Vec>
std::string Vector(const char* constructor, const Vec& value, const char* separator) {
  std::string text = constructor;
  text += "(";
  for (int i = 0; i < Vec::length(); ++i) {
    if (i > 0) text += separator;
    text += Number(value[i]);
  }
  return text + ")";
}

// Column by column, as GLSL's matrix constructors take them.
template <typename Mat>
std::string Matrix(const char* constructor, const char* column, const Mat& value) {
  std::string text = constructor;
  text += "(";
  for (int c = 0; c < Mat::length(); ++c) {
    if (c > 0) text += ",";
    text += Vector(column, value[c], ",");
  }
  return text + ")";
}

void Append(std::string& value, const std::string& element) {
  if (!value.empty()) value += ", ";
  value += element;
}

}  // namespace

std::string IncludeWoop(std::string text, IncludeCache cache, PrecompilePositions& positions,
                        bool topLevel, const std::string& owner) {
  std::vector<std::string> chain;
  size_t inserted = 0;
  bool overReported = false;
  Expansion x{std::move(cache), chain, owner, inserted, overReported};
  text = Expand(text, x);
  if (topLevel) PreparePrecompiles(text, positions, owner);
  return text;
}

std::string IncludeWoop(std::string text, IncludeCache cache, PrecompilePositions& positions,
                        bool topLevel) {
  return IncludeWoop(std::move(text), std::move(cache), positions, topLevel, std::string());
}

std::string PrecompiledValue(const ShaderUniform& uniform, std::string value) {
  switch (uniform.Type) {
    case TypeFloat: return Number(uniform.FloatValue);
    case TypeVector2: return Vector("vec2", uniform.Vector2Value, ", ");
    case TypeVector3: return Vector("vec3", uniform.Vector3Value, ", ");
    case TypeVector4: return Vector("vec4", uniform.Vector4Value, ", ");
    case TypeMatrix3: return Matrix("mat3", "vec3", uniform.Matrix3Value);
    case TypeMatrix4: return Matrix("mat4", "vec4", uniform.Matrix4Value);
    case TypeFloatArray:
      for (float element : uniform.FloatValues) Append(value, Number(element));
      return value;
    case TypeVector3Array:
      for (const glm::vec3& element : uniform.Vector3Values) {
        Append(value, Vector("vec3", element, ", "));
      }
      return value;
    case TypeMatrix4Array:
      for (const glm::mat4& element : uniform.Matrix4Values) {
        Append(value, Matrix("mat4", "vec4", element));
      }
      return value;
    case TypeTexture: return value;
  }
  return value;
}

std::string ComputeVariant(const PrecompilePositions& positions, const std::string& text,
                           const std::vector<UniformBuffer*>* buffers) {
  std::string result = text;
  int shift = 0;
  for (const auto& [offset, name] : positions) {
    std::string value;
    if (buffers != nullptr) {
      for (const UniformBuffer* buffer : *buffers) {
        if (buffer == nullptr) continue;
        auto found = buffer->Uniforms.find(name);
        if (found == buffer->Uniforms.end()) continue;
        std::cout << "FoundSU\n";
        value = PrecompiledValue(found->second, std::move(value));
      }
    }
    if (value.empty()) value = "0";
    size_t at = static_cast<size_t>(offset + shift);
    // Offsets come from Load on this very text; a stale map must not write
    // past the end.
    if (at > result.size()) break;
    result.insert(at, value);
    shift += static_cast<int>(value.size());
  }
  return result;
}

uint64_t CombineVariantKey(uint64_t key, const PrecompilePositions& positions,
                           const std::vector<UniformBuffer*>* buffers) {
  if (buffers == nullptr) return key;
  for (const auto& entry : positions) {
    for (const UniformBuffer* buffer : *buffers) {
      if (buffer == nullptr) continue;
      auto found = buffer->Uniforms.find(entry.second);
      if (found != buffer->Uniforms.end()) key = HashCombine(key, found->second.ValueHash);
    }
  }
  return key;
}

}  // namespace KestorEngine
