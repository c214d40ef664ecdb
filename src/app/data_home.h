#pragma once

// An installed program started without --data in a folder that holds no data set runs on its
// own copy of the bundled data set in the user's data folder, so that the log it writes there has
// a writable home and the user's edits survive.

#include <filesystem>
#include <string>
#include <vector>

// True when folder holds at least one of the program's settings or terrain files: it is then
// the user's data set, complete or not, and the program reports what is missing as before.
bool holdsDataSet(const std::filesystem::path& folder);

// The folders an installed program may take its bundled data set from, in order: the install's
// own data folder (found from the running executable through the path from its bin folder to
// its data folder, fixed when it was built, so a moved install still finds it), then zentrix/ in
// each absolute entry of $XDG_DATA_DIRS (default /usr/local/share:/usr/share). Empty for a
// program run from its build folder (beside CMakeCache.txt), which keeps to its working folder.
std::vector<std::filesystem::path> bundledDataFolders();

// The first of bundledDataFolders() that holds a data set; empty when none does.
std::filesystem::path installedDataSet();

// $XDG_DATA_HOME/zentrix, or ~/.local/share/zentrix when XDG_DATA_HOME is unset, empty or not an
// absolute path. Empty when no home folder is known.
std::filesystem::path userDataFolder();

// $XDG_STATE_HOME/zentrix, or ~/.local/state/zentrix when XDG_STATE_HOME is unset, empty or not
// an absolute path: where the log goes when the data folder cannot take it. Empty when no home
// folder is known.
std::filesystem::path userStateFolder();

// Creates folder and whichever folders above it are missing, each for its owner alone (0700, as
// the user's state folders are meant to be). False with error naming the folder and the reason.
bool createPrivateFolders(const std::filesystem::path& folder, std::string& error);

// Copies every file of bundled that target lacks into target (creating it), each under a
// temporary name renamed into place, so an interrupted copy leaves no half file; files already
// in target stay as they are. False with error naming the file and the reason.
bool copyMissingFiles(const std::filesystem::path& bundled, const std::filesystem::path& target, std::string& error);

// The start-up hook: with no --data (dataDir empty) and no data set in the working folder, an
// installed program runs in the user's data folder, and copies its bundled set there first when
// that folder holds no data set yet (without a home folder it runs on the bundled set itself).
// Otherwise dataDir stays as it is. False with error when the copy fails, or when no folder
// holds a data set: the error then names every folder looked in.
bool chooseDataFolder(std::string& dataDir, std::string& error);
