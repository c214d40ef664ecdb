#include "base/checked_file.h"
#include "base/data_folder.h"

#include "base/stop_signals.h"

#include <cerrno>
#include <cstdarg>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::function<void(const std::string&)> readFileObserver;
bool observing = false;
}  // namespace

void setReadFileObserver(std::function<void(const std::string&)> observer) { readFileObserver = std::move(observer); }

std::FILE* openRegularFile(const std::string& path)
{
    if (readFileObserver && !observing) {
        observing = true;
        readFileObserver(dataName(path));
        observing = false;
    }
    errno = 0;
    // Non-blocking only for the open itself, so that a pipe without a writer cannot hang us
    // before its type is known.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int err = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "rb");
    if (!file) {
        const int err = errno;
        ::close(fd);
        errno = err;
    }
    return file;
}

std::string openFailureReason(int err)
{
    if (err == EISDIR) return "is a directory";
    if (err == EINVAL) return "is not a regular file";
    return err ? std::strerror(err) : "unknown error";
}

namespace {

// The first whitespace-separated token of text longer than maxTextTokenLength, or empty.
std::string overlongToken(const std::string& text)
{
    size_t start = 0;
    while (start < text.size()) {
        while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
        size_t end = start;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
        if (end - start > maxTextTokenLength) return text.substr(start, end - start);
        start = end;
    }
    return {};
}

}  // namespace

std::string TextFileFault::message(const std::string& name) const
{
    switch (kind) {
    case Kind::Read: return "cannot read " + name + ": " + (err ? std::strerror(err) : "read error");
    case Kind::TooLarge:
        return name + " is larger than " + std::to_string(maxTextFileBytes >> 20) +
               " MiB, far more than any text file of the program holds";
    case Kind::LongWord:
        return name + ": a word of " + std::to_string(longWord.size()) + " characters, more than the " +
               std::to_string(maxTextTokenLength) + " allowed: " + quoteToken(longWord);
    case Kind::Open: break;
    }
    return "cannot open " + name + ": " + openFailureReason(err);
}

bool readTextFile(const std::string& path, std::string& text, TextFileFault& fault)
{
    text.clear();
    fault = TextFileFault{};
    std::FILE* opened = openRegularFile(path);
    if (!opened) {
        fault.err = errno;
        return false;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, std::fclose);
    // The size a file states is not trusted (files in /proc state 0): reading stops one byte past
    // the limit whatever it says.
    char chunk[65536];
    for (;;) {
        const size_t want = std::min(sizeof chunk, maxTextFileBytes + 1 - text.size());
        errno = 0;
        const size_t n = std::fread(chunk, 1, want, file.get());
        text.append(chunk, n);
        if (text.size() > maxTextFileBytes) {
            fault.kind = TextFileFault::Kind::TooLarge;
            text.clear();
            return false;
        }
        if (n < want) break;
    }
    if (std::ferror(file.get())) {
        fault.kind = TextFileFault::Kind::Read;
        fault.err = errno;
        text.clear();
        return false;
    }
    fault.longWord = overlongToken(text);
    if (!fault.longWord.empty()) {
        fault.kind = TextFileFault::Kind::LongWord;
        text.clear();
        return false;
    }
    return true;
}

std::string quoteToken(const std::string& token)
{
    std::string out = "'";
    const size_t shown = std::min<size_t>(token.size(), 40);
    for (size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(token[i]);
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (token.size() > shown) out += "...";
    return out + "'";
}

std::string printableName(const std::string& name)
{
    const bool plain = name.size() <= maxTextTokenLength &&
                       std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    return plain ? name : quoteToken(name);
}

int createHiddenSibling(const std::string& target, const std::string& suffix, std::string& name)
{
    const size_t nameStart = target.rfind('/') + 1;  // 0 without a folder
    const std::string base = target.substr(nameStart);
    // Most file systems take names of at most 255 bytes; ".NAME.zentrix-XXXXXX" adds 16.
    const bool tooLong = base.size() + 16 + suffix.size() > 255;
    name = target.substr(0, nameStart) + (tooLong ? std::string() : "." + base) + ".zentrix-XXXXXX" + suffix;
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkostemps(buffer.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd >= 0) name = buffer.data();
    return fd;
}

namespace {

// The descriptor a name stands for when it names one of the program's own: -1 for any other.
int ownDescriptor(const std::string& path)
{
    if (path == "/dev/stdin") return 0;
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (const char* folder : {"/dev/fd/", "/proc/self/fd/"}) {
        const size_t n = std::strlen(folder);
        if (path.compare(0, n, folder) != 0 || path.size() == n || path.size() > n + 9) continue;
        int fd = 0;
        for (size_t i = n; i < path.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(path[i]))) return -1;
            fd = fd * 10 + (path[i] - '0');
        }
        return fd;
    }
    return -1;
}

}  // namespace

OutputFile::~OutputFile() { abandon(); }

void OutputFile::forget(const std::string& name)
{
    unregisterUnfinishedFile(unfinishedSlot_);
    unfinishedSlot_ = -1;
    if (!name.empty()) ::unlink(name.c_str());
}

void OutputFile::closeStream()
{
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool OutputFile::open(const std::string& path, const char* what, Accept accept, Unfinished unfinished)
{
    discard();  // also a finished output that was never committed
    path_ = path;
    what_ = what;
    error_.clear();
    seekable_ = false;
    created_ = false;
    unfinished_ = unfinished;
    target_.clear();
    temporary_.clear();
    openErrno_ = 0;
    int err = 0;
    struct stat link {};
    if (const int fd = accept == Accept::AnyFile ? ownDescriptor(path) : -1; fd >= 0) {
        openDescriptor(fd, err);
    } else if (::lstat(path.c_str(), &link) != 0) {
        if (errno != ENOENT) {
            err = errno;
        } else {
            // Exclusive, so that nothing that appears meanwhile is truncated.
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            if (fd >= 0 && (file_ = fdopen(fd, "wb")) == nullptr) ::close(fd);
            err = file_ ? 0 : errno;
            created_ = file_ != nullptr;
            seekable_ = created_;
            if (created_ && unfinished_ == Unfinished::Removed) unfinishedSlot_ = registerUnfinishedFile(path_);
        }
    } else if (accept == Accept::RegularOnly && S_ISLNK(link.st_mode)) {
        error_ = what_ + " " + path_ + " is a symbolic link, which is never followed";
        return false;
    } else if (accept == Accept::RegularOnly && !S_ISREG(link.st_mode) && !S_ISDIR(link.st_mode)) {
        error_ = what_ + " " + path_ + " is not a regular file";
        return false;
    } else {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            err = errno;  // a symbolic link to nothing
        } else if (S_ISDIR(info.st_mode)) {
            err = EISDIR;
        } else if (S_ISREG(info.st_mode)) {
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (!resolved) {
                err = errno;
            } else {
                openReplacement(resolved, info.st_mode, err);
                std::free(resolved);
            }
        } else if (S_ISBLK(info.st_mode)) {
            error_ = "cannot create " + what_ + " " + path_ + ": is a block device, which is never written";
            return false;
        } else {
            openStream(err);
        }
    }
    if (!file_) {
        openErrno_ = err;
        if (error_.empty())
            error_ = "cannot create " + what_ + " " + path_ + ": " + (err ? std::strerror(err) : "unknown error");
        return false;
    }
    return true;
}

bool OutputFile::openDescriptor(int fd, int& err)
{
    // Another descriptor for the same open file, so that what the program writes lands where
    // the descriptor stands (after what others wrote before, before what they write after), and
    // a file opened for appending stays so. Reopening the name would start at offset 0.
    const int flags = fcntl(fd, F_GETFL);
    struct stat info {};
    if (flags < 0 || fstat(fd, &info) != 0) {
        err = EBADF;
        return false;
    }
    if ((flags & O_ACCMODE) == O_RDONLY) {
        error_ = "cannot create " + what_ + " " + path_ + ": the descriptor is not open for writing";
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        err = EISDIR;
        return false;
    }
    if (S_ISBLK(info.st_mode)) {
        error_ = "cannot create " + what_ + " " + path_ + ": is a block device, which is never written";
        return false;
    }
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0 || (file_ = fdopen(copy, "wb")) == nullptr) {
        err = errno;
        if (copy >= 0) ::close(copy);
        return false;
    }
    return true;
}

bool OutputFile::openStream(int& err)
{
    // Without waiting: a pipe nobody reads would block here for ever (ENXIO instead).
    const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        err = errno;
        if (err == ENXIO) {
            error_ = "cannot create " + what_ + " " + path_ + ": no process is reading from the pipe";
            err = 0;
        }
        return false;
    }
    // Once a reader is there, writes may wait for it as they do for any pipe.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    seekable_ = ::lseek(fd, 0, SEEK_CUR) >= 0;
    file_ = fdopen(fd, "wb");
    if (!file_) {
        err = errno;
        ::close(fd);
        return false;
    }
    return true;
}

bool OutputFile::openReplacement(const std::string& target, mode_t mode, int& err)
{
    // The new content goes into a hidden file beside the target (same file system, so the rename
    // is atomic). It takes the old file's permissions, but never its set-user-ID or
    // set-group-ID bit: the new content is not what was made privileged.
    std::string name;
    const int fd = createHiddenSibling(target, "", name);
    if (fd < 0) {
        err = errno;
        return false;
    }
    fchmod(fd, mode & 0777);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        err = errno;
        ::close(fd);
        ::unlink(name.c_str());
        return false;
    }
    target_ = target;
    temporary_ = name;
    unfinishedSlot_ = registerUnfinishedFile(temporary_);
    seekable_ = true;
    return true;
}

void OutputFile::fail(const char* action, int err)
{
    if (!error_.empty()) return;  // the first failure is the cause
    error_ = std::string("cannot ") + action + " " + what_ + " " + path_ + ": " +
             (err ? std::strerror(err) : "write failed");
}

bool OutputFile::write(const void* data, size_t size)
{
    if (!file_ || failed()) return false;
    errno = 0;
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) {
        fail("write", errno);
        return false;
    }
    return true;
}

bool OutputFile::printf(const char* format, ...)
{
    if (!file_ || failed()) return false;
    va_list args;
    va_start(args, format);
    errno = 0;
    const int n = std::vfprintf(file_, format, args);
    va_end(args);
    if (n < 0) {
        fail("write", errno);
        return false;
    }
    return true;
}

bool OutputFile::rewrite(const void* data, size_t size)
{
    if (!file_ || failed()) return false;
    errno = 0;
    if (std::fflush(file_) != 0) {
        fail("write", errno);
        return false;
    }
    if (seekable_) {
        std::rewind(file_);
        // Devices cannot be truncated and need not be; a regular file loses its old content.
        struct stat info {};
        if (fstat(fileno(file_), &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fileno(file_), 0) != 0) {
            fail("write", errno);
            return false;
        }
    }
    return write(data, size);
}

bool OutputFile::writeAt(long offset, const void* data, size_t size)
{
    if (!file_ || failed()) return false;
    errno = 0;
    if (std::fseek(file_, offset, SEEK_SET) != 0) {
        fail("write", errno);
        return false;
    }
    if (!write(data, size)) return false;
    errno = 0;
    if (std::fseek(file_, 0, SEEK_END) != 0) {
        fail("write", errno);
        return false;
    }
    return true;
}

bool OutputFile::flush()
{
    if (!file_ || failed()) return false;
    errno = 0;
    if (std::fflush(file_) != 0) {
        fail("write", errno);
        return false;
    }
    return true;
}

bool OutputFile::close() { return finish() && commit(); }

bool OutputFile::finish()
{
    if (!file_) return !failed();
    errno = 0;
    // Buffered data reaches the disk only here, so a full disk often shows first at the flush.
    if (std::fflush(file_) != 0) fail("write", errno);
    errno = 0;
    if (std::fclose(file_) != 0) fail("close", errno);
    file_ = nullptr;
    if (failed()) {
        abandon();
    } else if (temporary_.empty()) {
        created_ = false;  // complete where it stands: nothing is left to take back
        forget("");
    }
    return !failed();
}

bool OutputFile::commit()
{
    if (file_ && !finish()) return false;
    if (temporary_.empty()) return !failed();
    errno = 0;
    if (!failed() && std::rename(temporary_.c_str(), target_.c_str()) != 0) fail("replace", errno);
    forget(failed() ? temporary_ : "");
    temporary_.clear();
    return !failed();
}

void OutputFile::abandon()
{
    closeStream();
    if (!temporary_.empty()) forget(temporary_);
    else forget(created_ && unfinished_ == Unfinished::Removed ? path_ : "");
    temporary_.clear();
    created_ = false;
}

void OutputFile::discard()
{
    closeStream();
    if (!temporary_.empty()) forget(temporary_);
    else forget(created_ ? path_ : "");
    temporary_.clear();
    created_ = false;
}
