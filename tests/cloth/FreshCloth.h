#pragma once
// A cloth test starts from what a fresh process has: the curtain lives in
// statics, and no test may leave one for the renderer's tests after it.
#include "cloth/Cloth.h"

namespace KestorTest {

inline void ForgetCloth() {
  using namespace KestorEngine;
  Particles() = ParticleArrays();
  ClothState& state = Cloth();
  state.constraints.clear();
  state.scene = SceneVoxels();
  state.staticonce = false;
  state.simsteps = 0;
  state.curtainFirst = 1;
  state.clock = -1.0f;
  state.owed = 0.0f;
  state.stepStart.clear();
}

inline std::uint32_t CurtainTop(int strand) {
  using namespace KestorEngine::ClothConstants;
  return KestorEngine::Cloth().curtainFirst + StrandParticles * strand;
}

}  // namespace KestorTest
