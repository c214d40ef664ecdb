#pragma once

#include <cstddef>

// The settings files of the bundled data set, data/*.txt in the source tree, built into the tool
// so that it alone writes a complete data folder.
struct BundledFile {
    const char* name;
    const char* text;
};
extern const BundledFile bundledSettings[];
extern const size_t bundledSettingsCount;
