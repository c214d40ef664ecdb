#include "base/fatal_error.h"

#include <cerrno>
#include <cstdio>

#include "base/checked_file.h"

namespace {
std::string pendingMessage;
bool pending = false;
const char* activity = "starting";
}  // namespace

void setActivity(const char* what) { activity = what; }
const char* currentActivity() { return activity; }

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
    if (err == EISDIR || err == EINVAL) return fileName + " " + openFailureReason(err);
    return "cannot open " + fileName + ": " + openFailureReason(err);
}

void reportWarning(const std::string& message)
{
    std::fprintf(stderr, "zentrix: warning: %s\n", message.c_str());
}
