#include "render/Draw.h"

#include <vector>

#include <glm/geometric.hpp>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include "engine/Debug.h"
#include "engine/MathChecks.h"
#include "render/ShaderUniform.h"
#include "render/Texbit.h"
#include "sanegl/StateCache.h"

namespace KestorEngine {

std::size_t localToWorld = 0;
std::size_t worldToLocal = 0;
std::size_t localToWorldNormal = 0;

namespace Draw {

Resource<Mesh> Quad;

namespace {

std::size_t mainTex = 0;
std::size_t mainTexSize = 0;
std::size_t mainTex3DSize = 0;

}  // namespace

std::string Initialize() {
  Quad = Resources<Mesh>::Make("Quad");
  // Assigned, not appended: a second call must not double the quad.
  Quad->Vertices = {-1, 1, 0, 1, 1, 0, 1, -1, 0, -1, -1, 0};
  Quad->Faces = {0, 2, 1, 0, 3, 2};
  Quad->UV1 = {0, 1, 1, 1, 1, 0, 0, 0};
  Quad->HasUV1 = true;
  Debug::Log("GONNA SNET");
  // The quad claims one submesh; give it its range so that drawing submesh 0
  // of it draws the quad rather than nothing.
  Quad->SubmeshCount = 1;
  Quad->SubmeshStarts = {0};
  Quad->SubmeshCounts = {6};
  Quad->ToGPU();
  Debug::Log("I SNET");

  localToWorld = HashName("_LocalToWorld");
  worldToLocal = HashName("_WorldToLocal");
  localToWorldNormal = HashName("_LocalToWorldNormal");
  mainTex = HashName("_MainTex");
  mainTexSize = HashName("_MainTex_Size");
  mainTex3DSize = HashName("_MainTex3D_Size");
  return "";
}

// Cofactors: the rows of the inverse are the cross products of the block's
// columns over the determinant, so the normal matrix (the inverse's
// transpose) has those cross products as its columns.
InverseMatrices AffineInverse(const glm::mat4& m) {
  const glm::vec3 c0(m[0]), c1(m[1]), c2(m[2]);
  const glm::mat3 cofactors(glm::cross(c1, c2), glm::cross(c2, c0), glm::cross(c0, c1));
  const float det = glm::dot(c0, cofactors[0]);

  glm::mat3 normal = cofactors * (1.0f / det);
  if (!AllFinite(normal)) normal = cofactors;

  InverseMatrices result;
  result.Normal = normal;
  const glm::mat3 inverse = glm::transpose(normal);
  result.WorldToLocal = glm::mat4(inverse);
  result.WorldToLocal[3] = glm::vec4(-(inverse * glm::vec3(m[3])), 1.0f);
  return result;
}

void DrawMesh(Resource<Mesh> mesh, glm::mat4 M, int submesh) {
  if (!mesh) return;
  const InverseMatrices inverse = AffineInverse(M);
  SaneGL::SetMatrix4(localToWorld, M);
  SaneGL::SetMatrix4(worldToLocal, inverse.WorldToLocal);
  SaneGL::SetMatrix3(localToWorldNormal, inverse.Normal);
  // -1 and below all mean the whole mesh.
  mesh->Draw(submesh < 0 ? 0u : static_cast<unsigned>(submesh) + 1u);
}

void DrawMesh(Resource<Mesh> mesh) { DrawMesh(std::move(mesh), glm::mat4(1.0f), -1); }

void DrawMesh(Resource<Mesh> mesh, Resource<Shader> shader) {
  DrawMesh(std::move(mesh), glm::mat4(1.0f), std::move(shader));
}

void DrawMesh(Resource<Mesh> mesh, glm::mat4 M, Resource<Shader> shader) {
  if (shader) {
    std::vector<UniformBuffer*> none;
    shader->Use(&none);
  }
  DrawMesh(std::move(mesh), M, -1);
}

void Blit(Texbit* t) {
  if (t == nullptr || !Quad) return;
  SaneGL::SetTexture(mainTex, t->GetCurrentBind());
  const float width = static_cast<float>(t->Width);
  const float height = static_cast<float>(t->Height);
  SaneGL::SetVector(mainTexSize, glm::vec4(width, height, 1.0f / width, 1.0f / height));
  if (t->Depth > 0) {
    const float depth = static_cast<float>(t->Depth);
    SaneGL::SetVector(mainTex3DSize, glm::vec2(depth, depth));
  }
  Quad->Draw(0);
}

void Blit() { DrawMesh(Quad); }

}  // namespace Draw

}  // namespace KestorEngine
