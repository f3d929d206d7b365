#include "renderer/Curtain.h"

#include "render/Mesh.h"

namespace KestorEngine {

Resource<Mesh>* CurtainSurface() {
  Resource<Mesh>& display = ParticlesDisplay();
  return display && Particles().Count != 0 ? &display : nullptr;
}

}  // namespace KestorEngine
