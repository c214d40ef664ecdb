#include "app/fatal_error.h"

#include <cerrno>
#include <cstring>

namespace {
std::string pendingMessage;
bool pending = false;
}  // namespace

void reportFatal(const std::string& message)
{
    if (pending) return;  // the first cause is the one worth telling
    pending = true;
    pendingMessage = message;
}

bool fatalErrorPending() { return pending; }
const std::string& fatalErrorMessage() { return pendingMessage; }

void clearFatalError()
{
    pending = false;
    pendingMessage.clear();
}

std::string cannotOpenMessage(const std::string& fileName)
{
    const int err = errno;
    return "cannot open " + fileName + ": " + (err ? std::strerror(err) : "unknown error");
}
