#pragma once
// What the renderer's compute passes share: raw image bindings, uniforms and
// dispatches need the program the last Shader::Use made current, and a pass
// that is missing or failed to build must issue none of them.
#include <string>
#include <vector>

namespace SaneGL {
class Buffer;
}

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
// (write-only when left out).
void BindImage(unsigned program, const char* name, int unit, Texbit* t, int level, unsigned format,
               unsigned access = 0);

// Runs the current compute program over the group counts that the first
// three words of `groups` hold, then issues `barriers`.
void DispatchIndirect(const SaneGL::Buffer& groups, unsigned barriers);

}  // namespace KestorEngine
