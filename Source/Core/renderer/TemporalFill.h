#pragma once
// The temporal pass's fill: the pixels it finds without a history it can
// keep are listed as it draws, and its "Fill" pass then gives each of them
// the light of its surface around it. On a CPU driver a branch costs every
// pixel, taken or not; the list costs only the pixels that need it.
#include <cstddef>
#include <vector>

#include "renderer/ComputePass.h"

namespace KestorEngine {

class Shader;
class Texbit;
class UniformBuffer;

class TemporalFill {
 public:
  // Before the temporal pass: an empty list for up to `pixels` pixels, at
  // the storage binding the pass appends to.
  void Begin(size_t pixels);
  // After it: the "Fill" pass of `shader` over the listed pixels of
  // `target` (the temporal pass's colour target), from the lit colour
  // `lit` (the temporal pass's source), with the pass's `buffers`.
  void Run(Shader& shader, std::vector<UniformBuffer*> buffers, Texbit* lit, Texbit* target);

  static constexpr unsigned Binding = 1;

 private:
  WorkList list;
};

}  // namespace KestorEngine
