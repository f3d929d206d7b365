#pragma once
#include <string>

namespace KestorEngine {

class KestorEngineFlyHahaJk;

// Drains SDL's event queue once per frame.
class InputSystem {
 public:
  static void Attach(KestorEngineFlyHahaJk* engine);
  static std::string ISwearIDidntClickThereOohhhNooo(KestorEngineFlyHahaJk* engine);
};

}  // namespace KestorEngine
