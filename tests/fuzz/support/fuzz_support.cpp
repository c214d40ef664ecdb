#include "fuzz/support/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "base/fatal_error.h"
#include "state/settings.h"

void enterFuzzWorkDir()
{
    static bool entered = false;
    if (entered) return;
    // Memory-backed where there is such a folder: every input is written as a file.
    char shm[] = "/dev/shm/zentrix-fuzz-XXXXXX";
    char tmp[] = "/tmp/zentrix-fuzz-XXXXXX";
    const char* dir = mkdtemp(shm);
    if (!dir) dir = mkdtemp(tmp);
    if (!dir || chdir(dir) != 0) {
        std::perror("zentrix fuzz: cannot make a scratch folder");
        std::abort();
    }
    entered = true;
    // Left behind on purpose: libFuzzer ends the process with _exit, past any clean-up.
}

void writeInputFile(const char* name, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(name, "wb");
    if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::perror("zentrix fuzz: cannot write the input file");
        std::abort();
    }
}

void resetProgramState()
{
    clearFatalError();
    appSettings = AppSettings{};
}
