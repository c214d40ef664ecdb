#include "text/glyph_rasterizer.h"

namespace {
GlyphRasterizerFactory rasterizerFactory;
}

void setGlyphRasterizerFactory(GlyphRasterizerFactory factory) { rasterizerFactory = std::move(factory); }

std::unique_ptr<GlyphRasterizer> createGlyphRasterizer(const GlyphFaceRequest& request, std::string& error)
{
    if (!rasterizerFactory) {
        error = "no text rasteriser is installed";
        return nullptr;
    }
    return rasterizerFactory(request, error);
}
