#include "base/data_folder.h"

namespace {
std::string folder;  // with a trailing '/', or empty
}  // namespace

void setDataFolder(const std::string& absoluteFolder)
{
    folder = absoluteFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
}

const std::string& dataFolder() { return folder; }

std::string dataPath(const std::string& name)
{
    if (folder.empty() || name.empty() || name[0] == '/') return name;
    return folder + name;
}

std::string dataName(const std::string& path)
{
    if (folder.empty() || path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) return path;
    return path.substr(folder.size());
}
