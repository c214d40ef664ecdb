#include "platform/image/image_loader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include <SDL2/SDL.h>
#include <SDL2/SDL_image.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/checked_file.h"

namespace {

// Holds what the decoding libraries write to stderr while it lives: libpng, reached through
// SDL2_image, prints its own "libpng error: ..." lines and offers no way to stop it from here.
// The text becomes part of the program's one line about the file instead. Without a scratch
// file (full or read-only temporary folder) nothing is captured and the library speaks itself.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        scratch_ = std::tmpfile();
        if (!scratch_) return;
        saved_ = dup(STDERR_FILENO);
        if (saved_ < 0 || dup2(fileno(scratch_), STDERR_FILENO) < 0) release();
    }
    ~StderrCapture() { release(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // The captured lines joined by "; " without the libraries' own prefixes; capturing ends.
    std::string finish()
    {
        if (!scratch_ || saved_ < 0) return {};
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
        std::string text, line;
        std::rewind(scratch_);
        char buffer[256];
        size_t n;
        while (line.size() < 4096 && (n = std::fread(buffer, 1, sizeof buffer, scratch_)) > 0) line.append(buffer, n);
        size_t start = 0;
        while (start < line.size()) {
            size_t end = line.find('\n', start);
            if (end == std::string::npos) end = line.size();
            std::string one = line.substr(start, end - start);
            for (const char* prefix : {"libpng error: ", "libpng warning: "})
                if (one.rfind(prefix, 0) == 0) one.erase(0, std::strlen(prefix));
            if (!one.empty()) text += (text.empty() ? "" : "; ") + one;
            start = end + 1;
        }
        if (text.size() > 200) text = text.substr(0, 200) + "...";
        return text;
    }

private:
    void release()
    {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
        if (scratch_) std::fclose(scratch_);
        scratch_ = nullptr;
    }
    std::FILE* scratch_ = nullptr;
    int saved_ = -1;
};

// Bytes in memory for SDL2_image's decoders, past whose end every read yields 0xFF bytes.
// SDL2_image's PNG reader ignores a short read and hands libpng what its buffer held before, on
// which libpng can loop for ever; a chunk length of 0xFFFFFFFF is one libpng refuses at once.
// The chunk layout is checked first, so this only guards what that check cannot foresee.
struct BoundedBytes {
    const uint8_t* bytes;
    size_t size;
    size_t offset;
};

Sint64 boundedSize(SDL_RWops* ops) { return Sint64(static_cast<BoundedBytes*>(ops->hidden.unknown.data1)->size); }

Sint64 boundedSeek(SDL_RWops* ops, Sint64 offset, int whence)
{
    auto* source = static_cast<BoundedBytes*>(ops->hidden.unknown.data1);
    const Sint64 base = whence == RW_SEEK_CUR ? Sint64(source->offset) : whence == RW_SEEK_END ? Sint64(source->size) : 0;
    const Sint64 target = base + offset;
    if (target < 0 || target > Sint64(source->size)) return SDL_SetError("seek outside the picture");
    source->offset = size_t(target);
    return target;
}

size_t boundedRead(SDL_RWops* ops, void* out, size_t size, size_t count)
{
    auto* source = static_cast<BoundedBytes*>(ops->hidden.unknown.data1);
    if (size == 0 || count > SIZE_MAX / size) return 0;
    const size_t wanted = size * count;
    const size_t available = std::min(wanted, source->size - source->offset);
    std::memcpy(out, source->bytes + source->offset, available);
    std::memset(static_cast<uint8_t*>(out) + available, 0xFF, wanted - available);
    source->offset += available;
    return available / size;
}

size_t boundedWrite(SDL_RWops*, const void*, size_t, size_t) { return 0; }

int boundedClose(SDL_RWops* ops)
{
    SDL_FreeRW(ops);
    return 0;
}

// Owns an SDL_RWops over source, which must outlive it.
SDL_RWops* openBounded(BoundedBytes& source)
{
    SDL_RWops* ops = SDL_AllocRW();
    if (!ops) return nullptr;
    ops->type = SDL_RWOPS_UNKNOWN;
    ops->size = boundedSize;
    ops->seek = boundedSeek;
    ops->read = boundedRead;
    ops->write = boundedWrite;
    ops->close = boundedClose;
    ops->hidden.unknown.data1 = &source;
    return ops;
}

const char* typeName(ImageFileType type)
{
    switch (type) {
    case ImageFileType::Bmp: return "BMP";
    case ImageFileType::Jpeg: return "JPEG";
    case ImageFileType::Png: return "PNG";
    default: return "unknown";
    }
}

// Scans times blocks of 8 x 8 texels a JPEG may ask the decoder to pass over, some seconds of
// decoding: a common progressive file of the largest size asks for a twentieth of it.
constexpr int64_t maxJpegScanBlocks = int64_t(1) << 28;

uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t le16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }
uint32_t le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]; }

bool pngHeaderSize(const uint8_t* bytes, size_t size, int64_t& width, int64_t& height, std::string& error)
{
    // The signature, then the IHDR chunk, which must come first: length, type, width, height.
    if (size < 24 || std::memcmp(bytes + 12, "IHDR", 4) != 0) {
        error = "the PNG header is cut short or does not begin with IHDR";
        return false;
    }
    width = be32(bytes + 16);
    height = be32(bytes + 20);
    // Every chunk must lie inside the file: the decoder would otherwise check the CRC of a chunk
    // of gigabytes that is not there, which costs about a second per 150-byte file.
    size_t pos = 8;
    while (pos + 12 <= size) {
        const uint64_t length = be32(bytes + pos);
        if (length > size - pos - 12) {
            error = "a PNG chunk of " + std::to_string(length) + " bytes runs past the end of the file";
            return false;
        }
        const bool end = std::memcmp(bytes + pos + 4, "IEND", 4) == 0;
        pos += 12 + size_t(length);
        if (end) break;
    }
    return true;
}

std::string chunkName(const uint8_t* type)
{
    std::string name;
    for (int i = 0; i < 4; ++i) {
        const char c = char(type[i]);
        name += (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ? c : '?';
    }
    return name;
}

bool jpegHeaderSize(const uint8_t* bytes, size_t size, int64_t& width, int64_t& height, std::string& error)
{
    // Markers up to the first frame header; it must come before the first scan.
    size_t pos = 2;
    for (;;) {
        while (pos < size && bytes[pos] != 0xFF) ++pos;  // tolerate garbage between segments
        while (pos < size && bytes[pos] == 0xFF) ++pos;  // fill bytes
        if (pos >= size) break;
        const uint8_t marker = bytes[pos++];
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
        if (marker == 0xD9 || marker == 0xDA) break;
        if (pos + 2 > size) break;
        const size_t length = be16(bytes + pos);
        if (length < 2 || pos + length > size) break;
        const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            if (length < 8) break;
            height = be16(bytes + pos + 3);
            width = be16(bytes + pos + 5);
            return true;
        }
        pos += length;
    }
    error = "the JPEG has no frame header before its image data";
    return false;
}

// Walks a whole JPEG, its entropy-coded data included, to its end marker: a file without one
// has been cut short. Each scan costs a pass over every block of the picture, and every block
// needs at least one bit of the data, which bounds what a small file may announce.
bool checkJpegLayout(const uint8_t* bytes, size_t size, int64_t width, int64_t height, std::string& error)
{
    const int64_t blocks = ((width + 7) / 8) * ((height + 7) / 8);
    int64_t scans = 0;
    size_t dataBytes = 0, pos = 2;
    for (;;) {
        while (pos < size && bytes[pos] != 0xFF) ++pos;
        while (pos < size && bytes[pos] == 0xFF) ++pos;
        if (pos >= size) {
            error = "the JPEG file ends before its end marker";
            return false;
        }
        const uint8_t marker = bytes[pos++];
        if (marker == 0xD9) break;
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
        if (size - pos < 2 || be16(bytes + pos) < 2 || be16(bytes + pos) > size - pos) {
            error = "a JPEG segment runs past the end of the file";
            return false;
        }
        pos += be16(bytes + pos);
        if (marker != 0xDA) continue;
        ++scans;
        // The entropy-coded data: up to a marker other than a stuffed zero or a restart.
        const size_t start = pos;
        const auto restartOrStuffed = [](uint8_t b) { return b == 0 || (b >= 0xD0 && b <= 0xD7); };
        while (pos + 1 < size && !(bytes[pos] == 0xFF && !restartOrStuffed(bytes[pos + 1]))) ++pos;
        dataBytes += pos - start;
    }
    if (scans * blocks > maxJpegScanBlocks) {
        error = "the JPEG has " + std::to_string(scans) + " scans, too many for a picture of " + std::to_string(width) +
                " x " + std::to_string(height);
        return false;
    }
    if (int64_t(dataBytes) * 8 < blocks) {
        error = "the JPEG file holds " + std::to_string(dataBytes) + " bytes of image data, too few for the " +
                std::to_string(width) + " x " + std::to_string(height) + " texels its header announces";
        return false;
    }
    return true;
}

bool bmpHeaderSize(const uint8_t* bytes, size_t size, int64_t& width, int64_t& height, std::string& error)
{
    if (size < 26) {
        error = "the BMP header is cut short";
        return false;
    }
    const uint32_t infoSize = le32(bytes + 14);
    int64_t bitsPerPixel = 0;
    bool uncompressed = true;
    if (infoSize == 12) {  // the old core header: unsigned 16-bit sides
        width = le16(bytes + 18);
        height = le16(bytes + 20);
        bitsPerPixel = le16(bytes + 24);
    } else if (infoSize >= 16 && size >= 34) {
        width = int32_t(le32(bytes + 18));
        height = int32_t(le32(bytes + 22));  // negative: rows stored top-down
        bitsPerPixel = le16(bytes + 28);
        const uint32_t compression = infoSize >= 20 ? le32(bytes + 30) : 0;
        uncompressed = compression == 0 || compression == 3 || compression == 6;
    } else {
        error = "the BMP header is cut short or of an unknown kind (" + std::to_string(infoSize) + " bytes)";
        return false;
    }
    width = width < 0 ? -width : width;
    height = height < 0 ? -height : height;
    // Uncompressed rows have a known size: a file too short to hold them is refused before a
    // surface is allocated for pixels that are not there.
    if (uncompressed && width <= maxImageSide && height <= maxImageSide) {
        const int64_t rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
        const int64_t offset = le32(bytes + 10);
        if (offset + rowBytes * height > int64_t(size)) {
            error = "the BMP file ends before the " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels its header announces";
            return false;
        }
    }
    return true;
}


}  // namespace

// Larger than any picture of maxImageSide texels a side could need to be.
constexpr int64_t maxImageFileBytes = int64_t(512) << 20;

bool readPictureFile(const std::string& path, PageBlock& bytes, size_t& length, std::string& error)
{
    std::FILE* opened = openRegularFile(path);
    if (!opened) {
        error = openFailureReason(errno);
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, std::fclose);
    struct stat info {};
    if (fstat(fileno(file.get()), &info) == 0 && info.st_size > maxImageFileBytes) {
        error = "the file is larger than " + std::to_string(maxImageFileBytes >> 20) + " MiB, too large for a picture";
        return false;
    }
    // Read in place into room for the whole file and one byte more, which shows whether the file
    // has grown since its size was taken: growing the buffer chunk by chunk would copy a picture
    // of megabytes several times over.
    length = 0;
    bytes = PageBlock(size_t(std::max<off_t>(info.st_size, 0)) + 1);
    for (;;) {
        length += std::fread(bytes.data() + length, 1, bytes.size() - length, file.get());
        if (length < bytes.size()) break;
        if (int64_t(length) > maxImageFileBytes) {
            error = "the file is too large for a picture";
            return false;
        }
        PageBlock larger(std::min(bytes.size() * 2, size_t(maxImageFileBytes) + 2));
        std::memcpy(larger.data(), bytes.data(), length);
        bytes = std::move(larger);
    }
    if (std::ferror(file.get())) {
        error = errno ? std::strerror(errno) : "read error";
        return false;
    }
    return true;
}

bool checkPngLayout(const uint8_t* bytes, size_t size, std::string& error)
{
    if (size < 8) {
        error = "the PNG signature is cut short";
        return false;
    }
    size_t pos = 8;  // after the signature
    bool imageData = false;
    uint64_t dataBytes = 0;
    for (;;) {
        if (size - pos < 8) {
            error = size == pos ? imageData ? "the PNG file ends before its IEND chunk"
                                            : "the PNG file ends before its image data"
                                : "the PNG file ends inside a chunk header";
            return false;
        }
        const uint32_t length = be32(bytes + pos);
        const uint8_t* type = bytes + pos + 4;
        if (uint64_t(length) + 12 > size - pos) {
            error = "a PNG chunk of " + std::to_string(length) + " bytes runs past the end of the file";
            return false;
        }
        const bool header = std::memcmp(type, "IHDR", 4) == 0;
        if ((pos == 8) != header || (header && length != 13)) {
            error = "the PNG file does not begin with one IHDR chunk of 13 bytes";
            return false;
        }
        if (std::memcmp(type, "IDAT", 4) == 0) {
            imageData = true;
            dataBytes += length;
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            if (!imageData) {
                error = "the PNG file ends (IEND) before its image data";
                return false;
            }
            // Deflate packs at most 1032 bytes into one (a 258-byte match in two bits), so image
            // data too short for the texels announced is refused before room is made for them.
            const uint64_t width = be32(bytes + 16), height = be32(bytes + 20);
            const uint8_t depth = bytes[24], colour = bytes[25];
            const uint64_t channels = colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
            const uint64_t side = uint64_t(1) << 20;  // keeps the product in range; far above any accepted side
            const uint64_t texelBytes = std::min(width, side) * std::min(height, side) * channels * depth / 8;
            if (dataBytes * 1032 + 1032 < texelBytes) {
                error = "the PNG file holds " + std::to_string(dataBytes) + " bytes of image data, too few for the " +
                        std::to_string(width) + " x " + std::to_string(height) + " texels its header announces";
                return false;
            }
            return true;
        } else if (length > maxPngSideChunkBytes) {
            error = "the PNG file's " + chunkName(type) + " chunk of " + std::to_string(length) +
                    " bytes is larger than a picture's side data may be";
            return false;
        }
        pos += 12 + size_t(length);
    }
}

ImageFileType imageFileType(const uint8_t* bytes, size_t size)
{
    static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::memcmp(bytes, pngSignature, 8) == 0) return ImageFileType::Png;
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return ImageFileType::Jpeg;
    if (size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return ImageFileType::Bmp;
    return ImageFileType::Unknown;
}

bool imageHeaderSize(const uint8_t* bytes, size_t size, ImageFileType type, int64_t& width, int64_t& height,
                     std::string& error)
{
    width = height = 0;
    switch (type) {
    case ImageFileType::Png: return pngHeaderSize(bytes, size, width, height, error);
    case ImageFileType::Jpeg: return jpegHeaderSize(bytes, size, width, height, error);
    case ImageFileType::Bmp: return bmpHeaderSize(bytes, size, width, height, error);
    default: error = "not a BMP, JPEG or PNG image"; return false;
    }
}

PictureSize probeImageFile(const std::string& path)
{
    PictureSize probe;
    std::FILE* opened = openRegularFile(path);
    if (!opened) return probe;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, std::fclose);
    // Headers stand at the front; a JPEG's frame header may follow some metadata.
    constexpr size_t probeBytes = size_t(1) << 20;
    std::vector<uint8_t> bytes(probeBytes + 1);
    const size_t n = std::fread(bytes.data(), 1, bytes.size(), file.get());
    const ImageFileType type = imageFileType(bytes.data(), n);
    if (type == ImageFileType::Unknown) return probe;
    std::string error;
    int64_t width = 0, height = 0;
    if (imageHeaderSize(bytes.data(), std::min(n, probeBytes), type, width, height, error)) {
        probe.known = width > 0 && height > 0 && width <= maxImageSide && height <= maxImageSide;
    } else if (n > probeBytes) {
        // A header beyond the probe may announce anything the loader accepts.
        width = height = maxImageSide;
        probe.known = true;
    }
    if (probe.known) {
        probe.width = width;
        probe.height = height;
    }
    return probe;
}

void DecodedImage::FreeSurface::operator()(SDL_Surface* surface) const noexcept { SDL_FreeSurface(surface); }

bool DecodedImage::convert(void* texels, int pitch, bool bgraBytes, std::string& error) const
{
    if (rows_) {
        // A plain 24-bit BMP: blue, green, red in the file, opaque.
        for (int y = 0; y < height_; ++y) {
            const uint8_t* in = rows_ + ptrdiff_t(y) * rowStep_;
            uint8_t* out = static_cast<uint8_t*>(texels) + ptrdiff_t(y) * pitch;
            if (bgraBytes) {
                for (int x = 0; x < width_; ++x, in += 3, out += 4) {
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                    out[3] = 0xFF;
                }
            } else {
                uint32_t* argb = reinterpret_cast<uint32_t*>(out);
                for (int x = 0; x < width_; ++x, in += 3)
                    argb[x] = 0xFF000000u | uint32_t(in[2]) << 16 | uint32_t(in[1]) << 8 | in[0];
            }
        }
        return true;
    }
    if (!surface_) {
        error = "no picture to convert";
        return false;
    }
    SDL_LockSurface(surface_.get());
    const int status =
        SDL_ConvertPixels(surface_->w, surface_->h, surface_->format->format, surface_->pixels, surface_->pitch,
                          bgraBytes ? SDL_PIXELFORMAT_BGRA32 : SDL_PIXELFORMAT_ARGB8888, texels, pitch);
    SDL_UnlockSurface(surface_.get());
    if (status != 0) {
        error = std::string("cannot convert the ") + typeName(type_) + " image: " + SDL_GetError();
        return false;
    }
    return true;
}

bool DecodedImage::toTexels(uint8_t* bgra, int pitch, std::string& error) const
{
    return convert(bgra, pitch, true, error);
}

bool DecodedImage::toArgb(ArgbImage& out, std::string& error) const
{
    std::vector<uint32_t> texels(size_t(width_) * size_t(height_));
    if (!convert(texels.data(), width_ * 4, false, error)) return false;
    out.width = width_;
    out.height = height_;
    out.texels = std::move(texels);
    return true;
}

struct ImageDecoder {
    // Decodes bytes into out. For a plain 24-bit BMP the texels are later read straight from
    // bytes, so out takes over file when there is one, and otherwise must not outlive bytes.
    static bool decode(const uint8_t* bytes, size_t size, PageBlock* file, DecodedImage& out, std::string& error,
                       ImageFileType* decodedType);
    // The rows of an uncompressed 24-bit BMP with a header of 40 bytes or more, the common case,
    // which needs no decoder; null for any other picture.
    static const uint8_t* plainBmpRows(const uint8_t* bytes, size_t size, int& width, int& height, ptrdiff_t& step);
};

const uint8_t* ImageDecoder::plainBmpRows(const uint8_t* bytes, size_t size, int& width, int& height, ptrdiff_t& step)
{
    if (size < 54 || le32(bytes + 14) < 40 || le16(bytes + 28) != 24 || le32(bytes + 30) != 0) return nullptr;
    const int32_t w = int32_t(le32(bytes + 18)), h = int32_t(le32(bytes + 22));
    if (w <= 0 || h == 0 || w > maxImageSide || h < -maxImageSide || h > maxImageSide) return nullptr;
    const int64_t rows = h < 0 ? -int64_t(h) : h;
    const int64_t stride = (int64_t(w) * 3 + 3) / 4 * 4;
    const int64_t offset = le32(bytes + 10);
    if (offset < 54 || offset + stride * rows > int64_t(size)) return nullptr;
    width = w;
    height = int(rows);
    // Rows are stored from the bottom up unless the height is negative.
    if (h < 0) {
        step = ptrdiff_t(stride);
        return bytes + offset;
    }
    step = -ptrdiff_t(stride);
    return bytes + offset + (rows - 1) * stride;
}

namespace {

// The type of a picture whose header announces a size the decoders may be given; Unknown with
// error saying why for anything else.
ImageFileType checkedType(const uint8_t* bytes, size_t size, std::string& error)
{
    const ImageFileType type = imageFileType(bytes, size);
    if (type == ImageFileType::Unknown) {
        error = "not a BMP, JPEG or PNG image";
        return type;
    }
    int64_t w = 0, h = 0;
    if (!imageHeaderSize(bytes, size, type, w, h, error)) return ImageFileType::Unknown;
    if (w > maxImageSide || h > maxImageSide) {
        error = "the image is " + std::to_string(w) + " x " + std::to_string(h) + ", more than " +
                std::to_string(maxImageSide) + " texels on a side";
        return ImageFileType::Unknown;
    }
    if (w == 0 || h == 0) {
        error = std::string("the ") + typeName(type) + " header gives a size of " + std::to_string(w) + " x " +
                std::to_string(h);
        return ImageFileType::Unknown;
    }
    if (size > size_t(INT_MAX)) {
        error = "the file is too large for a picture";
        return ImageFileType::Unknown;
    }
    if (type == ImageFileType::Png && !checkPngLayout(bytes, size, error)) return ImageFileType::Unknown;
    if (type == ImageFileType::Jpeg && !checkJpegLayout(bytes, size, w, h, error)) return ImageFileType::Unknown;
    return type;
}

}  // namespace

bool ImageDecoder::decode(const uint8_t* bytes, size_t size, PageBlock* file, DecodedImage& out, std::string& error,
                          ImageFileType* decodedType)
{
    const ImageFileType type = checkedType(bytes, size, error);
    if (type == ImageFileType::Unknown) return false;

    if (type == ImageFileType::Bmp) {
        int width = 0, height = 0;
        ptrdiff_t step = 0;
        if (const uint8_t* rows = plainBmpRows(bytes, size, width, height, step)) {
            out = DecodedImage{};
            out.width_ = width;
            out.height_ = height;
            out.type_ = type;
            out.rows_ = rows;
            out.rowStep_ = step;
            if (file) out.file_ = std::move(*file);  // the rows stay where they are
            if (decodedType) *decodedType = type;
            return true;
        }
    }

    BoundedBytes bounded{bytes, size, 0};
    SDL_RWops* source = openBounded(bounded);
    if (!source) {
        error = std::string("cannot read the image from memory: ") + SDL_GetError();
        return false;
    }
    // The decoder announced by the first bytes is called by name: the generic loader asks every
    // format in turn whether it recognises the bytes, and would hand a JPEG-looking file that
    // merely contains "<svg" to the vector loader.
    SDL_Surface* decoded = nullptr;
    std::string said;
    {
        StderrCapture capture;
        switch (type) {
        case ImageFileType::Bmp: decoded = SDL_LoadBMP_RW(source, 0); break;
        case ImageFileType::Jpeg: decoded = IMG_LoadJPG_RW(source); break;
        default: decoded = IMG_LoadPNG_RW(source); break;
        }
        said = capture.finish();
    }
    SDL_RWclose(source);
    // A picture that decoded keeps the library's remarks to itself; a failure carries them.
    if (!decoded) {
        error = std::string("cannot decode the ") + typeName(type) + " image: " + IMG_GetError();
        if (!said.empty()) error += " (" + said + ")";
        return false;
    }
    // A palette or a colour key takes a surface conversion to become texels; any other surface
    // is converted later straight into the texels' own memory, without a copy of the picture.
    if (decoded->format->palette || SDL_HasColorKey(decoded)) {
        SDL_Surface* argb = SDL_ConvertSurfaceFormat(decoded, SDL_PIXELFORMAT_ARGB8888, 0);
        SDL_FreeSurface(decoded);
        if (!argb) {
            error = std::string("cannot convert the ") + typeName(type) + " image: " + SDL_GetError();
            return false;
        }
        decoded = argb;
    }
    std::unique_ptr<SDL_Surface, DecodedImage::FreeSurface> surface(decoded);
    if (decoded->w <= 0 || decoded->h <= 0 || decoded->w > maxImageSide || decoded->h > maxImageSide) {
        error = std::string("the ") + typeName(type) + " image decodes to " + std::to_string(decoded->w) + " x " +
                std::to_string(decoded->h) + " texels";
        return false;
    }
    out = DecodedImage{};
    out.width_ = decoded->w;
    out.height_ = decoded->h;
    out.type_ = type;
    out.surface_ = std::move(surface);
    if (decodedType) *decodedType = type;
    return true;
}

bool decodeImage(const uint8_t* bytes, size_t size, ArgbImage& out, std::string& error, ImageFileType* decodedType)
{
    DecodedImage decoded;
    ImageFileType type = ImageFileType::Unknown;
    if (!ImageDecoder::decode(bytes, size, nullptr, decoded, error, &type) || !decoded.toArgb(out, error)) return false;
    if (decodedType) *decodedType = type;
    return true;
}

bool loadImageFile(const std::string& path, DecodedImage& out, std::string& error, ImageFileType* decodedType)
{
    PageBlock bytes;
    size_t length = 0;
    if (!readPictureFile(path, bytes, length, error)) return false;
    return ImageDecoder::decode(bytes.data(), length, &bytes, out, error, decodedType);
}

bool loadImageFile(const std::string& path, ArgbImage& out, std::string& error, ImageFileType* decodedType)
{
    DecodedImage decoded;
    ImageFileType type = ImageFileType::Unknown;
    if (!loadImageFile(path, decoded, error, &type) || !decoded.toArgb(out, error)) return false;
    if (decodedType) *decodedType = type;
    return true;
}

std::unique_ptr<Picture> ImageFileReader::read(const std::string& path, std::string& error)
{
    auto decoded = std::make_unique<DecodedImage>();
    if (!loadImageFile(dataPath(path), *decoded, error)) return nullptr;
    return decoded;
}
