#pragma once
// The one place that pulls in the OpenGL API. Only the GL state layer and the
// few render classes that own GL objects include it.
#include <GL/glew.h>
