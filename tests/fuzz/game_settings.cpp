// Fuzzes the game settings file, "SpielEinstellungen.txt", as start-up reads it.

#include "state/settings.h"
#include "fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    enterFuzzWorkDir();
    resetProgramState();
    writeInputFile("SpielEinstellungen.txt", data, size);
    loadGameSettings();
    return 0;
}
