// make_demo_data OUTDIR: draws the pictures, the recorded trajectory, the landscape (its images,
// Terrain.txt and TerrainTextures.txt) and the two sounds of the default data set into OUTDIR. The
// settings files come from data/ in the source tree.

#include <cstdio>
#include <filesystem>
#include <string>

#include "billiard_balls.h"
#include "demo_landscape.h"
#include "demo_sounds.h"
#include "demo_trajectory.h"

namespace {

struct Generator {
    const char* what;
    bool (*write)(const std::filesystem::path& outDir, std::string& error);
};

// One entry per group of assets, written in this order.
const Generator generators[] = {
    {"billiard balls", writeBilliardBalls},
    {"trajectory", writeDemoTrajectory},
    {"landscape", writeDemoLandscape},
    {"sounds", writeDemoSounds},
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_data OUTDIR\n");
        return 2;
    }
    const std::filesystem::path outDir = argv[1];
    for (const Generator& g : generators) {
        std::string error;
        if (!g.write(outDir, error)) {
            std::fprintf(stderr, "make_demo_data: %s: %s\n", g.what, error.c_str());
            return 1;
        }
    }
    return 0;
}
