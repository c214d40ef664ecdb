#pragma once

#include <cstddef>
#include <cstdint>

// A zeroed block of memory for texels and pictures of megabytes. Large blocks are mapped from the
// system and asked for huge pages: filling a 4 MiB texture level then takes two page faults
// instead of a thousand, which is most of what loading a large picture costs.
class PageBlock {
public:
    PageBlock() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit PageBlock(size_t bytes);
    ~PageBlock();
    PageBlock(PageBlock&& other) noexcept;
    PageBlock& operator=(PageBlock&& other) noexcept;
    PageBlock(const PageBlock&) = delete;
    PageBlock& operator=(const PageBlock&) = delete;

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }

private:
    void release() noexcept;
    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    size_t mapped_ = 0;  // bytes mapped from the system; 0 for a block from the heap
};
