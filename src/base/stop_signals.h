#pragma once

// The signals that ask a program to end (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2) end
// a run as a failure does: the run notices the request between frames (and between the pictures
// and sound blocks of a long encode) and ends early, so the outputs follow their rules for a run
// that did not complete. Where it cannot notice in time (stuck in a library, a write that waits
// on a reader), a watchdog ends the program stopGraceSeconds after the request, and a second
// request ends it at once: both remove the files registered below and exit with status 1 and
// one line, without touching anything else.

#include <string>

inline constexpr unsigned stopGraceSeconds = 3;

// Installs the handlers, and ignores SIGPIPE and SIGXFSZ so that a reader that goes away or a
// file-size limit becomes a failed write with its own message. A signal that was ignored when
// the program started (nohup, a background job) stays ignored.
void installStopHandlers();
// The signal that asked the program to end, or 0.
int stopSignal();
// "stopped by SIGTERM".
std::string stopMessage();
// The run has reached its end by itself: the watchdog is no longer wanted.
void cancelStopWatchdog();

// Files that an abrupt end removes: the hidden replacement of an existing output, a new output
// that is worth nothing unfinished. The path is copied into a fixed table (the handler may not
// allocate); a slot number, or -1 when the table is full or the path too long (that file is
// then left behind by an abrupt end, as before).
int registerUnfinishedFile(const std::string& path);
void unregisterUnfinishedFile(int slot);
