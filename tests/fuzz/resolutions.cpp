// Fuzzes the display settings file, "Resolutions.txt", as start-up reads it.

#include "state/settings.h"
#include "fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    enterFuzzWorkDir();
    resetProgramState();
    writeInputFile("Resolutions.txt", data, size);
    loadResolutionSettings();
    return 0;
}
