#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/command_line.h"
#include "app/memory_limit.h"
#include "base/fatal_error.h"
#include "base/stop_signals.h"
#include "app/run.h"

int main(int argc, char** argv)
{
    RunOptions options;
    std::string error;
    if (!parseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "zentrix: %s\n", error.c_str());
        return 2;
    }
    if (options.showHelp) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (options.showVersion) {
        std::printf("zentrix %s\n", ZENTRIX_VERSION);
        return 0;
    }
    // From here on a signal that asks the program to end ends the run as a failure does, so
    // that the outputs follow their rules and no hidden file is left behind.
    installStopHandlers();
    if (!fitAddressSpaceLimit(error)) {
        std::fprintf(stderr, "zentrix: %s\n", error.c_str());
        return 1;
    }
    // Running out of memory is reported like any other failure, as one line with status 1; the
    // outputs' destructors have already put back what they had not finished by then.
    try {
        const int status = runApplication(options);
        cancelStopWatchdog();
        return status;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "zentrix: out of memory while %s\n", currentActivity());
        std::fflush(stderr);
        // The graphics and sound objects left behind belong to a context that is gone.
        std::_Exit(1);
    }
}
