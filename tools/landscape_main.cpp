// zentrix-landscape: writes a complete data folder for zentrix, its landscape either from a
// height-map picture or generated from a seed (the bundled data set is seed 1).

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "billiard_balls.h"
#include "bundled_settings.h"
#include "demo_landscape.h"
#include "demo_sounds.h"
#include "demo_trajectory.h"
#include "landscape.h"
#include "output_files.h"
#include "base/path_option.h"
#include "platform/image/height_picture.h"

namespace {

const char* const usage =
    "Usage: zentrix-landscape --out DIR [--from PICTURE [--size S] [--height H] [--water LEVEL]]\n"
    "                         [--seed N] [--preview FILE.png] [--overwrite] [--help] [--version]\n"
    "\n"
    "Writes a complete data folder that 'zentrix --data DIR' runs on: the landscape (Terrain.txt,\n"
    "TerrainTextures.txt, Landscape/), the settings files, the ball pictures, the trajectory and\n"
    "the two sounds.\n"
    "\n"
    "  --out DIR          the data folder to write (created when missing)\n"
    "  --from PICTURE     the landscape from a height-map picture (PNG of 8 or 16 bits, grey or\n"
    "                     colour read as luminance, BMP or JPEG; at most 8192 texels a side)\n"
    "  --size S           the picture covers S x S world units centred on the origin (default 1000)\n"
    "  --height H         white stands H units above black (default 100)\n"
    "  --water LEVEL      a lake wherever the ground is below LEVEL units above black\n"
    "  --seed N           without --from: generate the landscape from seed N, 0 to 1000000\n"
    "                     (default 1, the bundled landscape)\n"
    "  --preview FILE     also write a top-down picture of the result as PNG (512 x 512);\n"
    "                     the name must end in .png\n"
    "  --overwrite        also replace the settings files, pictures and sounds already in DIR\n"
    "  --help, --version  print and exit\n"
    "\n"
    "Orientation: the picture's columns run left to right along +x, its top row is the far edge\n"
    "(+z, the way the camera faces at the start, from (0, -20)); its bottom row the near edge.\n"
    "Each texel's value is the height at its centre; between centres the ground is interpolated.\n"
    "A 16-bit picture keeps about 766 height levels, an 8-bit one 256.\n"
    "\n"
    "The landscape files are always written; the other files of the data set are written only\n"
    "where missing, so edited settings survive, unless --overwrite is given.\n"
    "\n"
    "Every file is written in full beside its place first and all are moved into place together:\n"
    "a run that fails leaves the folder and the preview as they were.\n"
    "\n"
    "Exit status: 0 written, 1 bad input or a file that cannot be read or written, 2 a bad\n"
    "command line (a --preview or --from that is a file of the set, or each other).\n";

struct Options {
    std::string out, from, preview;
    float size = 1000.0f, height = 100.0f, water = 0.0f;
    bool sizeGiven = false, heightGiven = false, waterGiven = false, seedGiven = false, overwrite = false;
    int seed = 1;
};

bool parseNumber(const std::string& option, const char* text, double low, double high, double& out, std::string& error)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v) || v < low || v > high) {
        char range[120];
        std::snprintf(range, sizeof range, "a number from %g to %g", low, high);
        error = option + " needs " + range + ", not '" + text + "'";
        return false;
    }
    out = v;
    return true;
}

bool parse(int argc, char** argv, Options& o, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool takesValue = arg == "--out" || arg == "--from" || arg == "--preview" || arg == "--size" ||
                                arg == "--height" || arg == "--water" || arg == "--seed";
        if (!takesValue) {
            if (arg == "--overwrite") {
                o.overwrite = true;
                continue;
            }
            error = arg.rfind("-", 0) == 0 ? "unknown option '" + arg + "' (see --help)"
                                           : "unexpected argument '" + arg + "' (the folder to write is given with --out)";
            return false;
        }
        if (i + 1 >= argc) {
            error = arg + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        const bool isPath = arg == "--out" || arg == "--from" || arg == "--preview";
        if (isPath) {
            // The preview is always a PNG, so its name must say so.
            error = arg == "--preview" ? pathOptionFault(arg, value, "file name", {".png"})
                                       : pathOptionFault(arg, value, arg == "--out" ? "folder name" : "file name");
            if (!error.empty()) return false;
        }
        // An option never becomes a file or folder name: "--out --help" is a mistake, not a
        // folder called "--help".
        if (isPath && value[0] == '-') {
            error = arg + " needs a file or folder name, not '" + value + "' (write ./" + value + " for a name starting with -)";
            return false;
        }
        double v = 0;
        if (arg == "--out") o.out = value;
        else if (arg == "--from") o.from = value;
        else if (arg == "--preview") o.preview = value;
        else if (arg == "--size") {
            if (!parseNumber(arg, value, 1e-3, 1e6, v, error)) return false;
            o.size = float(v);
            o.sizeGiven = true;
        } else if (arg == "--height") {
            if (!parseNumber(arg, value, 1e-3, 1e5, v, error)) return false;
            o.height = float(v);
            o.heightGiven = true;
        } else if (arg == "--water") {
            if (!parseNumber(arg, value, -1e5, 1e5, v, error)) return false;
            o.water = float(v);
            o.waterGiven = true;
        } else {
            if (!parseNumber(arg, value, 0, 1000000, v, error) || v != std::floor(v)) {
                error = "--seed needs a whole number from 0 to 1000000, not '" + std::string(value) + "'";
                return false;
            }
            o.seed = int(v);
            o.seedGiven = true;
        }
    }
    if (o.out.empty()) {
        error = "the folder to write is missing: give --out DIR (see --help)";
        return false;
    }
    if (!o.from.empty() && o.seedGiven) {
        error = "--seed generates a landscape; it cannot be combined with --from";
        return false;
    }
    if (o.from.empty() && (o.sizeGiven || o.heightGiven || o.waterGiven)) {
        error = "--size, --height and --water describe a picture's landscape: they need --from";
        return false;
    }
    return true;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "zentrix-landscape: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("zentrix-landscape %s\n", ZENTRIX_VERSION);
            return 0;
        }
    }
    Options o;
    std::string error;
    if (!parse(argc, argv, o, error)) {
        std::fprintf(stderr, "zentrix-landscape: %s\n", error.c_str());
        return 2;
    }

    LandscapeSpec spec;
    HeightPicture picture;
    if (!o.from.empty()) {
        if (!loadHeightPicture(o.from, picture, error)) return fail("cannot read the height picture " + o.from + ": " + error);
        if (picture.width < 1 || picture.height < 1) return fail("the height picture " + o.from + " holds no texels");
        spec = pictureLandscape(picture, o.size, o.height, o.waterGiven, o.water);
    } else {
        spec = demoLandscape(o.seed);
    }
    const Landscape landscape = layOutLandscape(spec);

    const std::filesystem::path out = o.out;
    const Existing others = o.overwrite ? Existing::Replace : Existing::Keep;
    std::vector<RunFile> inputs;
    if (!o.from.empty()) inputs.push_back({o.from, "--from " + o.from});
    // The whole set is written beside the folder's files and moved into place at the end, so a
    // failure on the way (a full disk) leaves the folder as it was. The preview comes first: no
    // file of the set may be it.
    OutputSet set(out, "--out " + o.out, inputs);
    const auto writeAll = [&] {
        if (!o.preview.empty() && !writePreview(set, landscape, o.preview, "--preview " + o.preview, 512, error))
            return false;
        if (!set.makeFolder(out, error) || !writeLandscape(set, landscape, out, error)) return false;
        for (size_t i = 0; i < bundledSettingsCount; ++i)
            if (!set.writeText(out / bundledSettings[i].name, others, bundledSettings[i].text, error)) return false;
        return writeBilliardBalls(set, out, others, error) && writeDemoTrajectory(set, out, others, error) &&
               writeDemoSounds(set, out, others, error) && set.commit(error);
    };
    if (!writeAll()) {
        if (!set.clashed()) return fail(error);
        std::fprintf(stderr, "zentrix-landscape: %s\n", error.c_str());
        return 2;
    }
    return 0;
}
