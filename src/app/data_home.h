#pragma once

// An installed program started without --data in a folder that holds no data set runs on its
// own copy of the bundled data set in the user's data folder, so that the log it writes there has
// a writable home and the user's edits survive.

#include <filesystem>
#include <string>

// True when folder holds at least one of the program's settings or terrain files: it is then
// the user's data set, complete or not, and the program reports what is missing as before.
bool holdsDataSet(const std::filesystem::path& folder);

// The bundled data set of an installed program: share/zentrix beside the bin folder that holds
// the running executable. Empty when there is none (a program run from its build folder).
std::filesystem::path installedDataSet();

// $XDG_DATA_HOME/zentrix, or ~/.local/share/zentrix when XDG_DATA_HOME is unset, empty or not an
// absolute path. Empty when no home folder is known.
std::filesystem::path userDataFolder();

// Copies every file of bundled that target lacks into target (creating it), each under a
// temporary name renamed into place, so an interrupted copy leaves no half file; files already
// in target stay as they are. False with error naming the file and the reason.
bool copyMissingFiles(const std::filesystem::path& bundled, const std::filesystem::path& target, std::string& error);

// The start-up hook: with no --data (dataDir empty) and no data set in the working folder, an
// installed program runs in the user's data folder, and copies its bundled set there first when
// that folder holds no data set yet. Otherwise dataDir stays as it is. False with error when the
// copy fails.
bool chooseDataFolder(std::string& dataDir, std::string& error);
