#include "platform/quiet_stderr.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

QuietStderr::QuietStderr()
{
    const char* wanted = std::getenv("ZENTRIX_LIBRARY_MESSAGES");
    if (wanted && wanted[0] && wanted[0] != '0') return;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    std::fflush(stderr);
    saved_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (saved_ >= 0 && ::dup2(null, 2) < 0) {
        ::close(saved_);
        saved_ = -1;
    }
    ::close(null);
}

QuietStderr::~QuietStderr()
{
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
}
