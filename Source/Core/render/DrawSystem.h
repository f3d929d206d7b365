#pragma once
// The per-frame draw queues. Systems and widgets append requests during the
// frame; the renderer draws them later in the same frame and ClearCache
// empties both queues after it. Nothing is drawn when a request is queued.
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <glm/mat4x4.hpp>

#include "engine/Resource.h"
#include "render/Material.h"
#include "render/Mesh.h"
#include "render/Shader.h"
#include "render/ShaderUniform.h"

namespace KestorEngine {

class KestorEngineFlyHahaJk;

// Per-renderer values keyed by uniform name.
using UniformMap = std::unordered_map<std::string, ShaderUniform>;

// One request: mesh, submesh (-1 = whole mesh), local-to-world now and one
// frame ago, shader, shared buffer (not owned: a material's own buffer,
// which must outlive the frame; may be null), the request's own values, and
// whether the camera passes and the voxel passes draw it.
using DrawEntry = std::tuple<Resource<Mesh>, int, glm::mat4, glm::mat4, Resource<Shader>,
                             UniformBuffer*, UniformBuffer, bool, bool>;

// The renderer's draw order: requests sharing a buffer next to each other
// (one material's draws together), the groups as their first request was
// queued, requests without a buffer last, each group in queue order. Sorting
// by address would differ from run to run, and draws that write the same
// voxel keep the last one's surface.
void SortForDrawing(std::vector<DrawEntry>& queue);

class DrawSystem {
 public:
  // Update slot 46, after the renderer.
  static constexpr size_t ClearSlot = 46;

  static void Attach(KestorEngineFlyHahaJk* engine);
  static std::string ClearCache();

  // A shared buffer, drawn by every pass (or as the flags say).
  static void QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                        glm::mat4 localToWorldPast, Resource<Shader> shader, UniformBuffer* shared);
  static void QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                        glm::mat4 localToWorldPast, Resource<Shader> shader, UniformBuffer* shared,
                        bool camera, bool voxel);
  // The request's own copy of the values.
  static void QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                        glm::mat4 localToWorldPast, Resource<Shader> shader, UniformBuffer own);
  static void QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                        glm::mat4 localToWorldPast, Resource<Shader> shader, UniformBuffer own,
                        bool camera, bool voxel);
  // A snapshot of the material's values: later edits do not reach it.
  static void QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                        glm::mat4 localToWorldPast, Resource<Material> material);
  // The material's live buffer: edits before the renderer runs are drawn.
  // The map becomes the entry's own buffer (a renderer's per-Thing values).
  static void QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                        glm::mat4 localToWorldPast, Resource<Material> material,
                        const UniformMap& uniforms);
  static void QueueDraw(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                        glm::mat4 localToWorldPast, Resource<Material> material,
                        const UniformMap& uniforms, bool camera, bool voxel);

  // The same forms for the GUI queue, drawn in queue order.
  static void QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Shader> shader,
                           UniformBuffer* shared);
  static void QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Shader> shader,
                           UniformBuffer* shared, bool camera, bool voxel);
  static void QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Shader> shader, UniformBuffer own);
  static void QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Shader> shader, UniformBuffer own,
                           bool camera, bool voxel);
  static void QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Material> material);
  static void QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Material> material,
                           const UniformMap& uniforms);
  static void QueueDrawGUI(Resource<Mesh> mesh, int submesh, glm::mat4 localToWorld,
                           glm::mat4 localToWorldPast, Resource<Material> material,
                           const UniformMap& uniforms, bool camera, bool voxel);

  static inline std::vector<DrawEntry> drawthings;
  static inline std::vector<DrawEntry> guidrawthings;
};

}  // namespace KestorEngine
