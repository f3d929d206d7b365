#include "render/DrawSystem.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <utility>

#include "engine/Engine.h"

namespace KestorEngine {

namespace {

using Queue = std::vector<DrawEntry>;

void Push(Queue& queue, Resource<Mesh>&& mesh, int submesh, const glm::mat4& localToWorld,
          const glm::mat4& localToWorldPast, Resource<Shader>&& shader, UniformBuffer* shared,
          UniformBuffer&& own, bool camera, bool voxel) {
  queue.emplace_back(std::move(mesh), submesh, localToWorld, localToWorldPast, std::move(shader),
                     shared, std::move(own), camera, voxel);
}

// A material handle left empty by its owner queues a request without a
// shader, which draws nothing, rather than reading through a null pointer.
Resource<Shader> ShaderOf(const Resource<Material>& material) {
  return material ? material->ShaderResource : Resource<Shader>();
}

UniformBuffer* BufferOf(const Resource<Material>& material) {
  return material ? &material->Buffer : nullptr;
}

UniformBuffer CopyOf(const Resource<Material>& material) {
  return material ? material->Buffer : UniformBuffer();
}

// A renderer's own uniforms (the retained widgets write their style there)
// travel as the entry's own buffer; dropping them would leave every widget
// drawn in its material's look whatever its state.
UniformBuffer OwnBuffer(const UniformMap& uniforms) {
  UniformBuffer own;
  own.Uniforms = uniforms;
  return own;
}

}  // namespace

// std::greater gives a total order over unrelated pointers, where the plain
// operator does not; null is the smallest address, so it sorts last.
void SortForDrawing(std::vector<DrawEntry>& queue) {
  std::unordered_map<const UniformBuffer*, size_t> firstSeen;
  for (size_t i = 0; i < queue.size(); ++i) firstSeen.emplace(std::get<5>(queue[i]), i);
  auto rank = [&](const DrawEntry& e) { return std::get<5>(e) == nullptr ? queue.size() : firstSeen[std::get<5>(e)]; };
  std::stable_sort(queue.begin(), queue.end(), [&](const DrawEntry& a, const DrawEntry& b) { return rank(a) < rank(b); });
}

void DrawSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->UpdateList[ClearSlot] = [] { return ClearCache(); };
}

std::string DrawSystem::ClearCache() {
  drawthings.clear();
  guidrawthings.clear();
  return "";
}

// ---------------------------------------------------------------------------
// Scene queue

void DrawSystem::QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Shader> shader,
                           UniformBuffer* shared) {
  Push(drawthings, std::move(mesh), submesh, localToWorld, localToWorldPast, std::move(shader),
       shared, UniformBuffer(), true, true);
}

void DrawSystem::QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Shader> shader,
                           UniformBuffer* shared, bool camera, bool voxel) {
  Push(drawthings, std::move(mesh), submesh, localToWorld, localToWorldPast, std::move(shader),
       shared, UniformBuffer(), camera, voxel);
}

void DrawSystem::QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Shader> shader,
                           UniformBuffer own) {
  Push(drawthings, std::move(mesh), submesh, localToWorld, localToWorldPast, std::move(shader),
       nullptr, std::move(own), true, true);
}

void DrawSystem::QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Shader> shader, UniformBuffer own,
                           bool camera, bool voxel) {
  Push(drawthings, std::move(mesh), submesh, localToWorld, localToWorldPast, std::move(shader),
       nullptr, std::move(own), camera, voxel);
}

void DrawSystem::QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Material> material) {
  Push(drawthings, std::move(mesh), submesh, localToWorld, localToWorldPast, ShaderOf(material),
       nullptr, CopyOf(material), true, true);
}

void DrawSystem::QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Material> material,
                           const UniformMap& uniforms) {
  Push(drawthings, std::move(mesh), submesh, localToWorld, localToWorldPast, ShaderOf(material),
       BufferOf(material), OwnBuffer(uniforms), true, true);
}

void DrawSystem::QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Material> material,
                           const UniformMap& uniforms, bool camera, bool voxel) {
  Push(drawthings, std::move(mesh), submesh, localToWorld, localToWorldPast, ShaderOf(material),
       BufferOf(material), OwnBuffer(uniforms), camera, voxel);
}

// ---------------------------------------------------------------------------
// GUI queue

void DrawSystem::QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                              glm::mat4 localToWorldPast, Resource<Shader> shader,
                              UniformBuffer* shared) {
  Push(guidrawthings, std::move(mesh), submesh, localToWorld, localToWorldPast,
       std::move(shader), shared, UniformBuffer(), true, true);
}

void DrawSystem::QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                              glm::mat4 localToWorldPast, Resource<Shader> shader,
                              UniformBuffer* shared, bool camera, bool voxel) {
  Push(guidrawthings, std::move(mesh), submesh, localToWorld, localToWorldPast,
       std::move(shader), shared, UniformBuffer(), camera, voxel);
}

void DrawSystem::QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                              glm::mat4 localToWorldPast, Resource<Shader> shader,
                              UniformBuffer own) {
  Push(guidrawthings, std::move(mesh), submesh, localToWorld, localToWorldPast,
       std::move(shader), nullptr, std::move(own), true, true);
}

void DrawSystem::QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                              glm::mat4 localToWorldPast, Resource<Shader> shader,
                              UniformBuffer own, bool camera, bool voxel) {
  Push(guidrawthings, std::move(mesh), submesh, localToWorld, localToWorldPast,
       std::move(shader), nullptr, std::move(own), camera, voxel);
}

void DrawSystem::QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                              glm::mat4 localToWorldPast, Resource<Material> material) {
  Push(guidrawthings, std::move(mesh), submesh, localToWorld, localToWorldPast,
       ShaderOf(material), nullptr, CopyOf(material), true, true);
}

void DrawSystem::QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                              glm::mat4 localToWorldPast, Resource<Material> material,
                              const UniformMap& uniforms) {
  Push(guidrawthings, std::move(mesh), submesh, localToWorld, localToWorldPast,
       ShaderOf(material), BufferOf(material), OwnBuffer(uniforms), true, true);
}

void DrawSystem::QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                              glm::mat4 localToWorldPast, Resource<Material> material,
                              const UniformMap& uniforms, bool camera, bool voxel) {
  Push(guidrawthings, std::move(mesh), submesh, localToWorld, localToWorldPast,
       ShaderOf(material), BufferOf(material), OwnBuffer(uniforms), camera, voxel);
}

}  // namespace KestorEngine
