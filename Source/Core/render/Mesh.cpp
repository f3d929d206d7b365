#include "render/Mesh.h"

#include <algorithm>
#include <iostream>

#include "engine/Debug.h"
#include "engine/File.h"
#include "engine/Resource.h"
#include "render/MeshData.h"
#include "render/ShaderVariant.h"

namespace KestorEngine {

namespace {

const void* ByteOffset(size_t bytes) { return reinterpret_cast<const void*>(bytes); }

}  // namespace

Mesh::Mesh() { CreateGLObjects(); }

Mesh::Mesh(std::string name) {
  CreateGLObjects();
  if (name.empty()) {
    ToGPU();
    return;
  }
  path = File::Find("Meshes", name + ".fml");
  Debug::Log("Loading Mesh: " + path);
  std::cout << "blerg";
  std::cout.flush();

  MeshLists lists;
  if (!ReadMeshFile(path, lists)) return;
  Vertices = std::move(lists.Vertices);
  Faces = std::move(lists.Faces);
  // Several index lists make submeshes 1..n; a single list stays submesh 0
  // alone, as file meshes always were.
  uint32_t start = 0;
  for (uint32_t size : lists.SubmeshSizes) {
    SubmeshStarts.push_back(start);
    SubmeshCounts.push_back(static_cast<int32_t>(size));
    start += size;
  }
  SubmeshCount = static_cast<uint32_t>(lists.SubmeshSizes.size());
  UV1 = std::move(lists.UV1);
  HasUV1 = lists.HasUV1;
  if (lists.HasNormals) {
    HasNormals = true;
    Normals = std::move(lists.Normals);
  }
  FarName = lists.Far;
  FarFrom = lists.FarFrom;
  std::cout << "VerticesAboutToBeUploaded:" << Vertices.size() << "\n";
  ToGPU();
  std::cout << "Uploaded :D\n";
}

Mesh::~Mesh() {
  // Vertex array first: it holds the index buffer as its element buffer.
  VertexArray = SaneGL::VertexArray();
  IndexBuffer = SaneGL::Buffer();
  VertexBuffer = SaneGL::Buffer();
}

Resource<Mesh> Mesh::FarSeenFrom(float distance) {
  if (FarName.empty() || !(distance >= FarFrom)) return Resource<Mesh>();
  if (!farLooked) {
    farLooked = true;
    far = Resources<Mesh>::Get(FarName);
    // A far mesh is one step: its own far mesh, or this one again, would
    // chain or hold itself alive.
    if (far && (far.Object() == this || !far->FarName.empty())) far = Resource<Mesh>();
  }
  if (!far || far->SubmeshCount != SubmeshCount || far->Faces.empty()) return Resource<Mesh>();
  return far;
}

void Mesh::CreateGLObjects() {
  VertexBuffer = SaneGL::Buffer::Create(SaneGL::BufferType::ArrayBuffer);
  IndexBuffer = SaneGL::Buffer::Create(SaneGL::BufferType::ElementArrayBuffer);
  VertexArray = SaneGL::VertexArray::Create();
}

int Mesh::ToGPU() {
  if ((Vertices.empty() || Faces.size() % 3 != 0) && Topology != 0) return 0;

  const size_t vertexCount = Vertices.size() / 3;
  std::string problem = CheckMeshLists(Vertices, Faces, HasNormals ? &Normals : nullptr,
                                       HasUV1 ? &UV1 : nullptr);
  if (!problem.empty()) {
    // GL would read past the lists (or the shader past the vertices).
    Debug::Log((path.empty() ? std::string("Mesh") : path) + ": " + problem +
               ", not uploaded\n");
    return 0;
  }

  ComputeBounds(Vertices, vertexCount, BoundsMin, BoundsMax);
  OneSided = Topology != 0 && HasNormals && FrontsFollowNormals(Vertices, Faces, Normals);
  const VertexLayout layout = MeshVertexLayout(HasNormals, HasUV1);
  const std::vector<float>* stream = &Vertices;
  if (HasNormals || HasUV1) {
    InterleaveVertices(layout, vertexCount, Vertices, Normals, UV1, Interleaved);
    stream = &Interleaved;
  }

  VertexBuffer.BufferData(static_cast<unsigned>(stream->size() * sizeof(float)), stream->data(),
                          SaneGL::BufferUsage::StaticDraw);
  IndexBuffer.BufferData(static_cast<unsigned>(Faces.size() * sizeof(uint32_t)), Faces.data(),
                         SaneGL::BufferUsage::StaticDraw);
  VertexArray.BindElementArray(IndexBuffer);
  uploadedIndices = Faces.size();

  const int strideBytes = layout.Stride * static_cast<int>(sizeof(float));
  VertexArray.VertexAttribPointer(VertexBuffer, ShaderVariant::PositionAttribute, 3,
                                  SaneGL::DataType::Float, false, strideBytes, ByteOffset(0));
  VertexArray.EnableVertexAttribArray(ShaderVariant::PositionAttribute);
  if (HasNormals) {
    VertexArray.VertexAttribPointer(VertexBuffer, ShaderVariant::NormalAttribute, 3,
                                    SaneGL::DataType::Float, false, strideBytes,
                                    ByteOffset(layout.NormalOffset * sizeof(float)));
    VertexArray.EnableVertexAttribArray(ShaderVariant::NormalAttribute);
    Debug::_CheckGLError("RELEASE", __LINE__);
  }
  if (HasUV1) {
    VertexArray.VertexAttribPointer(VertexBuffer, ShaderVariant::UVAttribute, 2,
                                    SaneGL::DataType::Float, false, strideBytes,
                                    ByteOffset(layout.UVOffset * sizeof(float)));
    VertexArray.EnableVertexAttribArray(ShaderVariant::UVAttribute);
    Debug::_CheckGLError("RELEASE", __LINE__);
  }
  return 1;
}

void Mesh::Draw(unsigned submesh) {
  size_t first = 0;
  size_t count = Faces.size();
  if (submesh > 0) {
    if (submesh > SubmeshCount || submesh > SubmeshStarts.size() ||
        submesh > SubmeshCounts.size() || SubmeshCounts[submesh - 1] <= 0) {
      return;
    }
    first = SubmeshStarts[submesh - 1];
    count = static_cast<size_t>(SubmeshCounts[submesh - 1]);
  }
  if (first >= uploadedIndices) return;
  count = std::min(count, uploadedIndices - first);
  if (count == 0) return;
  const SaneGL::PrimitiveModes mode =
      Topology == 0 ? SaneGL::PrimitiveModes::Points : SaneGL::PrimitiveModes::Triangles;
  VertexArray.DrawElements(mode, static_cast<int>(count), SaneGL::DataType::UnsignedInt,
                           ByteOffset(first * sizeof(uint32_t)));
}

}  // namespace KestorEngine
