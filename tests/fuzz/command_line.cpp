// Fuzzes the command line: the input is split at NUL bytes and newlines into the arguments.

#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args{"zentrix"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0' || c == '\n') {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    RunOptions options;
    std::string error;
    parseCommandLine(static_cast<int>(argv.size()), argv.data(), options, error);
    return 0;
}
