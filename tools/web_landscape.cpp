// The landscape tool inside the browser build: a height picture the page decoded becomes a data
// set in the page's memory, the landscape written by the tool's own code and every other file
// taken from the bundled set. Built only by make web (cmake/web.cmake).

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "landscape.h"
#include "output_files.h"

namespace {

constexpr int maxSide = 8192;

bool checked(double value, double low, double high) { return std::isfinite(value) && value >= low && value <= high; }

bool make(const uint16_t* levels, int width, int height, double size, double rise, bool water, double waterLevel,
          const char* bundled, const char* out, std::string& error)
{
    if (!levels || width < 1 || height < 1 || width > maxSide || height > maxSide) {
        error = "the picture must have 1 to 8192 texels a side";
        return false;
    }
    // The same bounds as the tool's --size, --height and --water.
    if (!checked(size, 1e-3, 1e6) || !checked(rise, 1e-3, 1e5) || (water && !checked(waterLevel, -1e5, 1e5))) {
        error = "size takes 0.001 to 1000000, height 0.001 to 100000, water -100000 to 100000";
        return false;
    }
    HeightPicture picture;
    picture.width = width;
    picture.height = height;
    picture.levels.assign(levels, levels + size_t(width) * size_t(height));
    const Landscape landscape =
        layOutLandscape(pictureLandscape(picture, float(size), float(rise), water, float(waterLevel)));
    std::error_code ec;
    // A landscape made before is replaced whole.
    std::filesystem::remove_all(out, ec);
    OutputSet set(out, std::string("the folder ") + out, {});
    if (!set.makeFolder(out, error) || !writeLandscape(set, landscape, out, error) || !set.commit(error)) return false;
    std::filesystem::copy(bundled, out, std::filesystem::copy_options::recursive | std::filesystem::copy_options::skip_existing,
                          ec);
    if (ec) {
        error = std::string("cannot copy the bundled files: ") + ec.message();
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

// levels: width x height 16-bit heights, row by row from the top (0 black, 65535 white). Writes
// the data set into out and returns 0, or 1 with a one-line reason in error (errorSize bytes).
int zxMakeLandscape(const uint16_t* levels, int width, int height, double size, double rise, int water,
                    double waterLevel, const char* bundled, const char* out, char* error, int errorSize)
{
    std::string why;
    if (make(levels, width, height, size, rise, water != 0, waterLevel, bundled, out, why)) return 0;
    if (error && errorSize > 0) std::snprintf(error, size_t(errorSize), "%s", why.c_str());
    return 1;
}

}  // extern "C"
