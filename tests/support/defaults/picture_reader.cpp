// Compiled into every test program (not into the support library, whose unreferenced objects the
// linker may drop): textures load through the platform's image decoder unless a test installs
// another picture reader.
#include "platform/image/image_loader.h"

namespace {
ImageFileReader imageFiles;
const bool installed = (setPictureReader(&imageFiles), true);
}  // namespace
