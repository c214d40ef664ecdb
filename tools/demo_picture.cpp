#include "demo_picture.h"

#include "output_files.h"

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

std::vector<uint8_t> encodeBmp24(const RgbPicture& picture)
{
    const uint32_t rowBytes = (uint32_t(picture.width) * 3 + 3) & ~3u;  // rows pad to 4 bytes
    const uint32_t imageBytes = rowBytes * uint32_t(picture.height);
    const uint32_t headerBytes = 14 + 40;

    std::vector<uint8_t> out;
    out.reserve(headerBytes + imageBytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, headerBytes + imageBytes);
    put32(out, 0);
    put32(out, headerBytes);
    put32(out, 40);
    put32(out, uint32_t(picture.width));
    put32(out, uint32_t(picture.height));  // positive: bottom row first
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);  // no compression
    put32(out, imageBytes);
    put32(out, 2835);  // 72 dpi
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* p = picture.pixel(x, y);
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
        }
        for (uint32_t pad = uint32_t(picture.width) * 3; pad < rowBytes; ++pad) out.push_back(0);
    }

    return out;
}

bool writeBmp24(OutputSet& set, const std::filesystem::path& path, const RgbPicture& picture, std::string& error,
                Existing existing)
{
    const std::vector<uint8_t> bytes = encodeBmp24(picture);
    return set.writeBytes(path, existing, bytes.data(), bytes.size(), error);
}
