// The composition root: which component types a level may name, which
// systems run and in what order. Nothing else in the engine knows this.
#include "engine/Engine.h"
#include "engine/Resource.h"
#include "engine/Scene.h"
#include "scene/InputSystem.h"

using namespace KestorEngine;

namespace {

KestorEngineFlyHahaJk* Engine = nullptr;

template <typename System>
void AttachSystem() {
  Engine->PrepareStageLists();
  System::Attach(Engine);
}

}  // namespace

int main(int, char**) {
  Engine = new KestorEngineFlyHahaJk();

  AttachSystem<InputSystem>();

  Engine->Initialize();
  // Held for the whole run; released only after the engine is gone.
  Resource<Scene> level = Resources<Scene>::Get("StreetTest");

  Engine->RunGame();

  delete Engine;
  Engine = nullptr;
  level = Resource<Scene>();
  return 0;
}
