#include "textures/picture.h"

namespace {
PictureReader* current = nullptr;
}

void setPictureReader(PictureReader* reader) { current = reader; }
PictureReader* pictureReader() { return current; }
