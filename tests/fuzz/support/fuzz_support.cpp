#include "fuzz/support/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "base/fatal_error.h"
#include "state/settings.h"

void enterFuzzWorkDir()
{
    static bool entered = false;
    if (entered) return;
    // Memory-backed where there is such a folder: every input is written as a file. The process
    // number in the name lets scripts/fuzz.sh remove it after libFuzzer, which ends the process
    // with _exit, past any clean-up; a corpus replay removes it itself.
    const std::string stem = "zentrix-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
    static std::string shm = "/dev/shm/" + stem, tmp = "/tmp/" + stem;
    const char* dir = mkdtemp(shm.data());
    if (!dir) dir = mkdtemp(tmp.data());
    if (!dir || chdir(dir) != 0) {
        std::perror("zentrix fuzz: cannot make a scratch folder");
        std::abort();
    }
    entered = true;
    static std::string made = dir;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(made, ec);
    });
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
