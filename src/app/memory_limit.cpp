#include "app/memory_limit.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// What the driver reserves before any terrain: with one rasteriser thread, and for each more.
constexpr long long driverBaseMiB = 640;
constexpr long long perThreadMiB = 160;
// The most threads llvmpipe starts.
constexpr long long driverMaxThreads = 16;

}  // namespace

bool fitAddressSpaceLimit(std::string& error)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return true;
    const long long mib = static_cast<long long>(limit.rlim_cur >> 20);
    if (mib < minimumAddressSpaceMiB) {
        error = "the address-space limit (ulimit -v) of " + std::to_string(mib) + " MiB is below the " +
                std::to_string(minimumAddressSpaceMiB) +
                " MiB the program needs (the graphics driver reserves most of it); raise it or lift it";
        return false;
    }
    if (!std::getenv("LP_NUM_THREADS")) {
        const long long cpus = std::clamp<long long>(sysconf(_SC_NPROCESSORS_ONLN), 1, driverMaxThreads);
        const long long fit = std::max<long long>(1, (mib - driverBaseMiB) / perThreadMiB + 1);
        setenv("LP_NUM_THREADS", std::to_string(std::min(cpus, fit)).c_str(), 0);
    }
    return true;
}
