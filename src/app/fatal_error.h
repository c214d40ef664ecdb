#pragma once

#include <string>

// Nothing is thrown through the game code: a step that cannot go on records one message naming
// the file and the problem; start-up stops there, the shut-down sequence runs, and the program
// prints the message and exits with status 1.
void reportFatal(const std::string& message);
bool fatalErrorPending();
const std::string& fatalErrorMessage();
void clearFatalError();

// "cannot open NAME: <system reason>" for a file that fopen/ifstream could not open (uses errno).
std::string cannotOpenMessage(const std::string& fileName);
