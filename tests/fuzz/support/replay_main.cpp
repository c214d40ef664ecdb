// Runs a harness once on every file of the corpus folders named on the command line: the quick,
// deterministic replay that the test suite does under the sanitizers, without libFuzzer.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/support/fuzz_support.h"

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path root = fs::absolute(argv[i]);
        std::error_code ec;
        if (fs::is_regular_file(root, ec)) {
            inputs.push_back(root);
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(root, ec))
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        if (ec) {
            std::fprintf(stderr, "replay: cannot read %s: %s\n", root.c_str(), ec.message().c_str());
            return 1;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs (give corpus folders or files)\n");
        return 1;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "replay: %s\n", path.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replay: %zu inputs, no findings\n", inputs.size());
    return 0;
}
