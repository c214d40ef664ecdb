#include "support/fake_rasterizer.h"

namespace {

class FakeRasterizer : public GlyphRasterizer {
public:
    explicit FakeRasterizer(FakeRasterizerScope& scope) : scope_(scope) {}
    TextExtent measure(unsigned char c) override { return {FakeRasterizerScope::widthOf(c), scope_.cellHeight}; }
    void draw(unsigned char c, int x, int y, uint32_t* pixels, int width, int height) override
    {
        scope_.drawn.push_back({c, x, y});
        for (int row = 0; row < scope_.cellHeight; ++row)
            for (int column = 0; column < FakeRasterizerScope::widthOf(c); ++column)
                if (x + column >= 0 && x + column < width && y + row >= 0 && y + row < height)
                    pixels[size_t(y + row) * width + x + column] = scope_.pixel(c, column, row);
    }

private:
    FakeRasterizerScope& scope_;
};

}  // namespace

FakeRasterizerScope::FakeRasterizerScope()
{
    setGlyphRasterizerFactory([this](const GlyphFaceRequest& request, std::string& error) -> std::unique_ptr<GlyphRasterizer> {
        requests.push_back(request);
        if (refuse) {
            error = "no such face";
            return nullptr;
        }
        return std::make_unique<FakeRasterizer>(*this);
    });
}

FakeRasterizerScope::~FakeRasterizerScope() { setGlyphRasterizerFactory(nullptr); }
