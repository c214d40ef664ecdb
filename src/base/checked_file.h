#pragma once

// Files the program reads and writes, with every failure turned into a message that names the
// file and the reason.

#include <cstddef>
#include <cstdio>
#include <string>

// Opens path for reading in binary mode when it is a regular file. Directories, devices and pipes
// are refused by their type before anything is read (a device can be endless, a pipe can block):
// nullptr with errno EISDIR for a directory, EINVAL for anything else that is not a regular file,
// or the system's errno when the open itself fails.
std::FILE* openRegularFile(const std::string& path);

// The reason openRegularFile failed, from errno: "is a directory", "is not a regular file" or the
// system's text.
std::string openFailureReason(int err);

// An output file opened when the program starts, so that a bad path fails before any work is
// done, and whose every write and final close are checked: a full disk or a failing device turns
// into one message naming the file and the reason instead of a silently truncated file.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates path. False with error() set when it cannot.
    bool open(const std::string& path, const char* what);
    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    // False once any write has failed; later writes are skipped. The first failure is kept.
    bool write(const void* data, size_t size);
    bool write(const std::string& text) { return write(text.data(), text.size()); }
    bool printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Replaces the whole content (for files written once at the end, like a screenshot).
    bool rewrite(const void* data, size_t size);
    // Overwrites size bytes at offset (a header whose sizes grow with the file); later writes go
    // on at the end.
    bool writeAt(long offset, const void* data, size_t size);
    // Hands the buffered data to the system, so that the file is whole if the program stops here.
    bool flush();

    // Flushes and closes; false with error() set when a write or the close failed.
    bool close();
    bool failed() const { return !error_.empty(); }
    // "cannot write WHAT PATH: reason"; empty while everything succeeded.
    const std::string& error() const { return error_; }

private:
    void fail(const char* action, int err);
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string what_;
    std::string error_;
};
