#pragma once

// Shared by the fuzz harnesses: each harness defines LLVMFuzzerTestOneInput and feeds the bytes to
// one reader of the program, the way the program meets that input.

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Makes a scratch folder the working directory, once per process: the program reads its data
// files from the working directory by their bare names.
void enterFuzzWorkDir();

// Writes the input as the named file in the working directory.
void writeInputFile(const char* name, const uint8_t* data, size_t size);

// Forgets a fatal error and everything start-up set, so that each input starts afresh.
void resetProgramState();
