#pragma once

#include <string>

// The data folder: the program never changes its working folder, so that paths given on the
// command line keep the meaning they had where the user typed them. Data files are named
// relative to the data folder (the lists name pictures, the log is "protokoll.txt") and opened
// through dataPath(name); messages name them with shownPath(name), which is the same path.
//
// The folder is set once at start-up: empty where it is the folder the program was started in,
// so names are opened and shown as they are; otherwise its absolute path.
void setDataFolder(const std::string& absoluteFolder);
const std::string& dataFolder();

// name inside the data folder: name itself when no folder is set or name is absolute.
std::string dataPath(const std::string& name);
inline std::string shownPath(const std::string& name) { return dataPath(name); }

// The inverse of dataPath for a path it made: the name relative to the data folder (a recorded
// session lists the files it read by these names, so it can be replayed from another folder).
std::string dataName(const std::string& path);
