#pragma once
// Stateless helpers that issue one draw at once: a mesh with its model
// matrices set as uniforms, or a texture blitted across the whole target with
// the shared unit quad. The caller has made the shader and target current.
#include <cstddef>
#include <string>

#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>

#include "engine/Resource.h"
#include "render/Mesh.h"
#include "render/Shader.h"

namespace KestorEngine {

class Texbit;

// Hashes of the matrix uniform names, so that a draw stages its matrices
// without hashing a name. Set by Draw::Initialize.
extern std::size_t localToWorld;
extern std::size_t worldToLocal;
extern std::size_t localToWorldNormal;

namespace Draw {

// The unit quad: (-1..1, -1..1) at z = 0, texture coordinates 0..1, one
// submesh covering both triangles. Blits use its positions as clip space.
extern Resource<Mesh> Quad;

// Builds the quad and the name hashes. Needs the GL context. Calling it again
// rebuilds the same quad. Returns the empty text.
std::string Initialize();

// World-to-local and normal matrices of a local-to-world matrix whose bottom
// row is (0, 0, 0, 1) (the bottom row of `m` is not read). A flattened
// matrix (zero scale on an axis) has no inverse; it gets the adjugate
// instead, whose normals still point the right way once normalised, so no
// NaN reaches the shaders and from there the temporal history.
struct InverseMatrices {
  glm::mat4 WorldToLocal{1.0f};
  glm::mat3 Normal{1.0f};  // transpose of the inverted 3 x 3 block
};
InverseMatrices AffineInverse(const glm::mat4& m);

// Stages "_LocalToWorld", "_WorldToLocal" and "_LocalToWorldNormal" for the
// current program, then draws: submesh -1 is the whole mesh, k >= 0 the
// mesh's submesh k. An empty handle draws nothing.
void DrawMesh(Resource<Mesh> mesh, glm::mat4 M, int submesh);
void DrawMesh(Resource<Mesh> mesh);
// These first make the shader's default pass current, with no buffers.
void DrawMesh(Resource<Mesh> mesh, Resource<Shader> shader);
void DrawMesh(Resource<Mesh> mesh, glm::mat4 M, Resource<Shader> shader);

// Draws the quad with `t` as "_MainTex" (binding it to a unit if needed),
// its size as "_MainTex_Size" and, for a volume, its slice count as
// "_MainTex3D_Size". No matrices are set. A null texture draws nothing.
void Blit(Texbit* t);
// The quad with identity matrices and no texture uniforms.
void Blit();

}  // namespace Draw

}  // namespace KestorEngine
