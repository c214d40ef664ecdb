// The picture scaling the textures use, compiled in: the program links Debian's libstb instead.
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
