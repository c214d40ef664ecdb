#pragma once

// Result codes of the font and sound operations: 0 success, negative failure.

#include <cstdint>

inline constexpr int32_t S_OK = 0;
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);
// An operation on an object that was never created or set up.
inline constexpr int32_t CO_E_NOTINITIALIZED = static_cast<int32_t>(0x800401F0u);
inline bool succeeded(int32_t result) { return result >= 0; }
