#pragma once

#include <cstdio>
#include <string>

// One CSV row per frame, written after the frame's pacing step, for tests and for users who want
// to see what the simulation did.
class TraceWriter {
public:
    ~TraceWriter();
    // False with error when the file cannot be created.
    bool open(const std::string& path, std::string& error);
    void writeRow();
    void close();

private:
    std::FILE* file_ = nullptr;
};
