#include "MeshBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <type_traits>

#include <glm/geometric.hpp>

namespace KestorTools {

namespace {

constexpr float Pi = 3.14159265358979f;

glm::vec3 At(const std::vector<float>& list, uint32_t index) {
  return glm::vec3(list[3 * index], list[3 * index + 1], list[3 * index + 2]);
}

std::string Number(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(value));
  std::string result = text;
  while (result.back() == '0') result.pop_back();
  if (result.back() == '.') result.pop_back();
  return result == "-0" ? "0" : result;
}

template <typename T>
std::string Join(const std::vector<T>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ',';
    if constexpr (std::is_floating_point_v<T>) {
      text += Number(values[i]);
    } else {
      text += std::to_string(values[i]);
    }
  }
  return text;
}

}  // namespace

void MeshBuilder::Submesh(int index) {
  current = static_cast<size_t>(std::max(index, 0));
  if (submeshes.size() <= current) submeshes.resize(current + 1);
}

MeshLists MeshBuilder::Lists() const {
  MeshLists out = lists;
  for (const std::vector<uint32_t>& faces : submeshes) {
    out.Faces.insert(out.Faces.end(), faces.begin(), faces.end());
    out.SubmeshSizes.push_back(static_cast<uint32_t>(faces.size()));
  }
  if (out.SubmeshSizes.size() == 1) out.SubmeshSizes.clear();
  return out;
}

uint32_t MeshBuilder::Vertex(glm::vec3 position, glm::vec3 normal, glm::vec2 uv) {
  const uint32_t index = static_cast<uint32_t>(lists.Vertices.size() / 3);
  const glm::vec3 n = glm::normalize(normal);
  lists.Vertices.insert(lists.Vertices.end(), {position.x, position.y, position.z});
  lists.Normals.insert(lists.Normals.end(), {n.x, n.y, n.z});
  lists.UV1.insert(lists.UV1.end(), {uv.x, uv.y});
  return index;
}

void MeshBuilder::Triangle(uint32_t a, uint32_t b, uint32_t c) {
  const glm::vec3 pa = At(lists.Vertices, a);
  const glm::vec3 area = glm::cross(At(lists.Vertices, b) - pa, At(lists.Vertices, c) - pa);
  if (glm::length(area) < 1e-9f) return;
  submeshes[current].insert(submeshes[current].end(), {a, b, c});
}

void MeshBuilder::Polygon(const std::vector<glm::vec3>& corners, glm::vec3 normal) {
  if (corners.size() < 3) return;
  const glm::vec3 n = glm::normalize(normal);
  std::vector<glm::vec3> ordered = corners;
  if (glm::dot(glm::cross(ordered[1] - ordered[0], ordered[2] - ordered[0]), n) < 0.0f) {
    std::reverse(ordered.begin(), ordered.end());
  }
  const glm::vec3 u = glm::normalize(ordered[1] - ordered[0]);
  const glm::vec3 v = glm::cross(n, u);
  std::vector<uint32_t> indices;
  for (const glm::vec3& p : ordered) {
    indices.push_back(Vertex(p, n, glm::vec2(glm::dot(p - ordered[0], u), glm::dot(p - ordered[0], v))));
  }
  for (size_t i = 1; i + 1 < indices.size(); ++i) Triangle(indices[0], indices[i], indices[i + 1]);
}

void MeshBuilder::TwoSidedPolygon(const std::vector<glm::vec3>& corners, glm::vec3 normal,
                                  float thickness) {
  // The passes draw without culling: two faces in one plane would fight
  // over the depth buffer, so each side sits half the thickness out.
  const glm::vec3 offset = glm::normalize(normal) * (0.5f * thickness);
  std::vector<glm::vec3> front, back;
  for (const glm::vec3& p : corners) {
    front.push_back(p + offset);
    back.push_back(p - offset);
  }
  Polygon(front, normal);
  Polygon(back, -normal);
}

void MeshBuilder::OrientedBox(glm::vec3 centre, glm::vec3 a, glm::vec3 b, glm::vec3 c) {
  // A box is symmetric about its centre: flipping one half-edge keeps the
  // same solid and makes the axes right-handed.
  if (glm::dot(glm::cross(a, b), c) < 0.0f) c = -c;
  const glm::vec3 axes[3] = {a, b, c};
  for (int i = 0; i < 3; ++i) {
    const glm::vec3 j = axes[(i + 1) % 3];
    const glm::vec3 k = axes[(i + 2) % 3];
    for (float side : {1.0f, -1.0f}) {
      const glm::vec3 face = centre + side * axes[i];
      Polygon({face - j - k, face + j - k, face + j + k, face - j + k}, side * axes[i]);
    }
  }
}

void MeshBuilder::Box(glm::vec3 low, glm::vec3 high) {
  const glm::vec3 half = 0.5f * (high - low);
  OrientedBox(0.5f * (low + high), glm::vec3(half.x, 0, 0), glm::vec3(0, half.y, 0),
              glm::vec3(0, 0, half.z));
}

void MeshBuilder::Beam(glm::vec3 from, glm::vec3 to, glm::vec3 across, float width, float depth) {
  const glm::vec3 half = 0.5f * (to - from);
  const glm::vec3 along = glm::normalize(half);
  const glm::vec3 side = glm::normalize(across - along * glm::dot(across, along));
  const glm::vec3 third = glm::normalize(glm::cross(along, side));
  OrientedBox(from + half, half, side * (0.5f * width), third * (0.5f * depth));
}

void MeshBuilder::Lathe(glm::vec3 base, const std::vector<ProfilePoint>& profile, int segments,
                        bool inward) {
  if (profile.size() < 2 || segments < 3) return;
  // Texture v runs along the profile in metres, u once around.
  std::vector<float> along(profile.size(), 0.0f);
  for (size_t i = 1; i < profile.size(); ++i) {
    along[i] = along[i - 1] + std::hypot(profile[i].Radius - profile[i - 1].Radius,
                                         profile[i].Height - profile[i - 1].Height);
  }
  const uint32_t first = static_cast<uint32_t>(lists.Vertices.size() / 3);
  const uint32_t row = static_cast<uint32_t>(segments + 1);
  for (size_t i = 0; i < profile.size(); ++i) {
    for (int j = 0; j <= segments; ++j) {
      const float angle = 2.0f * Pi * static_cast<float>(j) / static_cast<float>(segments);
      const glm::vec3 radial(std::cos(angle), std::sin(angle), 0.0f);
      glm::vec3 normal = radial * profile[i].Normal.x + glm::vec3(0, 0, profile[i].Normal.y);
      if (inward) normal = -normal;
      Vertex(base + radial * profile[i].Radius + glm::vec3(0, 0, profile[i].Height), normal,
             glm::vec2(static_cast<float>(j) / static_cast<float>(segments), along[i]));
    }
  }
  for (uint32_t i = 0; i + 1 < profile.size(); ++i) {
    for (uint32_t j = 0; j < static_cast<uint32_t>(segments); ++j) {
      const uint32_t a = first + i * row + j, b = a + 1, c = b + row, d = a + row;
      if (inward) {
        Triangle(a, c, b);
        Triangle(a, d, c);
      } else {
        Triangle(a, b, c);
        Triangle(a, c, d);
      }
    }
  }
}

void MeshBuilder::SmoothLathe(glm::vec3 base, const std::vector<glm::vec2>& radiusHeight,
                              int segments, bool inward) {
  std::vector<ProfilePoint> profile;
  for (size_t i = 0; i < radiusHeight.size(); ++i) {
    const glm::vec2 before = radiusHeight[i > 0 ? i - 1 : i];
    const glm::vec2 after = radiusHeight[i + 1 < radiusHeight.size() ? i + 1 : i];
    const glm::vec2 slope = after - before;
    // The right-hand side of the profile's direction faces out.
    profile.push_back({radiusHeight[i].x, radiusHeight[i].y, glm::normalize(glm::vec2(slope.y, -slope.x))});
  }
  Lathe(base, profile, segments, inward);
}

void MeshBuilder::Disc(glm::vec3 centre, float radius, int segments, bool facingUp) {
  std::vector<glm::vec3> ring;
  for (int j = 0; j < segments; ++j) {
    const float angle = 2.0f * Pi * static_cast<float>(j) / static_cast<float>(segments);
    ring.push_back(centre + radius * glm::vec3(std::cos(angle), std::sin(angle), 0.0f));
  }
  Polygon(ring, glm::vec3(0, 0, facingUp ? 1.0f : -1.0f));
}

void MeshBuilder::Cylinder(glm::vec3 base, float radius, float height, int segments, bool caps) {
  SmoothLathe(base, {{radius, 0.0f}, {radius, height}}, segments);
  if (!caps) return;
  Disc(base, radius, segments, false);
  Disc(base + glm::vec3(0, 0, height), radius, segments, true);
}

void MeshBuilder::Cone(glm::vec3 base, float radius, float height, int segments) {
  SmoothLathe(base, {{radius, 0.0f}, {0.0f, height}}, segments);
  Disc(base, radius, segments, false);
}

void MeshBuilder::Sphere(glm::vec3 centre, float radius, int rings, int segments) {
  std::vector<ProfilePoint> profile;
  for (int i = 0; i <= rings; ++i) {
    const float polar = Pi * static_cast<float>(i) / static_cast<float>(rings);
    // Exact poles: sin(pi) in floats is a hair below zero, which would turn
    // the last ring of triangles inside out.
    const bool pole = i == 0 || i == rings;
    const glm::vec2 normal(pole ? 0.0f : std::sin(polar), i == 0 ? -1.0f : i == rings ? 1.0f : -std::cos(polar));
    profile.push_back({radius * normal.x, radius * normal.y, normal});
  }
  Lathe(centre, profile, segments);
}

int CountWindingFaults(const MeshLists& mesh) {
  int faults = 0;
  for (size_t t = 0; t + 2 < mesh.Faces.size(); t += 3) {
    const uint32_t a = mesh.Faces[t], b = mesh.Faces[t + 1], c = mesh.Faces[t + 2];
    const glm::vec3 pa = At(mesh.Vertices, a);
    const glm::vec3 facing = glm::cross(At(mesh.Vertices, b) - pa, At(mesh.Vertices, c) - pa);
    const glm::vec3 normal = At(mesh.Normals, a) + At(mesh.Normals, b) + At(mesh.Normals, c);
    if (glm::dot(facing, normal) <= 0.0f) ++faults;
  }
  return faults;
}

std::string FmlText(const MeshLists& mesh) {
  std::string faces;
  std::vector<uint32_t> sizes = mesh.SubmeshSizes;
  if (sizes.empty()) sizes.push_back(static_cast<uint32_t>(mesh.Faces.size()));
  size_t start = 0;
  for (uint32_t size : sizes) {
    const auto from = mesh.Faces.begin() + static_cast<std::ptrdiff_t>(start);
    faces += "    <Faces>" + Join(std::vector<uint32_t>(from, from + size)) + "</Faces>\n";
    start += size;
  }
  std::string far;
  if (!mesh.Far.empty()) far = " Far=\"" + mesh.Far + "\" FarFrom=\"" + Join(std::vector<float>{mesh.FarFrom}) + "\"";
  return "<Mesh" + far + ">\n  <Base>\n    <Vertices>" + Join(mesh.Vertices) + "</Vertices>\n    <Normals>" +
         Join(mesh.Normals) + "</Normals>\n    <UV1>" + Join(mesh.UV1) + "</UV1>\n" + faces +
         "  </Base>\n</Mesh>\n";
}

}  // namespace KestorTools
