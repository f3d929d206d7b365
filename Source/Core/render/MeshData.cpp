#include "render/MeshData.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include <glm/common.hpp>
#include <glm/geometric.hpp>

#include "engine/Debug.h"
#include "engine/TextHelpers.h"

namespace KestorEngine {

namespace {

const char* TextOf(const tinyxml2::XMLElement* element) {
  const char* text = element->GetText();
  return text != nullptr ? text : "";
}

void Report(const std::string& path, const std::string& problem) {
  Debug::Log(path + ": " + problem + ", the mesh stays empty\n");
}

// The far mesh is an economy: a bad distance drops it, not the mesh.
void ReadFarMesh(const std::string& path, const tinyxml2::XMLElement& mesh, MeshLists& read) {
  const char* far = mesh.Attribute("Far");
  if (far == nullptr) return;
  const float from = mesh.FloatAttribute("FarFrom", 0.0f);
  if (std::isfinite(from) && from > 0.0f && *far != '\0') {
    read.Far = far;
    read.FarFrom = from;
  } else {
    // Not Report: the mesh itself is kept.
    Debug::Log(path + ": \"Far\" needs a \"FarFrom\" distance above 0 and a name; drawn as it is at every distance\n");
  }
}

}  // namespace

bool ReadMeshFile(const std::string& path, MeshLists& out) {
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
    std::string reason = document.ErrorName();
    if (document.ErrorLineNum() > 0) reason += " at line " + std::to_string(document.ErrorLineNum());
    Report(path, "cannot read the mesh (" + reason + ")");
    return false;
  }
  const tinyxml2::XMLElement* mesh = document.FirstChildElement("Mesh");
  if (mesh == nullptr) {
    Report(path, "no \"Mesh\" element");
    return false;
  }
  const tinyxml2::XMLElement* base = mesh->FirstChildElement("Base");
  if (base == nullptr) {
    Report(path, "no \"Base\" element in \"Mesh\"");
    return false;
  }
  const tinyxml2::XMLElement* vertices = base->FirstChildElement("Vertices");
  const tinyxml2::XMLElement* faces = base->FirstChildElement("Faces");
  const tinyxml2::XMLElement* uv1 = base->FirstChildElement("UV1");
  const tinyxml2::XMLElement* normals = base->FirstChildElement("Normals");
  for (auto [element, name] : {std::pair{vertices, "Vertices"}, {faces, "Faces"}, {uv1, "UV1"}}) {
    if (element == nullptr) {
      Report(path, std::string("no \"") + name + "\" element in \"Base\"");
      return false;
    }
  }

  MeshLists read;
  auto numbers = [&](const tinyxml2::XMLElement* element, const char* name, auto& list) {
    bool ok = false;
    if constexpr (std::is_same_v<std::decay_t<decltype(list)>, std::vector<float>>) {
      ok = TrySplitToFloat(TextOf(element), list);
    } else {
      ok = TrySplitToUint(TextOf(element), list);
    }
    if (!ok) {
      Report(path, std::string("\"") + name + "\" (line " + std::to_string(element->GetLineNum()) +
                       ") holds a piece that is not a number");
    }
    return ok;
  };
  if (!numbers(vertices, "Vertices", read.Vertices) || !numbers(uv1, "UV1", read.UV1)) return false;
  for (const tinyxml2::XMLElement* list = faces; list != nullptr; list = list->NextSiblingElement("Faces")) {
    std::vector<uint32_t> indices;
    if (!numbers(list, "Faces", indices)) return false;
    if (indices.size() % 3 != 0) {
      Report(path, "\"Faces\" (line " + std::to_string(list->GetLineNum()) + ") holds " +
                       std::to_string(indices.size()) + " indices, not whole triangles");
      return false;
    }
    read.Faces.insert(read.Faces.end(), indices.begin(), indices.end());
    read.SubmeshSizes.push_back(static_cast<uint32_t>(indices.size()));
  }
  if (read.SubmeshSizes.size() == 1) read.SubmeshSizes.clear();
  read.HasUV1 = true;
  ReadFarMesh(path, *mesh, read);
  if (normals != nullptr) {
    if (!numbers(normals, "Normals", read.Normals)) return false;
    read.HasNormals = true;
  }

  const std::string problem = CheckMeshLists(read.Vertices, read.Faces,
                                             read.HasNormals ? &read.Normals : nullptr, &read.UV1);
  if (!problem.empty()) {
    Report(path, problem);
    return false;
  }
  out = std::move(read);
  return true;
}

std::string CheckMeshLists(const std::vector<float>& vertices, const std::vector<uint32_t>& faces,
                           const std::vector<float>* normals, const std::vector<float>* uv1) {
  const size_t count = vertices.size() / 3;
  if (normals != nullptr && normals->size() < count * 3) {
    return std::to_string(normals->size()) + " normal floats for " + std::to_string(count) +
           " vertices (3 each)";
  }
  if (uv1 != nullptr && uv1->size() < count * 2) {
    return std::to_string(uv1->size()) + " texture coordinate floats for " +
           std::to_string(count) + " vertices (2 each)";
  }
  // NaN or infinity would reach the rasteriser and the voxeliser as is.
  for (const std::vector<float>* list : {&vertices, normals, uv1}) {
    if (list == nullptr) continue;
    auto bad = std::find_if(list->begin(), list->end(), [](float v) { return !std::isfinite(v); });
    if (bad != list->end()) {
      return std::string(list == &vertices ? "vertex" : list == normals ? "normal" : "texture coordinate") +
             " float " + std::to_string(bad - list->begin()) + " is not a finite number";
    }
  }
  auto beyond = std::find_if(faces.begin(), faces.end(), [count](uint32_t i) { return i >= count; });
  if (beyond != faces.end()) {
    return "face index " + std::to_string(*beyond) + " (entry " +
           std::to_string(beyond - faces.begin()) + ") is past the last of " +
           std::to_string(count) + " vertices";
  }
  return "";
}

VertexLayout MeshVertexLayout(bool hasNormals, bool hasUV1) {
  VertexLayout layout;
  if (hasNormals) {
    layout.NormalOffset = layout.Stride;
    layout.Stride += 3;
  }
  if (hasUV1) {
    layout.UVOffset = layout.Stride;
    layout.Stride += 2;
  }
  return layout;
}

void InterleaveVertices(const VertexLayout& layout, size_t vertexCount,
                        const std::vector<float>& vertices, const std::vector<float>& normals,
                        const std::vector<float>& uv1, std::vector<float>& out) {
  const size_t stride = static_cast<size_t>(layout.Stride);
  out.assign(vertexCount * stride, 0.0f);
  for (size_t i = 0; i < vertexCount; ++i) {
    float* vertex = out.data() + i * stride;
    std::copy_n(vertices.data() + i * 3, 3, vertex);
    if (layout.NormalOffset >= 0) std::copy_n(normals.data() + i * 3, 3, vertex + layout.NormalOffset);
    if (layout.UVOffset >= 0) std::copy_n(uv1.data() + i * 2, 2, vertex + layout.UVOffset);
  }
}

bool FrontsFollowNormals(const std::vector<float>& vertices, const std::vector<uint32_t>& faces,
                         const std::vector<float>& normals) {
  if (faces.empty() || normals.size() < vertices.size()) return false;
  auto at = [](const std::vector<float>& list, uint32_t i) {
    return glm::vec3(list[3 * i], list[3 * i + 1], list[3 * i + 2]);
  };
  const size_t count = vertices.size() / 3;
  for (size_t t = 0; t + 2 < faces.size(); t += 3) {
    const uint32_t a = faces[t], b = faces[t + 1], c = faces[t + 2];
    if (a >= count || b >= count || c >= count) return false;
    const glm::vec3 pa = at(vertices, a);
    const glm::vec3 facing = glm::cross(at(vertices, b) - pa, at(vertices, c) - pa);
    if (facing == glm::vec3(0.0f)) continue;
    const glm::vec3 normal = at(normals, a) + at(normals, b) + at(normals, c);
    if (!(glm::dot(facing, normal) > 0.0f)) return false;
  }
  return true;
}

void ComputeBounds(const std::vector<float>& vertices, size_t vertexCount, glm::vec3& boundsMin,
                   glm::vec3& boundsMax) {
  boundsMin = glm::vec3(10000.0f);
  boundsMax = glm::vec3(-10000.0f);
  for (size_t i = 0; i < vertexCount; ++i) {
    glm::vec3 position(vertices[i * 3], vertices[i * 3 + 1], vertices[i * 3 + 2]);
    boundsMin = glm::min(boundsMin, position);
    boundsMax = glm::max(boundsMax, position);
  }
}

}  // namespace KestorEngine
