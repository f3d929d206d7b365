// The curtain as the renderer draws it: its surface mesh, refreshed each
// frame from the cloth module's particles, and the frame that drives it.
#include "renderer/Curtain.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include <glm/common.hpp>
#include <glm/geometric.hpp>

#include "engine/Debug.h"
#include "gui/IMGUI.h"
#include "render/Mesh.h"
#include "render/Texbit.h"
#include "sanegl/GL.h"
#include "sanegl/Objects.h"
#include "scene/InputSystem.h"

namespace KestorEngine {

using namespace ClothConstants;
using namespace CurtainConstants;

namespace {

constexpr std::uint32_t CurtainParticles = Strands * StrandParticles;

// What the surface showed last frame (its motion vectors start there), and
// the stream that carries it to the shader.
struct Shown {
  std::vector<glm::vec3> Positions;
  SaneGL::Buffer PastPositions;
};

Shown& LastShown() {
  static Shown* shown = new Shown();
  return *shown;
}

}  // namespace

Resource<Mesh>& ParticlesDisplay() {
  static Resource<Mesh>* display = new Resource<Mesh>();
  return *display;
}

Resource<Mesh>* CurtainSurface() {
  Resource<Mesh>& display = ParticlesDisplay();
  return display && Particles().Count != 0 ? &display : nullptr;
}

void ResetCurtainDisplay() {
  ParticlesDisplay() = Resource<Mesh>();
  LastShown().Positions.clear();
}

void CreateCollisionStructureFromVoxels(Texbit* volume, const glm::mat4& localToWorld) {
  if (volume == nullptr || volume->Width <= 0 || volume->Height <= 0 || volume->Depth <= 0) {
    CreateCollisionStructureFromTexels(nullptr, glm::ivec3(0), localToWorld);
    return;
  }
  const glm::ivec3 size(volume->Width, volume->Height, volume->Depth);
  std::vector<float> texels(static_cast<std::size_t>(size.x) * size.y * size.z);
  volume->ToGPU();
  // ToGPU leaves the unit alone when the texture already holds one, so
  // select and bind explicitly before reading back.
  glActiveTexture(Texbit::GetBindEnum(volume->CurrentBind));
  Debug::_CheckGLError("RELEASE", __LINE__);
  glBindTexture(GL_TEXTURE_3D, volume->ID);
  Debug::_CheckGLError("RELEASE", __LINE__);
  glGetTexImage(GL_TEXTURE_3D, 0, GL_RED, GL_FLOAT, texels.data());
  Debug::_CheckGLError("RELEASE", __LINE__);
  CreateCollisionStructureFromTexels(texels.data(), size, localToWorld);
}

namespace {

// The grid's triangles over the positions shown, with each particle's
// normal summed from them; a triangle stretched past TearStretch is left
// out.
void Triangulate(const std::vector<glm::vec3>& now, std::vector<std::uint32_t>& faces,
                 std::vector<glm::vec3>& normals) {
  normals.assign(CurtainParticles, glm::vec3(0.0f));
  faces.clear();
  const float tear = TearStretch * TearStretch * Spacing * Spacing;
  // Corners wound so that the face normal of the fresh curtain points at -y,
  // the street side the demo's camera starts on.
  auto triangle = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, int diagonal) {
    const glm::vec3 edges[3] = {now[b] - now[a], now[c] - now[b], now[a] - now[c]};
    for (int k = 0; k < 3; ++k) {
      // The diagonal's rest length is sqrt(2) Spacing.
      if (glm::dot(edges[k], edges[k]) > (k == diagonal ? 2.0f * tear : tear)) return;
    }
    const glm::vec3 n = glm::cross(edges[0], -edges[2]);
    normals[a] += n;
    normals[b] += n;
    normals[c] += n;
    faces.insert(faces.end(), {a, b, c});
  };
  for (int i = 0; i + 1 < Strands; ++i) {
    for (int j = 0; j + 1 < StrandParticles; ++j) {
      const std::uint32_t a = StrandParticles * i + j;  // (i, j)
      const std::uint32_t b = a + StrandParticles;      // (i + 1, j)
      const std::uint32_t c = a + 1;                    // (i, j + 1)
      const std::uint32_t d = b + 1;                    // (i + 1, j + 1)
      // Diagonals alternate so the folds have no grain.
      if (((i + j) & 1) == 0) {
        triangle(a, b, c, 1);
        triangle(b, d, c, 2);
      } else {
        triangle(a, b, d, 2);
        triangle(a, d, c, 0);
      }
    }
  }
}

void FillVertices(Mesh& mesh, const std::vector<glm::vec3>& now, const std::vector<glm::vec3>& normals) {
  mesh.Vertices.resize(3 * static_cast<std::size_t>(CurtainParticles));
  mesh.Normals.resize(3 * static_cast<std::size_t>(CurtainParticles));
  mesh.UV1.resize(2 * static_cast<std::size_t>(CurtainParticles));
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) {
    const float length = glm::length(normals[v]);
    // A particle torn loose from every triangle is not drawn; any unit
    // normal will do.
    const glm::vec3 n = length > 0.0f ? normals[v] / length : glm::vec3(0.0f, -1.0f, 0.0f);
    for (int k = 0; k < 3; ++k) {
      mesh.Vertices[3 * static_cast<std::size_t>(v) + k] = now[v][k];
      mesh.Normals[3 * static_cast<std::size_t>(v) + k] = n[k];
    }
    // Metres along the fabric: across the strands, then down them.
    mesh.UV1[2 * static_cast<std::size_t>(v)] = Spacing * static_cast<float>(v / StrandParticles);
    mesh.UV1[2 * static_cast<std::size_t>(v) + 1] = Spacing * static_cast<float>(v % StrandParticles);
  }
  mesh.Topology = 2;
  mesh.HasNormals = true;
  mesh.HasUV1 = true;
}

// The past positions ride in a stream of their own beside the mesh's.
void BindPastPositions(Mesh& mesh, Shown& shown) {
  if (shown.PastPositions.Empty()) shown.PastPositions = SaneGL::Buffer::Create(SaneGL::BufferType::ArrayBuffer);
  shown.PastPositions.BufferData(static_cast<unsigned>(shown.Positions.size() * sizeof(glm::vec3)),
                                 shown.Positions.data(), SaneGL::BufferUsage::StreamDraw);
  mesh.VertexArray.VertexAttribPointer(shown.PastPositions, PastPositionAttribute, 3, SaneGL::DataType::Float,
                                       false, 0, nullptr);
  mesh.VertexArray.EnableVertexAttribArray(PastPositionAttribute);
}

}  // namespace

void UpdateParticlesDisplay(float alpha) {
  Resource<Mesh>& display = ParticlesDisplay();
  if (!display) return;
  const ParticleArrays& P = Particles();
  ClothState& state = Cloth();
  Shown& shown = LastShown();
  const std::uint32_t first = state.curtainFirst;
  if (first + CurtainParticles > P.Count) return;
  if (state.stepStart.size() != CurtainParticles) {
    state.stepStart.assign(P.Position.begin() + first, P.Position.begin() + first + CurtainParticles);
  }
  if (shown.Positions.size() != CurtainParticles) shown.Positions = state.stepStart;

  const float t = glm::clamp(alpha, 0.0f, 1.0f);
  std::vector<glm::vec3> now(CurtainParticles);
  for (std::uint32_t v = 0; v < CurtainParticles; ++v) now[v] = glm::mix(state.stepStart[v], P.Position[first + v], t);
  std::vector<glm::vec3> normals;
  Mesh& mesh = *display;
  Triangulate(now, mesh.Faces, normals);
  FillVertices(mesh, now, normals);
  mesh.ToGPU();
  BindPastPositions(mesh, shown);
  shown.Positions = std::move(now);
}

void ClothFrame(const Uint8* keys, float now, const glm::vec3& cameraPosition, Texbit* skipVolume,
                const glm::mat4& fieldLocalToWorld) {
  // A hotkey acts in every frame it is held and in the frame of a tap too
  // short to be seen held; typed into a panel field, it is text.
  const bool typing = IMGUI::CurrentlyPreoccupied();
  auto held = [keys, typing](int scancode) {
    return !typing && InputSystem::PressedThisFrame(static_cast<SDL_Scancode>(scancode), keys);
  };
  const ClothCommands commands{held(KeyDelete), held(KeyBreak), held(KeyCreate), held(KeyDetach)};
  if (ApplyClothCommands(commands, cameraPosition)) {
    ParticlesDisplay() = Resources<Mesh>::Make("particlesDisplay");
    // The new curtain's first frame moves from where it was made.
    LastShown().Positions = Cloth().stepStart;
    if (!Cloth().staticonce) {
      ResetStaticCollisionGrid();
      CreateCollisionStructureFromVoxels(skipVolume, fieldLocalToWorld);
      Cloth().staticonce = true;
    }
  }
  if (AdvanceCloth(now, cameraPosition)) UpdateParticlesDisplay(Cloth().owed / FixedStep);
}

}  // namespace KestorEngine
