#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The session file of --record and --replay: everything a run's outcome depends on that does not
// come from the data folder. Plain text, one line per frame, so it can be read and diffed:
//
//   zentrix session 1
//   seed 3141592
//   data Terrain.txt 1234 9f3a0c11d2e4b587
//   data Explosion.wav missing
//   start 5012 5012*3
//   frame 0 keys UP LEFT ticks 5120 5121*31 5141
//   frame 1 keys ? ticks 5141 5162
//   end escape
//
// "start" holds the tick values read during start-up, "frame N" the key state that frame read
// ("?" when the read failed or did not happen, so the last state stays) and the tick values it
// read, in order (V*N: the value V read N times). "data" names a file the run read with its size
// and digest. A file that ends on a frame line is whole up to that frame; a last line without its
// newline is a frame cut off in the middle.

inline constexpr int sessionFormatVersion = 1;

struct SessionDataFile {
    std::string name;
    bool present = false;
    uint64_t size = 0;
    uint64_t digest = 0;
};

struct TickRun {
    uint32_t value = 0;
    uint32_t count = 0;
};

struct SessionFrame {
    bool keysRead = false;
    std::vector<uint8_t> keysDown;  // key codes, when keysRead
    size_t firstRun = 0;            // into Session::tickRuns
    size_t runCount = 0;
};

struct Session {
    uint32_t seed = 0;
    std::vector<SessionDataFile> dataFiles;
    std::vector<TickRun> tickRuns;
    size_t startRuns = 0;  // the first startRuns runs are the start-up's
    std::vector<SessionFrame> frames;
    std::string end;  // "escape", "close", "frames", "error"; empty when the file stops earlier
};

// A run-length list of tick values as it is written: "5012 5013*3".
void appendTickRuns(std::string& line, const std::vector<TickRun>& runs, size_t first, size_t count);

std::string sessionHeader(uint32_t seed);
std::string sessionDataLine(const SessionDataFile& file);
// keys: the 256-byte state, or null for a frame whose read failed.
std::string sessionFrameLine(int64_t index, const uint8_t* keys, const std::vector<TickRun>& runs);

// False with error ("NAME:LINE: what is wrong") when text is not a session this program can replay.
bool parseSession(const std::string& text, const std::string& name, Session& out, std::string& error);
// Reads and parses a session file; error names the file.
bool loadSession(const std::string& path, Session& out, std::string& error);

// The size and digest (64-bit FNV-1a) of a file as the run would read it; present false when it
// cannot be opened as a regular file.
SessionDataFile digestDataFile(const std::string& name);
// The first recorded data file that differs from what the data folder holds now, or empty.
std::string firstDifferingDataFile(const Session& session, std::string& how);
