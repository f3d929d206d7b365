// The image decoder's implementation, compiled once for the whole engine.
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
