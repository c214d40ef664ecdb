#pragma once

// Result codes of the font and sound operations: 0 success, negative failure.

#include <cstdint>

inline constexpr int32_t S_OK = 0;
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);
inline bool succeeded(int32_t result) { return result >= 0; }
