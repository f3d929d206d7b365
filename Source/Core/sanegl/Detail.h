#pragma once
// Internal to the GL layer's sources: the context guard and the error check
// that follows every GL call.
#include "sanegl/CallCounts.h"
#include "sanegl/GL.h"
#include "sanegl/Objects.h"

namespace SaneGL {

void _SaneGLCheckGLError(const char* file, int line);

namespace detail {

// True while a GL context is current on this thread. Handles held by static
// records are released at exit, after the context (and SDL) are gone; no GL
// call may be made then.
bool ContextAlive();

// Makes `buffer` the element buffer of `array`: recorded there, and bound
// into it at once when it is the vertex array GL has bound.
void SetElementBuffer(VertexArrayState& array, const Buffer& buffer);

}  // namespace detail
}  // namespace SaneGL

// The layer reports its errors against a fixed file text, as the engine does.
#define SANEGL_CHECK() ::SaneGL::_SaneGLCheckGLError("RELEASEBUILD", __LINE__)
