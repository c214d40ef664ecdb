#include "platform/glyphs/freetype_rasterizer.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <array>

namespace {

struct ResolvedFace {
    std::string file;
    std::string family;
    int index = 0;
    bool embolden = false;  // the file has no bold of its own: thicken the outlines
    bool oblique = false;   // no italic of its own: slant them
};

bool resolveFace(const GlyphFaceRequest& request, ResolvedFace& out, std::string& error)
{
    if (!FcInit()) {
        error = "fontconfig cannot load its configuration";
        return false;
    }
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) {
        error = "out of memory";
        return false;
    }
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(request.faceName.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, request.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) {
        error = "fontconfig finds no font at all";
        return false;
    }
    FcChar8* file = nullptr;
    FcChar8* family = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) != FcResultMatch || !file) {
        FcPatternDestroy(match);
        error = "fontconfig names no font file";
        return false;
    }
    out.file = reinterpret_cast<const char*>(file);
    if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch && family)
        out.family = reinterpret_cast<const char*>(family);
    FcPatternGetInteger(match, FC_INDEX, 0, &out.index);
    FcBool embolden = FcFalse;
    FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden);
    int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
    FcPatternGetInteger(match, FC_SLANT, 0, &slant);
    out.embolden = request.bold && (embolden || weight < FC_WEIGHT_DEMIBOLD);
    out.oblique = request.italic && slant == FC_SLANT_ROMAN;
    FcPatternDestroy(match);
    return true;
}

int roundPixels(FT_Pos value26_6) { return static_cast<int>((value26_6 + 32) >> 6); }

class FreeTypeRasterizer : public GlyphRasterizer {
public:
    ~FreeTypeRasterizer() override
    {
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }

    bool open(const GlyphFaceRequest& request, std::string& error)
    {
        ResolvedFace resolved;
        if (!resolveFace(request, resolved, error)) return false;
        style_ = resolved;
        if (FT_Init_FreeType(&library_) != 0) {
            library_ = nullptr;
            error = "FreeType cannot start";
            return false;
        }
        if (FT_New_Face(library_, resolved.file.c_str(), resolved.index, &face_) != 0) {
            face_ = nullptr;
            error = "FreeType cannot load " + resolved.file;
            return false;
        }
        if (!FT_IS_SCALABLE(face_)) {
            error = resolved.file + " is not a scalable font";
            return false;
        }
        // A height below one pixel still makes a (tiny) font rather than none.
        const FT_UInt pixels = static_cast<FT_UInt>(std::max(1, request.emHeight));
        if (FT_Set_Pixel_Sizes(face_, 0, pixels) != 0) {
            error = "FreeType cannot size " + resolved.file + " to " + std::to_string(pixels) + " pixels";
            return false;
        }
        // The cell spans the Windows ascent and descent the face declares (the extent every
        // character of it reports), each rounded to whole pixels; other faces fall back to the
        // horizontal header.
        const FT_Fixed scale = face_->size->metrics.y_scale;
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
        if (os2 && os2->version != 0xFFFF && (os2->usWinAscent != 0 || os2->usWinDescent != 0)) {
            ascent_ = roundPixels(FT_MulFix(os2->usWinAscent, scale));
            descent_ = roundPixels(FT_MulFix(os2->usWinDescent, scale));
        } else {
            ascent_ = roundPixels(FT_MulFix(face_->ascender, scale));
            descent_ = roundPixels(FT_MulFix(-face_->descender, scale));
        }
        if (ascent_ + descent_ <= 0) {
            error = resolved.file + " declares no height";
            return false;
        }
        return true;
    }

    TextExtent measure(unsigned char c) override
    {
        if (!measured_[c]) {
            advance_[c] = loadGlyph(c, false) ? std::max(0, roundPixels(face_->glyph->advance.x)) : 0;
            measured_[c] = true;
        }
        return {advance_[c], ascent_ + descent_};
    }

    void draw(unsigned char c, int x, int y, uint32_t* pixels, int width, int height) override
    {
        const TextExtent cell = measure(c);
        // The opaque background of the character's cell.
        for (int row = std::max(0, y); row < std::min(height, y + cell.height); ++row)
            for (int col = std::max(0, x); col < std::min(width, x + cell.width); ++col) pixels[size_t(row) * width + col] = 0;
        if (!loadGlyph(c, true)) return;
        const FT_GlyphSlot slot = face_->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.num_grays != 256) return;
        const int left = x + slot->bitmap_left;
        const int top = y + ascent_ - slot->bitmap_top;
        for (unsigned int r = 0; r < bitmap.rows; ++r) {
            const int row = top + static_cast<int>(r);
            if (row < 0 || row >= height) continue;
            const unsigned char* source = bitmap.buffer + static_cast<ptrdiff_t>(r) * bitmap.pitch;
            for (unsigned int k = 0; k < bitmap.width; ++k) {
                const int col = left + static_cast<int>(k);
                if (col < 0 || col >= width || source[k] == 0) continue;
                // White over what is there, by coverage: ink of a neighbour that reaches in stays.
                uint32_t& pixel = pixels[size_t(row) * width + col];
                const uint32_t coverage = source[k];
                const uint32_t below = pixel & 0xFF;
                const uint32_t value = coverage + (below * (255 - coverage) + 127) / 255;
                pixel = value | (value << 8) | (value << 16);
            }
        }
    }

private:
    bool loadGlyph(unsigned char c, bool render)
    {
        const FT_UInt index = FT_Get_Char_Index(face_, c);  // 0: the face's missing-glyph box
        if (FT_Load_Glyph(face_, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL) != 0) return false;
        if (style_.oblique) FT_GlyphSlot_Oblique(face_->glyph);
        if (style_.embolden) FT_GlyphSlot_Embolden(face_->glyph);
        return !render || FT_Render_Glyph(face_->glyph, FT_RENDER_MODE_NORMAL) == 0;
    }

    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    ResolvedFace style_;
    int ascent_ = 0, descent_ = 0;
    std::array<int, 256> advance_{};
    std::array<bool, 256> measured_{};
};

}  // namespace

std::unique_ptr<GlyphRasterizer> createFreeTypeRasterizer(const GlyphFaceRequest& request, std::string& error)
{
    auto rasterizer = std::make_unique<FreeTypeRasterizer>();
    if (!rasterizer->open(request, error)) return nullptr;
    return rasterizer;
}

std::string resolvedFontDescription(const GlyphFaceRequest& request)
{
    ResolvedFace face;
    std::string error;
    if (!resolveFace(request, face, error)) return {};
    return face.family + " (" + face.file + ")";
}
