// The picture scaling of the textures and the PNG writing of the landscape tool's preview,
// compiled in: the program links Debian's libstb instead.
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
