#include "app/run_files.h"

#include <filesystem>

#include <sys/stat.h>

#include "state/settings.h"
#include "base/token_reader.h"
#include "sound/sound_system.h"
#include "terrain/terrain_file.h"
#include "terrain/terrain_texture_set.h"
#include "world/game_world.h"
#include "world/trajectory.h"
#include "base/data_folder.h"

namespace {

// Where a path that does not exist yet would be created: through symbolic links that point
// nowhere yet, too.
std::filesystem::path whereCreated(const std::string& path, std::error_code& ec)
{
    namespace fs = std::filesystem;
    fs::path p = fs::absolute(path, ec);
    struct stat link {};
    for (int hops = 0; hops < 40 && !ec && ::lstat(p.c_str(), &link) == 0 && S_ISLNK(link.st_mode); ++hops) {
        const fs::path target = fs::read_symlink(p, ec);
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return ec ? p : fs::weakly_canonical(p, ec);
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    const bool aExists = ::stat(a.c_str(), &sa) == 0;
    const bool bExists = ::stat(b.c_str(), &sb) == 0;
    if (aExists && bExists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (aExists || bExists) return false;
    std::error_code ea, eb;
    const auto ra = whereCreated(a, ea);
    const auto rb = whereCreated(b, eb);
    return !ea && !eb && ra == rb;
}

bool checkOutputsAgainstInputs(const std::vector<RunFile>& outputs, const std::vector<RunFile>& inputs,
                               std::string& error)
{
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (const RunFile& input : inputs)
            if (sameFile(outputs[i].path, input.path)) {
                error = outputs[i].name + " is the same file as " + input.name + ", which the run reads";
                return false;
            }
        for (size_t k = i + 1; k < outputs.size(); ++k)
            if (sameFile(outputs[i].path, outputs[k].path)) {
                error = outputs[i].name + " and " + outputs[k].name + " are the same file";
                return false;
            }
    }
    return true;
}

std::vector<RunFile> dataFolderInputs()
{
    std::vector<RunFile> inputs;
    for (const char* name : {resolutionFileName, renderingFileName, gameSettingsFileName, trajectoryFileName,
                             terrainTextureListFileName, terrainFileName, followerBallFileName, projectileBallFileName,
                             musicFileName, explosionFileName})
        inputs.push_back({dataPath(name), "the input " + shownPath(name)});
    for (const std::string& image : listedTextureNames(terrainTextureListFileName))
        inputs.push_back({dataPath(image), "the image " + shownPath(image) + " (listed in " + shownPath(terrainTextureListFileName) + ")"});
    return inputs;
}
