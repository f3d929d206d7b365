#include "scene/MeshRenderer.h"

#include <algorithm>

#include <glm/geometric.hpp>

#include "engine/Debug.h"
#include "engine/Engine.h"
#include "engine/Scene.h"
#include "engine/TextHelpers.h"
#include "scene/Transform.h"

namespace KestorEngine {

namespace {

const char* const FallbackMaterial = "ErrorMat";

}  // namespace

// ---------------------------------------------------------------------------
// MeshRenderer

Component* MeshRenderer::AddMe(Thing t) { return AddComponent<MeshRenderer>(t); }

void MeshRenderer::Attach() { RegisterComponentType<MeshRenderer>("MeshRenderer"); }

void MeshRenderer::Initialize() { Materials = {Resources<Material>::Get(FallbackMaterial)}; }

void MeshRenderer::Load(AttributeMap attributes, Scene* scene) {
  const std::string meshName = attributes["Mesh"];
  Debug::Log("Loading meh" + meshName + "\n");
  if (!meshName.empty()) {
    Mesh = Resources<KestorEngine::Mesh>::Get(meshName);
  } else if (scene != nullptr) {
    // An unnamed mesh would be an empty one: nothing to draw either way.
    scene->Report("\"Mesh\" names no mesh, nothing will be drawn");
  }

  Visible = attributes["Visible"] == "True";
  ShadowCast = attributes["ShadowCast"] == "True";
  BounceCast = attributes["BounceCast"] == "True";

  auto materials = attributes.find("Materials");
  if (materials == attributes.end()) return;
  Materials.clear();
  for (const std::string& name : split(materials->second)) {
    if (name.empty()) {
      Debug::Log("Empty material name issue\n");
      continue;
    }
    Materials.push_back(Resources<Material>::Get(name));
  }
  if (Materials.empty()) {
    // The submission draws with the first material; it must have one.
    Materials.push_back(Resources<Material>::Get(FallbackMaterial));
    if (scene != nullptr) {
      scene->Report("\"Materials\" names no material, drawn with \"" +
                    std::string(FallbackMaterial) + "\"");
    }
  }
}

// ---------------------------------------------------------------------------
// MeshRendererSystem

void MeshRendererSystem::Attach(KestorEngineFlyHahaJk* engine) {
  engine->PrepareStageLists();
  engine->UpdateList[UpdateSlot] = [engine] { return MAKEITpretty(engine); };

  Thing::HereItsFunc.push_back(&ComponentHandler<MeshRenderer>::HereItsBunk);
  ComponentHandler<MeshRenderer>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<MeshRenderer>::FoodGoSad.push_back(&FoodGoSad);

  Thing::HereItsFunc.push_back(&ComponentHandler<Transform>::HereItsBunk);
  ComponentHandler<Transform>::GoodYumidk.push_back(&GoodYumidk);
  ComponentHandler<Transform>::FoodGoSad.push_back(&FoodGoSad);
}

void MeshRendererSystem::GoodYumidk(Thing t) {
  if (ComponentHandler<Transform>::Get(t) == nullptr) return;
  if (ComponentHandler<MeshRenderer>::Get(t) == nullptr) return;
  if (std::find(MeshyThings.begin(), MeshyThings.end(), t) != MeshyThings.end()) return;
  MeshyThings.push_back(t);
}

void MeshRendererSystem::FoodGoSad(Thing t) {
  if (ComponentHandler<Transform>::Get(t) != nullptr &&
      ComponentHandler<MeshRenderer>::Get(t) != nullptr) {
    return;
  }
  auto listed = std::find(MeshyThings.begin(), MeshyThings.end(), t);
  if (listed != MeshyThings.end()) MeshyThings.erase(listed);
}

bool MeshRendererSystem::Spins(const glm::vec3& scale) {
  return glm::distance(scale, glm::vec3(SpinScale)) < SpinTolerance;
}

std::string MeshRendererSystem::MAKEITpretty(KestorEngineFlyHahaJk*) {
  for (size_t i = 0; i < MeshyThings.size(); ++i) {
    const Thing t = MeshyThings[i];
    MeshRenderer* r = ComponentHandler<MeshRenderer>::Get(t);
    Transform* x = ComponentHandler<Transform>::Get(t);
    if (r == nullptr || x == nullptr) continue;
    // Code may have emptied the list after loading; never read past it.
    if (r->Materials.empty()) r->Materials.push_back(Resources<Material>::Get(FallbackMaterial));

    // A mesh of several index lists draws each with the material of the same
    // place in the list; submeshes past the list's end take its last
    // material, so a shorter list still shows the whole mesh.
    const int submeshes = r->Mesh ? static_cast<int>(r->Mesh->SubmeshCount) : 0;
    if (submeshes == 0) {
      DrawSystem::QueueDraw(r->Mesh, -1, x->World, x->WorldPast, r->Materials[0], r->Uniforms, r->Visible,
                            r->ShadowCast);
    }
    for (int k = 0; k < submeshes; ++k) {
      const size_t material = std::min(static_cast<size_t>(k), r->Materials.size() - 1);
      DrawSystem::QueueDraw(r->Mesh, k, x->World, x->WorldPast, r->Materials[material], r->Uniforms, r->Visible,
                            r->ShadowCast);
    }

    // The request above already holds this frame's matrices: the turn shows
    // from the next transform pass on.
    if (Spins(x->Scale)) x->Rotation = SpinStep * x->Rotation;
  }
  return "";
}

}  // namespace KestorEngine
