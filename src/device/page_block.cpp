#include "device/page_block.h"

#include <cstdlib>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace {

constexpr size_t hugePage = size_t(2) << 20;

// Mapped blocks are invisible to AddressSanitizer, so sanitized builds keep every block on the
// heap where overruns are caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool mapLargeBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool mapLargeBlocks = false;
#else
constexpr bool mapLargeBlocks = true;
#endif
#else
constexpr bool mapLargeBlocks = true;
#endif

}  // namespace

PageBlock::PageBlock(size_t bytes) : size_(bytes)
{
    if (bytes == 0) return;
    if (mapLargeBlocks && bytes >= hugePage) {
        const size_t length = (bytes + hugePage - 1) / hugePage * hugePage;
        void* mapped = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped != MAP_FAILED) {
            madvise(mapped, length, MADV_HUGEPAGE);  // only advice: without huge pages it still works
            bytes_ = static_cast<uint8_t*>(mapped);
            mapped_ = length;
            return;
        }
    }
    bytes_ = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!bytes_) {
        size_ = 0;
        throw std::bad_alloc();
    }
}

PageBlock::~PageBlock() { release(); }

PageBlock::PageBlock(PageBlock&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0))
{
}

PageBlock& PageBlock::operator=(PageBlock&& other) noexcept
{
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

void PageBlock::release() noexcept
{
    if (mapped_)
        munmap(bytes_, mapped_);
    else
        std::free(bytes_);
    bytes_ = nullptr;
    size_ = mapped_ = 0;
}
