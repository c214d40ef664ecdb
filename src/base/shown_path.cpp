#include "base/shown_path.h"

namespace {
std::string shownFolder;
}  // namespace

void setShownDataFolder(const std::string& absoluteFolder)
{
    shownFolder = absoluteFolder;
    if (!shownFolder.empty() && shownFolder.back() != '/') shownFolder += '/';
}

std::string shownPath(const std::string& name)
{
    if (shownFolder.empty() || name.empty() || name[0] == '/') return name;
    return shownFolder + name;
}
