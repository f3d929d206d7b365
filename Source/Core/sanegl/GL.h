#pragma once
// The one place that pulls in the OpenGL API. Only the GL state layer and the
// few render classes that own GL objects include it.
#include <GL/glew.h>

// glewInit for a context that is current. GLEW 2.2 loads the core entry
// points first and then probes GLX through glXGetCurrentDisplay, which now and
// then answers null on a busy X server although the context is current;
// GLEW then reports GLEW_ERROR_NO_GLX_DISPLAY with every core entry point
// loaded. The engine uses no GLX extension, so that case counts as success
// when the context answers a version.
inline GLenum InitGLEW() {
  glewExperimental = GL_TRUE;
  const GLenum result = glewInit();
  if (result == GLEW_ERROR_NO_GLX_DISPLAY && glGetString(GL_VERSION) != nullptr) {
    return GLEW_OK;
  }
  return result;
}
