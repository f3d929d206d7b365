// Sections: a small JSON reader | glTF (.gltf, .glb) | OFF and PLY counts.
#include "SourceChecks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

namespace KestorTools {

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Count(double n) {
  std::ostringstream text;
  text.precision(15);
  text << n;
  return text.str();
}

// ---- A small JSON reader ------------------------------------------------------

struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  double number = 0.0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Get(const char* key) const {
    for (const auto& member : members) {
      if (member.first == key) return &member.second;
    }
    return nullptr;
  }
  double NumberOr(const char* key, double fallback) const {
    const Json* value = Get(key);
    return value != nullptr && value->kind == Kind::Number ? value->number : fallback;
  }
};

// Recursive descent, refusing nesting deeper than MaxJsonDepth so that
// neither this reader nor the library's meets a stack's end.
class JsonReader {
 public:
  JsonReader(const char* begin, const char* end) : at(begin), start(begin), end(end) {}

  bool Read(Json& out, std::string& why) {
    const bool ok = Value(out, 0) && (Space(), at == end);
    if (!ok) why = problem.empty() ? "it is not JSON (at byte " + std::to_string(at - start) + ")" : problem;
    return ok;
  }

 private:
  void Space() {
    while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r')) ++at;
  }
  bool Take(char c) {
    Space();
    if (at < end && *at == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    const size_t n = std::strlen(word);
    if (static_cast<size_t>(end - at) < n || std::memcmp(at, word, n) != 0) return false;
    at += n;
    return true;
  }

  bool Value(Json& out, int depth) {
    Space();
    if (at >= end) return false;
    if (*at == '{' || *at == '[') {
      if (depth >= MaxJsonDepth) {
        problem = "it nests JSON deeper than " + std::to_string(MaxJsonDepth) + " levels";
        return false;
      }
      return *at == '{' ? Object(out, depth + 1) : Array(out, depth + 1);
    }
    if (*at == '"') {
      out.kind = Json::Kind::String;
      return String(out.text);
    }
    if (Word("true") || Word("false")) {
      out.kind = Json::Kind::Bool;
      return true;
    }
    if (Word("null")) return true;
    return Number(out);
  }

  bool Object(Json& out, int depth) {
    out.kind = Json::Kind::Object;
    ++at;
    if (Take('}')) return true;
    do {
      std::string key;
      Space();
      if (at >= end || *at != '"' || !String(key) || !Take(':')) return false;
      out.members.emplace_back(std::move(key), Json());
      if (!Value(out.members.back().second, depth)) return false;
    } while (Take(','));
    return Take('}');
  }

  bool Array(Json& out, int depth) {
    out.kind = Json::Kind::Array;
    ++at;
    if (Take(']')) return true;
    do {
      out.items.emplace_back();
      if (!Value(out.items.back(), depth)) return false;
    } while (Take(','));
    return Take(']');
  }

  // Escapes other than the plain ones keep their letter: the checks read
  // names and URIs of ASCII text.
  bool String(std::string& out) {
    ++at;
    while (at < end && *at != '"') {
      if (*at == '\\') {
        if (++at >= end) return false;
        const char* plain = "\"\\/bfnrt";
        const char* meant = "\"\\/\b\f\n\r\t";
        const char* found = std::strchr(plain, *at);
        out += found != nullptr && *at != '\0' ? meant[found - plain] : *at;
      } else {
        out += *at;
      }
      ++at;
    }
    if (at >= end) return false;
    ++at;
    return true;
  }

  bool Number(Json& out) {
    const char* first = at;
    while (at < end && std::strchr("+-0123456789.eE", *at) != nullptr && *at != '\0') ++at;
    if (at == first) return false;
    const std::string token(first, at);
    char* stop = nullptr;
    out.kind = Json::Kind::Number;
    out.number = std::strtod(token.c_str(), &stop);
    return stop == token.c_str() + token.size();
  }

  const char* at;
  const char* start;
  const char* end;
  std::string problem;
};

// ---- glTF ---------------------------------------------------------------------

// A glTF 2.0 collection is an array, a glTF 1.0 one an object keyed by id:
// both as (id, entry) pairs, ids of arrays being their indices.
using Entries = std::vector<std::pair<std::string, const Json*>>;

Entries EntriesOf(const Json& root, const char* name) {
  Entries out;
  const Json* list = root.Get(name);
  if (list == nullptr) return out;
  if (list->kind == Json::Kind::Array) {
    for (size_t i = 0; i < list->items.size(); ++i) out.emplace_back(std::to_string(i), &list->items[i]);
  } else if (list->kind == Json::Kind::Object) {
    for (const auto& member : list->members) out.emplace_back(member.first, &member.second);
  }
  return out;
}

// The id a reference names: an index (2.0) or a key (1.0); empty for none.
std::string IdOf(const Json* reference) {
  if (reference == nullptr) return "";
  if (reference->kind == Json::Kind::String) return reference->text;
  if (reference->kind == Json::Kind::Number && reference->number >= 0 && reference->number < 1e15 &&
      std::floor(reference->number) == reference->number) {
    return std::to_string(static_cast<uint64_t>(reference->number));
  }
  return "#invalid";
}

std::map<std::string, const Json*> ById(const Entries& entries) {
  return std::map<std::string, const Json*>(entries.begin(), entries.end());
}

// A tree: every child exists, has one parent and no loop leads back; its
// depth within MaxNodeDepth.
std::string CheckNodeTree(const Json& root) {
  const Entries nodes = EntriesOf(root, "nodes");
  const auto byId = ById(nodes);
  std::map<std::string, std::vector<std::string>> children;
  std::map<std::string, std::string> parentOf;
  for (const auto& [id, node] : nodes) {
    const Json* list = node->Get("children");
    if (list == nullptr) continue;
    if (list->kind != Json::Kind::Array) return "node " + id + ": its children are not a list";
    for (const Json& child : list->items) {
      const std::string childId = IdOf(&child);
      if (byId.count(childId) == 0) return "node " + id + " names a child node that does not exist";
      if (!parentOf.emplace(childId, id).second) {
        return "node " + childId + " has two parents (" + parentOf[childId] + " and " + id +
               "); a node tree gives each node one";
      }
      children[id].push_back(childId);
    }
  }
  // Walked level by level from the roots; a node never reached sits in a loop.
  std::vector<std::string> level;
  for (const auto& entry : nodes) {
    if (parentOf.count(entry.first) == 0) level.push_back(entry.first);
  }
  size_t reached = 0;
  for (int depth = 0; !level.empty(); ++depth) {
    if (depth > MaxNodeDepth) {
      return "its node tree is more than " + std::to_string(MaxNodeDepth) + " levels deep, more than the importer takes";
    }
    reached += level.size();
    std::vector<std::string> next;
    for (const std::string& id : level) {
      const auto found = children.find(id);
      if (found != children.end()) next.insert(next.end(), found->second.begin(), found->second.end());
    }
    level.swap(next);
  }
  if (reached < nodes.size()) return "its nodes are their own ancestors (a loop in the node tree)";
  return "";
}

double ComponentBytes(double type) {
  if (!(type >= 0 && type < 1e6)) return 0;
  switch (static_cast<int>(type)) {
    case 5120: case 5121: return 1;  // byte, unsigned byte
    case 5122: case 5123: return 2;  // short, unsigned short
    case 5125: case 5126: return 4;  // unsigned int, float
    default: return 0;
  }
}

double Components(const std::string& type) {
  static const std::map<std::string, double> count = {{"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4},
                                                      {"MAT2", 4},   {"MAT3", 9}, {"MAT4", 16}};
  const auto found = count.find(type);
  return found != count.end() ? found->second : 0;
}

// Bytes behind a buffer: the glb's binary chunk, a data URI's decoded
// length, or the size of the file it names; negative when unknown (a
// missing file, which the library reports itself).
double BufferBytes(const Json& buffer, const std::string& path, double binaryChunk) {
  const Json* uri = buffer.Get("uri");
  if (uri == nullptr || uri->kind != Json::Kind::String) return binaryChunk;
  const std::string& text = uri->text;
  if (text.rfind("data:", 0) == 0) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return 0;
    const double encoded = static_cast<double>(text.size() - comma - 1);
    return text.find(";base64", 0) < comma ? std::floor(encoded * 3 / 4) : encoded;
  }
  std::error_code error;
  const auto size = fs::file_size(fs::path(path).parent_path() / text, error);
  return error ? -1.0 : static_cast<double>(size);
}

std::string CheckGltfData(const Json& root, const std::string& path, double binaryChunk, double fileSize) {
  const Entries buffers = EntriesOf(root, "buffers");
  std::map<std::string, double> bufferBytes;
  for (const auto& [id, buffer] : buffers) {
    const double declared = buffer->NumberOr("byteLength", 0);
    // glTF 1.0's binary extension names its chunk "binary_glTF" (with a
    // placeholder URI); glTF 2.0's is buffer 0 without one.
    const double present = id == "binary_glTF" ? binaryChunk : BufferBytes(*buffer, path, id == "0" ? binaryChunk : -1);
    if (present >= 0 && declared > present) {
      return "buffer " + id + " declares " + Count(declared) + " bytes where " + Count(present) + " are present";
    }
    bufferBytes[id] = declared;
  }
  const Entries views = EntriesOf(root, "bufferViews");
  std::map<std::string, std::pair<double, double>> viewBytes;  // length, stride
  for (const auto& [id, view] : views) {
    const auto buffer = bufferBytes.find(IdOf(view->Get("buffer")));
    if (buffer == bufferBytes.end()) return "buffer view " + id + " names no buffer of the file";
    const double offset = view->NumberOr("byteOffset", 0), length = view->NumberOr("byteLength", 0);
    if (!(offset >= 0 && length >= 0 && offset + length <= buffer->second)) {
      return "buffer view " + id + " reaches past the end of its buffer";
    }
    viewBytes[id] = {length, view->NumberOr("byteStride", 0)};
  }
  const double zeros = static_cast<double>(MaxZeroBytes) + 16.0 * fileSize;
  for (const auto& [id, accessor] : EntriesOf(root, "accessors")) {
    const Json* type = accessor->Get("type");
    const double element = ComponentBytes(accessor->NumberOr("componentType", 0)) *
                           Components(type != nullptr ? type->text : "");
    const double count = accessor->NumberOr("count", 0);
    const std::string label = "accessor " + id + " (" + Count(count) + " elements)";
    if (element == 0) continue;  // the library names what it does not know
    if (!(count >= 0)) return label + " has a negative count";
    const Json* viewId = accessor->Get("bufferView");
    if (viewId == nullptr) {
      if (count * element > zeros) return label + " declares more zeros than the importer fills in";
    } else {
      const auto view = viewBytes.find(IdOf(viewId));
      if (view == viewBytes.end()) return label + " names no buffer view of the file";
      const double stride = view->second.second > 0 ? view->second.second : element;
      const double offset = accessor->NumberOr("byteOffset", 0);
      if (count > 0 && !(offset >= 0 && offset + stride * (count - 1) + element <= view->second.first)) {
        return label + " reaches past the end of its buffer view";
      }
    }
    if (const Json* sparse = accessor->Get("sparse")) {
      const double changed = sparse->NumberOr("count", 0);
      if (!(changed >= 0 && changed <= count)) return label + " changes more elements than it has";
      for (const char* part : {"indices", "values"}) {
        const Json* p = sparse->Get(part);
        if (p == nullptr) continue;
        const auto view = viewBytes.find(IdOf(p->Get("bufferView")));
        const double size = std::strcmp(part, "values") == 0 ? element : ComponentBytes(p->NumberOr("componentType", 0));
        if (view == viewBytes.end() || p->NumberOr("byteOffset", 0) + changed * size > view->second.first) {
          return label + ": its sparse " + part + " reach past their buffer view";
        }
      }
    }
  }
  return "";
}

uint32_t Word32(const std::string& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

std::string CheckGltf(const std::string& path, const std::string& bytes, bool binary) {
  size_t jsonAt = 0, jsonSize = bytes.size();
  double binaryChunk = -1;
  if (binary) {
    if (bytes.size() < 20 || bytes.compare(0, 4, "glTF") != 0) return "is not a binary glTF file (no glTF header)";
    const uint32_t version = Word32(bytes, 4), length = Word32(bytes, 8);
    if (length > bytes.size() || length < 20) {
      return "declares " + std::to_string(length) + " bytes of binary glTF where the file holds " +
             std::to_string(bytes.size());
    }
    // Both versions give the JSON's length at byte 12 and the JSON at 20:
    // 1.0 after its content format, 2.0 after the chunk's type.
    jsonSize = Word32(bytes, 12);
    jsonAt = 20;
    if (jsonSize > length - jsonAt) return "declares a JSON part longer than the file";
    const size_t rest = jsonAt + jsonSize;
    if (version == 1) {
      binaryChunk = static_cast<double>(length - rest);
    } else if (length >= rest + 8) {
      const uint32_t chunk = Word32(bytes, rest);
      if (chunk > length - rest - 8) return "declares a binary chunk longer than the file";
      binaryChunk = chunk;
    }
  }
  if (jsonSize >= 3 && bytes.compare(jsonAt, 3, "\xEF\xBB\xBF") == 0) {
    jsonAt += 3;
    jsonSize -= 3;
  }
  // What this reader cannot follow goes no further: the checks below would
  // not see it, and the library's reader would.
  Json root;
  std::string why;
  if (!JsonReader(bytes.data() + jsonAt, bytes.data() + jsonAt + jsonSize).Read(root, why)) return "cannot be read: " + why;
  if (root.kind != Json::Kind::Object) return "";
  std::string problem = CheckNodeTree(root);
  if (problem.empty()) problem = CheckGltfData(root, path, binaryChunk, static_cast<double>(bytes.size()));
  return problem;
}

// ---- OFF and PLY counts ---------------------------------------------------------

// The next whitespace-separated word after `at`, skipping "#" comments.
std::string NextWord(const std::string& bytes, size_t& at) {
  while (at < bytes.size()) {
    if (bytes[at] == '#') {
      while (at < bytes.size() && bytes[at] != '\n') ++at;
    } else if (std::isspace(static_cast<unsigned char>(bytes[at]))) {
      ++at;
    } else {
      break;
    }
  }
  const size_t first = at;
  while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
  return bytes.substr(first, at - first);
}

// A count as the file writes it; negative when it is no plain number.
double CountOf(const std::string& word) {
  if (word.empty() || word.size() > 30 || word.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::strtod(word.c_str(), nullptr);
}

// Each vertex is at least three numbers and each face a count and three
// indices, each number a character and a separator.
std::string CheckOff(const std::string& bytes) {
  size_t at = 0;
  const std::string magic = NextWord(bytes, at);
  if (Lower(magic).find("off") == std::string::npos) return "";
  const double vertices = CountOf(NextWord(bytes, at)), faces = CountOf(NextWord(bytes, at));
  if (vertices < 0 || faces < 0) return "";
  const double needed = vertices * 6 + faces * 8, present = static_cast<double>(bytes.size() - at) + 1;
  if (needed > present) {
    return "declares " + Count(vertices) + " vertices and " + Count(faces) + " faces, which need at least " +
           Count(needed) + " bytes where the file has " + Count(present);
  }
  return "";
}

double PlyTypeBytes(const std::string& type) {
  static const std::map<std::string, double> size = {
      {"char", 1},  {"uchar", 1}, {"int8", 1},   {"uint8", 1},   {"short", 2},   {"ushort", 2},
      {"int16", 2}, {"uint16", 2}, {"int", 4},   {"uint", 4},    {"int32", 4},   {"uint32", 4},
      {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
  const auto found = size.find(type);
  return found != size.end() ? found->second : 0;
}

// Every element needs its properties' bytes: their sizes in a binary file,
// a character and a separator each in text (a list at least its count).
std::string CheckPly(const std::string& bytes) {
  const size_t header = bytes.find("end_header");
  if (bytes.compare(0, 3, "ply") != 0 || header == std::string::npos) return "";
  std::istringstream lines(bytes.substr(0, header));
  bool text = true;
  double needed = 0, count = 0, each = 0;
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word, a, b;
    words >> word;
    if (word == "format") {
      words >> a;
      text = a == "ascii";
    } else if (word == "element") {
      needed += count * each;
      words >> a >> b;
      count = CountOf(b);
      each = 0;
      if (count < 0) return "";
    } else if (word == "property") {
      words >> a;
      if (a == "list") words >> a;
      const double size = PlyTypeBytes(a);
      if (size == 0) return "";
      each += text ? 2 : size;
    }
  }
  needed += count * each;
  const double present = static_cast<double>(bytes.size() - header) + 1;
  if (needed > present) {
    return "declares elements that need at least " + Count(needed) + " bytes where the file has " + Count(present);
  }
  return "";
}

// ---- OBJ material files ---------------------------------------------------------

// The library's MTL reader writes a texture statement through the material
// it is defining; before the first "newmtl" there is none and it crashes.
// Nothing but comments may come first.
std::string CheckMtl(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const std::string word = line.substr(first, line.find_first_of(" \t\r", first) - first);
    if (word == "newmtl") return "";
    return "its material file \"" + file.filename().string() + "\" says \"" + word.substr(0, 40) +
           "\" before any newmtl names a material";
  }
  return "";
}

std::string CheckObj(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.compare(first, 7, "mtllib ") != 0) continue;
    std::string name = line.substr(first + 7);
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    name.erase(0, name.find_first_not_of(" \t"));
    std::error_code error;
    const fs::path file = fs::path(path).parent_path() / name;
    if (name.empty() || !fs::is_regular_file(file, error)) continue;
    const std::string problem = CheckMtl(file);
    if (!problem.empty()) return problem;
  }
  return "";
}

}  // namespace

std::string CheckSource(const std::string& path) {
  const std::string extension = Lower(fs::path(path).extension().string());
  if (extension == ".obj") return CheckObj(path);
  if (extension != ".gltf" && extension != ".glb" && extension != ".off" && extension != ".ply") return "";
  std::ifstream in(path, std::ios::binary);
  std::stringstream read;
  read << in.rdbuf();
  const std::string bytes = read.str();
  if (extension == ".gltf" || extension == ".glb") return CheckGltf(path, bytes, extension == ".glb");
  if (extension == ".off") return CheckOff(bytes);
  return CheckPly(bytes);
}

}  // namespace KestorTools
