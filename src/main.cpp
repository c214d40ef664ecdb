#include <cstdio>

#include "app/command_line.h"
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
    return runApplication(options);
}
