#pragma once

// Which of OpenAL Soft's back-ends a run lets the library probe. The library probes every
// back-end it was built with on its first call, whatever device is then opened, and some of them
// can stall the start: JACK's client library retries a stale database in /dev/shm for 18 s
// before it gives up. So a run names the back-ends itself, unless the user did.

#include <string>
#include <vector>

// The value for ALSOFT_DRIVERS, or empty to leave the library's own choice. A loopback run
// (sound into a file) mixes without any back-end and always gets "null". On the sound device the
// user's choice wins: an ALSOFT_DRIVERS of their own (envDrivers non-null), or a "drivers" setting
// in one of configFiles; otherwise every back-end but JACK is tried, which is used only when
// asked for.
std::string openAlDriverChoice(bool loopback, const char* envDrivers, const std::vector<std::string>& configFiles);

// True when the OpenAL Soft configuration file at path sets "drivers" in its general section.
// Reads at most the first 64 KiB; a missing or unreadable file sets nothing.
bool configSetsDrivers(const std::string& path);

// The configuration files OpenAL Soft reads, in its order, from the environment.
std::vector<std::string> openAlConfigFiles();

// Sets ALSOFT_DRIVERS for this process before the library's first call, as chosen above.
void chooseOpenAlDrivers(bool loopback);
