#include "base/checked_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::FILE* openRegularFile(const std::string& path)
{
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

OutputFile::~OutputFile()
{
    if (file_) std::fclose(file_);
}

bool OutputFile::open(const std::string& path, const char* what)
{
    close();
    path_ = path;
    what_ = what;
    error_.clear();
    errno = 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        const int err = errno;
        error_ = "cannot create " + what_ + " " + path_ + ": " + (err ? std::strerror(err) : "unknown error");
        return false;
    }
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
    std::rewind(file_);
    // Devices cannot be truncated and need not be; a regular file loses its old content.
    struct stat info {};
    if (fstat(fileno(file_), &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fileno(file_), 0) != 0) {
        fail("write", errno);
        return false;
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

bool OutputFile::close()
{
    if (!file_) return !failed();
    errno = 0;
    // Buffered data reaches the disk only here, so a full disk often shows first at the flush.
    if (std::fflush(file_) != 0) fail("write", errno);
    errno = 0;
    if (std::fclose(file_) != 0) fail("close", errno);
    file_ = nullptr;
    return !failed();
}
