#pragma once

#include <string>

// Data files are opened by their names in the data folder, which the program makes its working
// folder. When that is not the folder the program was started in, a message naming a data file
// shows where it is: the program sets the data folder's absolute path once, and the readers word
// their messages with shownPath(name).
void setShownDataFolder(const std::string& absoluteFolder);  // empty: names are shown as they are

// name with the data folder in front, when one is set and name is relative; otherwise name.
std::string shownPath(const std::string& name);
