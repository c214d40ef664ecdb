#pragma once

#include <string>

#include "base/checked_file.h"

// One CSV row per frame, written after the frame's pacing step, for tests and for users who want
// to see what the simulation did.
class TraceWriter {
public:
    // False with error when the file cannot be created.
    bool open(const std::string& path, std::string& error);
    // False once a write has failed (error() tells which file and why); later rows are dropped.
    bool writeRow();
    // False when a write or the close failed; an existing file is replaced only by commit().
    bool finish();
    bool commit() { return file_.commit(); }
    // A run that did not complete: an existing file stays as it was, a new one keeps its rows.
    void abandon() { file_.abandon(); }
    const std::string& error() const { return file_.error(); }

private:
    OutputFile file_;
};
