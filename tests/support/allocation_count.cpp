#include "support/allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
}

long allocationsSoFar() { return allocations.load(); }

// Replacements of the global allocation functions; kept in their own file so no caller sees
// their bodies. Every plain, array and nothrow form is replaced together: a form left out keeps
// the runtime's own (the sanitizer's, say) and would be freed here by a different allocator.
namespace {
void* counted(std::size_t size) noexcept
{
    ++allocations;
    return std::malloc(size ? size : 1);
}
}  // namespace

void* operator new(std::size_t size)
{
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
