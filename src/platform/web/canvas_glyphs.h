#pragma once

// Glyphs drawn by the browser's canvas text: the face the page's fonts resolve the name to,
// anti-aliased white on black, as the font atlas wants them.

#include <memory>
#include <string>

#include "text/glyph_rasterizer.h"

std::unique_ptr<GlyphRasterizer> createCanvasRasterizer(const GlyphFaceRequest& request, std::string& error);
