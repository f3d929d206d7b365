#include "renderer/Cloth.h"

#include "render/Mesh.h"

namespace KestorEngine {

ParticleArrays& Particles() {
  static ParticleArrays* particles = new ParticleArrays();
  return *particles;
}

Resource<Mesh>& ParticlesDisplay() {
  static Resource<Mesh>* display = new Resource<Mesh>();
  return *display;
}

void ClothFrame(const Uint8*, float, const glm::vec3&, Texbit*, const glm::mat4&) {}

}  // namespace KestorEngine
