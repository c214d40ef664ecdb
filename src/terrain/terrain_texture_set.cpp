#include "terrain/terrain_texture_set.h"

#include <fstream>

#include "app/fatal_error.h"

TerrainTextureSet* terrainTextures = nullptr;

namespace {

// One "label count name..." section. The count is read like "%d"; the label and the names are
// single words. False after reporting what is wrong.
bool readSection(std::istream& in, const std::string& listFileName, const char* what, std::vector<std::string>& names)
{
    std::string label;
    int count = 0;
    if (!(in >> label >> count)) {
        reportFatal(listFileName + ": expected the number of " + what);
        return false;
    }
    if (count < 0) {
        reportFatal(listFileName + ": the number of " + what + " is negative (" + std::to_string(count) + ")");
        return false;
    }
    // No reserve: a count far beyond the names present must not allocate for it.
    for (int i = 0; i < count; ++i) {
        std::string name;
        if (!(in >> name)) {
            reportFatal(listFileName + ": the list of " + what + " ends after " + std::to_string(i) + " of " +
                        std::to_string(count) + " names");
            return false;
        }
        names.push_back(std::move(name));
    }
    return true;
}

std::vector<TextureFile> loadAll(const std::vector<std::string>& names)
{
    std::vector<TextureFile> textures(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        textures[i].fileName = names[i];
        textures[i].load();
    }
    return textures;
}

}  // namespace

TerrainTextureSet::TerrainTextureSet(const std::string& listFileName)
{
    std::ifstream in(listFileName);
    if (!in) {
        reportFatal(cannotOpenMessage(listFileName));
        return;
    }
    std::vector<std::string> baseNames, detailNames, heightMapNames;
    if (!readSection(in, listFileName, "base textures", baseNames) ||
        !readSection(in, listFileName, "detail textures", detailNames) ||
        !readSection(in, listFileName, "height maps", heightMapNames))
        return;

    baseTextures = loadAll(baseNames);
    detailTextures = loadAll(detailNames);
    heightMaps = loadAll(heightMapNames);
}

TerrainTextureSet::~TerrainTextureSet()
{
    // Released in the designed order, not the reverse of declaration.
    baseTextures.clear();
    heightMaps.clear();
    detailTextures.clear();
}
