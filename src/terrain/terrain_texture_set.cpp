#include "terrain/terrain_texture_set.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/fatal_error.h"
#include "base/token_reader.h"
#include "base/checked_file.h"
#include "terrain/terrain_file.h"
#include "textures/picture.h"
#include "base/data_folder.h"

TerrainTextureSet* terrainTextures = nullptr;

namespace {

// A count is a whole token of digits: "12abc" or "1e40" is not a count, and neither is a number
// too large for a list.
bool parseCount(const std::string& token, int& count)
{
    size_t i = (token[0] == '+' || token[0] == '-') ? 1 : 0;
    if (i == token.size()) return false;
    for (size_t k = i; k < token.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(token[k]))) return false;
    errno = 0;
    const long long v = std::strtoll(token.c_str(), nullptr, 10);
    if (errno == ERANGE || v > INT_MAX || v < INT_MIN) return false;
    count = static_cast<int>(v);
    return true;
}

// One "label count name..." section; the label and the names are single words. False after
// reporting what is wrong.
bool readSection(TokenReader& in, const std::string& listFileName, const char* what, std::vector<std::string>& names)
{
    std::string label, token;
    int count = 0;
    if (!in.readWord(label) || !in.readWord(token)) {
        reportFatal(shownPath(listFileName) + ": expected the number of " + what + ", found the end of the file");
        return false;
    }
    if (!parseCount(token, count)) {
        reportFatal(shownPath(listFileName) + ": the number of " + what + " must be a whole number from 0 to " +
                    std::to_string(INT_MAX) + ", not " + quoteToken(token));
        return false;
    }
    if (count < 0) {
        reportFatal(shownPath(listFileName) + ": the number of " + what + " is negative (" + std::to_string(count) + ")");
        return false;
    }
    // No reserve: a count far beyond the names present must not allocate for it.
    for (int i = 0; i < count; ++i) {
        std::string name;
        if (!in.readWord(name)) {
            reportFatal(shownPath(listFileName) + ": the list of " + what + " ends after " + std::to_string(i) + " of " +
                        std::to_string(count) + " names");
            return false;
        }
        names.push_back(std::move(name));
    }
    return true;
}

// The textures' share of the terrain budget, from the image headers, before any is decoded.
bool withinBudget(const std::string& listFileName, const char* what, const std::vector<std::string>& names,
                  uint64_t& used)
{
    for (size_t i = 0; i < names.size(); ++i) {
        const PictureSize probe = pictureReader() ? pictureReader()->size(names[i]) : PictureSize{};
        if (!probe.known) continue;  // it fails to load, with its own warning, and takes nothing
        used += textureBytes(probe.width, probe.height);
        if (used > terrainMemoryBudget) {
            reportFatal(shownPath(listFileName) + ": " + what + " " + std::to_string(i) + " (" + shownPath(names[i]) + ", " +
                        std::to_string(probe.width) + " x " + std::to_string(probe.height) +
                        "): the textures would take " + std::to_string(used) +
                        " bytes with this one, more than the terrain budget of " +
                        std::to_string(terrainMemoryBudget) + " bytes (1.5 GiB)");
            return false;
        }
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
    TokenReader in;
    if (!in.openRequired(listFileName)) return;
    std::vector<std::string> baseNames, detailNames, heightMapNames;
    if (!readSection(in, listFileName, "base textures", baseNames) ||
        !readSection(in, listFileName, "detail textures", detailNames) ||
        !readSection(in, listFileName, "height maps", heightMapNames))
        return;
    uint64_t used = 0;
    if (!withinBudget(listFileName, "base texture", baseNames, used) ||
        !withinBudget(listFileName, "detail texture", detailNames, used) ||
        !withinBudget(listFileName, "height map", heightMapNames, used))
        return;
    textureBytes = used;

    baseTextures = loadAll(baseNames);
    detailTextures = loadAll(detailNames);
    heightMaps = loadAll(heightMapNames);
}

std::vector<std::string> listedTextureNames(const std::string& listFileName)
{
    std::vector<std::string> names;
    TokenReader in;
    if (!in.open(listFileName)) return names;
    for (int section = 0; section < 3; ++section) {
        std::string label, token, name;
        int count = 0;
        if (!in.readWord(label) || !in.readWord(token) || !parseCount(token, count)) break;
        for (int i = 0; i < count && in.readWord(name); ++i) names.push_back(name);
    }
    return names;
}

TerrainTextureSet::~TerrainTextureSet()
{
    // Released in the designed order, not the reverse of declaration.
    baseTextures.clear();
    heightMaps.clear();
    detailTextures.clear();
}
