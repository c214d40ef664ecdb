#pragma once

#include <string>

// The least address space (ulimit -v) a run needs: a software renderer's threads reserve most of
// it (measured with Mesa's llvmpipe: about 625 MiB with one rasteriser thread and no terrain,
// some 145 MiB more for each further thread). Below it the driver can fail inside its own code
// while it makes the context or compiles programs, where no message is possible.
inline constexpr long long minimumAddressSpaceMiB = 768;

// Under an address-space limit, refuses one below minimumAddressSpaceMiB (false, error set to one
// line naming the limit), and otherwise lets the software renderer start only as many threads as
// the limit holds (unless LP_NUM_THREADS is set already). True without a limit.
bool fitAddressSpaceLimit(std::string& error);
