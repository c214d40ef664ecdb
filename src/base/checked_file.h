#pragma once

// Files the program reads and writes, with every failure turned into a message that names the
// file and the reason.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include <sys/types.h>

// Opens path for reading in binary mode when it is a regular file. Directories, devices and pipes
// are refused by their type before anything is read (a device can be endless, a pipe can block):
// nullptr with errno EISDIR for a directory, EINVAL for anything else that is not a regular file,
// or the system's errno when the open itself fails.
std::FILE* openRegularFile(const std::string& path);

// Told the path of every openRegularFile call, whether it succeeds or not, so that a recorded
// session can list the data files its run read; a path inside the data folder is told by its
// data name (dataName in base/data_folder.h). Calls made by the observer itself are not told.
void setReadFileObserver(std::function<void(const std::string&)> observer);

// The reason openRegularFile failed, from errno: "is a directory", "is not a regular file" or the
// system's text.
std::string openFailureReason(int err);

// Text files (settings, lists, key scripts) are a few kilobytes; anything near these sizes is not
// one of them, and reading on would only fill memory (a sparse file, /proc/self/pagemap).
inline constexpr size_t maxTextFileBytes = size_t(4) << 20;
// No label, number or file name of these files comes near this many characters.
inline constexpr size_t maxTextTokenLength = 256;

// Why a text file was not read.
struct TextFileFault {
    enum class Kind { Open, Read, TooLarge, LongWord } kind = Kind::Open;
    int err = 0;           // Open and Read: the system's errno
    std::string longWord;  // LongWord: the word
    // What is wrong, after the file's name: "cannot read NAME: reason", "NAME is larger than
    // 4 MiB, ...", "NAME: a word of 301 characters, ...". Open faults are worded by the caller
    // (openFailureReason(err)).
    std::string message(const std::string& name) const;
};

// Reads a whole text file of at most maxTextFileBytes with no word longer than
// maxTextTokenLength. False with fault set when it cannot be opened (as openRegularFile; errno is
// kept), cannot be read, is larger, or holds a longer word.
bool readTextFile(const std::string& path, std::string& text, TextFileFault& fault);

// A token as it reads in a one-line message: in single quotes, cut after 40 characters, with
// control and other invisible bytes written as \t, \n, \xNN.
std::string quoteToken(const std::string& token);

// A file name as it reads in a one-line message: unchanged when it is printable and at most
// maxTextTokenLength characters, otherwise as quoteToken writes it.
std::string printableName(const std::string& name);

// Creates the hidden file beside target that holds its new content until it is renamed over it:
// ".NAME.zentrix-XXXXXX" followed by suffix, or ".zentrix-XXXXXX" followed by suffix where NAME
// is too long to be lengthened. The descriptor (close-on-exec) with name set, or -1 with errno.
int createHiddenSibling(const std::string& target, const std::string& suffix, std::string& name);

// An output file opened when the program starts, so that a bad path fails before any work is
// done, and whose every write and final close are checked: a full disk or a failing device turns
// into one message naming the file and the reason instead of a silently truncated file.
//
// It never destroys what it was not asked to make: a new path is created (and written in place);
// an existing regular file (also behind a symbolic link) is left alone until the output is
// committed, which renames a complete new file from beside it into its place (without set-user-ID
// and set-group-ID bits); a pipe or device is opened without waiting for a reader (a pipe nobody
// reads is refused) and written as a stream. /dev/stdout, /dev/stderr, /dev/stdin and /dev/fd/N
// (or /proc/self/fd/N) stand for the descriptor the program was given, whatever it points to:
// written as a stream from where that descriptor stands, never rewound, truncated or renamed.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    enum class Accept {
        AnyFile,      // regular files, pipes and character devices
        RegularOnly,  // a path that is a symbolic link or not a regular file is refused
    };
    // What becomes of a new file whose output does not complete.
    enum class Unfinished {
        Kept,     // it holds what was written so far (a trace, a sound file, a session)
        Removed,  // it is worth nothing half made (a picture, a copy)
    };
    // False with error() set when path cannot be written.
    bool open(const std::string& path, const char* what, Accept accept = Accept::AnyFile,
              Unfinished unfinished = Unfinished::Kept);
    bool isOpen() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }
    // False for a pipe or a descriptor written in place: headers cannot be brought up to date
    // afterwards.
    bool seekable() const { return seekable_; }

    // False once any write has failed; later writes are skipped. The first failure is kept.
    bool write(const void* data, size_t size);
    bool write(const std::string& text) { return write(text.data(), text.size()); }
    bool printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Replaces the whole content (for files written once at the end, like a screenshot); a
    // stream only gets the new content.
    bool rewrite(const void* data, size_t size);
    // Overwrites size bytes at offset (a header whose sizes grow with the file); later writes go
    // on at the end.
    bool writeAt(long offset, const void* data, size_t size);
    // Hands the buffered data to the system, so that the file is whole if the program stops here.
    bool flush();

    // finish() then commit().
    bool close();
    // Flushes and closes; an existing file is not replaced yet. False with error() set when a
    // write or the close failed (the old file then stays as it was).
    bool finish();
    // Puts a finished output in the place of the existing file. False with error() set when the
    // rename fails.
    bool commit();
    // Ends an output whose run did not complete: an existing file stays as it was, a new one as
    // open() was told.
    void abandon();
    // Closes without keeping anything: a file created by open() is removed, an existing one stays
    // as it was.
    void discard();
    bool failed() const { return !error_.empty(); }
    // "cannot write WHAT PATH: reason"; empty while everything succeeded.
    const std::string& error() const { return error_; }
    // The system's errno when open() failed at the system (EACCES, EROFS, ...); 0 when it
    // succeeded or refused the path by its type.
    int openErrno() const { return openErrno_; }

private:
    bool openStream(int& err);
    bool openDescriptor(int fd, int& err);
    bool openReplacement(const std::string& target, mode_t mode, int& err);
    void fail(const char* action, int err);
    void closeStream();
    void forget(const std::string& name);
    std::FILE* file_ = nullptr;
    bool seekable_ = false;
    bool created_ = false;    // path did not exist: open() made it
    Unfinished unfinished_ = Unfinished::Kept;
    int unfinishedSlot_ = -1;  // the file a stop signal's abrupt end removes
    std::string target_;      // an existing file to be replaced at commit(), resolved through links
    std::string temporary_;   // the new content of target_ until then
    std::string path_;
    std::string what_;
    std::string error_;
    int openErrno_ = 0;
};
