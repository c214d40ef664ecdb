#pragma once

// The text rasteriser on FreeType: fontconfig resolves the face name and style to a font file
// (so "Arial" bold finds a metric-compatible face), FreeType draws it anti-aliased.

#include <memory>
#include <string>

#include "text/glyph_rasterizer.h"

// Null with error naming the face when fontconfig finds no file or FreeType cannot load it.
std::unique_ptr<GlyphRasterizer> createFreeTypeRasterizer(const GlyphFaceRequest& request, std::string& error);

// The file and family fontconfig resolves a request to ("" when none), for messages and tests.
std::string resolvedFontDescription(const GlyphFaceRequest& request);
