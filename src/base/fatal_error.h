#pragma once

#include <string>

// Nothing is thrown through the game code: a step that cannot go on records one message naming
// the file and the problem; start-up stops there, the shut-down sequence runs, and the program
// prints the message and exits with status 1.
void reportFatal(const std::string& message);
bool fatalErrorPending();
const std::string& fatalErrorMessage();
void clearFatalError();

// "cannot open NAME: <system reason>" for a file that fopen/ifstream could not open (uses errno);
// "NAME is a directory" and "NAME is not a regular file" for the errno values openRegularFile
// gives those.
std::string cannotOpenMessage(const std::string& fileName);

// A value the program can do without: one line "zentrix: warning: MESSAGE" on stderr, and the
// program goes on.
void reportWarning(const std::string& message);

// What the program is doing, for the one line that reports running out of memory ("out of memory
// while building the terrain"): the allocation that fails can be anywhere below it.
void setActivity(const char* what);
const char* currentActivity();
