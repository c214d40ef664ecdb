#pragma once

// A glyph rasteriser with made-up metrics, installed for the length of a scope: character c is
// 4 + c % 5 pixels wide, every cell cellHeight high, and drawing fills the cell with
// pixel(c, column, row). It logs the faces asked for and the characters drawn.

#include <functional>
#include <string>
#include <vector>

#include "text/glyph_rasterizer.h"

class FakeRasterizerScope {
public:
    struct DrawnGlyph {
        unsigned char c;
        int x, y;
    };

    int cellHeight = 12;
    bool refuse = false;  // no face: the factory answers null
    std::function<uint32_t(unsigned char c, int column, int row)> pixel = [](unsigned char, int, int) {
        return 0x00FFFFFFu;
    };
    std::vector<GlyphFaceRequest> requests;
    std::vector<DrawnGlyph> drawn;

    static int widthOf(unsigned char c) { return 4 + c % 5; }

    FakeRasterizerScope();
    ~FakeRasterizerScope();
    FakeRasterizerScope(const FakeRasterizerScope&) = delete;
    FakeRasterizerScope& operator=(const FakeRasterizerScope&) = delete;
};
