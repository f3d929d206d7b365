// The image decoder's implementation, compiled once for the whole engine.
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
// The PNG writer of the frame capture, likewise.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
