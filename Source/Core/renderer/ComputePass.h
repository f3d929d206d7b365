#pragma once
// What the renderer's compute passes share: raw image bindings, uniforms and
// dispatches need the program the last Shader::Use made current, and a pass
// that is missing or failed to build must issue none of them.
#include <cstddef>
#include <string>
#include <vector>

#include "sanegl/Objects.h"

namespace KestorEngine {

class Shader;
class Texbit;
class UniformBuffer;

// The program the last Shader::Use made current, or 0 when the pass is
// missing or failed to build.
unsigned CurrentProgram();

// Makes `pass` of `shader` current with its uniforms and the cached state
// applied; the program when it is a working compute program, else 0.
unsigned UseCompute(Shader& shader, const std::string& pass, std::vector<UniformBuffer*>* buffers);

// Binds level `level` of `t` (every layer) to image unit `unit` and points
// the program's image uniform `name` at it. `access` is a GL access enum
// (write-only when left out); a null `t` leaves the unit empty.
void BindImage(unsigned program, const char* name, int unit, Texbit* t, int level, unsigned format,
               unsigned access = 0);

// Runs the current compute program over the group counts that the first
// three words of `groups` hold, then issues `barriers`.
void DispatchIndirect(const SaneGL::Buffer& groups, unsigned barriers);

// Items a compute pass picks out for a later pass to work on, so that the
// later pass runs only where it is needed: on a CPU driver every invocation
// pays for the code of each branch, taken or not. The storage buffer holds
// an indirect dispatch's three group counts, the item count, then one word
// an item; the appending shader counts a group per 64 items (its own
// local size).
class WorkList {
 public:
  // Empties the list, grows it to hold `capacity` items and binds it to
  // storage buffer binding `binding`.
  void Reset(size_t capacity, unsigned binding);
  // Binds it as it is (a list kept from an earlier frame) to `binding`.
  void Bind(unsigned binding) const;
  const SaneGL::Buffer& Groups() const { return buffer; }

 private:
  SaneGL::Buffer buffer;
  size_t capacity = 0;
};

}  // namespace KestorEngine
