// The store's one allocator for pixel buffers, also handed to DevIL. Large blocks are mapped
// 2 MiB-aligned with MADV_HUGEPAGE: the first touch of a fresh 48 MiB buffer through plain
// malloc costs tens of times a memcpy of it, while huge-page backed memory faults in cheaply.
// A few freed large blocks are kept mapped and handed out again, so that the temporary DevIL
// image of every round trip reuses memory that is already faulted in. The cache never costs an
// allocation: one that fails gives the cached blocks back to the system and tries again. And it
// never outlives the work: when the last large block in use is freed, the cached ones go too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace ombrix::memory {

// Blocks of at least this many bytes are mapped with huge pages; smaller ones come from malloc.
inline constexpr std::size_t huge_threshold = std::size_t{1} << 20;

// Every block carries this many zero bytes beyond its end. ILU's 3 × 3 filters read two pixels
// past the last one, and DevIL hands them blocks from this allocator: the slack keeps those reads
// inside memory the block owns and makes what they see (zeros) the same on every run.
inline constexpr std::size_t tail_slack = 64;

// At most this many freed large blocks, and this many bytes in all, stay mapped for reuse while
// any large block is in use.
inline constexpr std::size_t cache_blocks = 4;
inline constexpr std::size_t cache_bytes = std::size_t{512} << 20;

// Returns null when the memory cannot be had. `zeroed` asks for zero-filled bytes.
void* allocate(std::size_t size, bool zeroed = false) noexcept;
// Whether large blocks get huge pages (on by default); benchmarks turn it off for a baseline.
void set_huge_pages(bool enabled) noexcept;
void release(const void* block) noexcept;

// The hooks DevIL allocates and frees through (ilSetMemory). DevIL 1.7.8 also hands its free hook
// blocks it did not get from it (ilSetString keeps a plain strdup copy and frees it through the
// hook later), so the hooks remember their live blocks and give anything else back to free().
void* devil_allocate(std::size_t size) noexcept;
void devil_release(const void* block) noexcept;

// For tests: the `n`th call of `allocate` from now (1 for the next) and every later one fails, as
// when memory runs out; 0 turns failures off. Calls that fail count too.
void fail_allocations_from(std::uint64_t n) noexcept;
// Calls of `allocate` so far.
std::uint64_t allocation_count() noexcept;
// Bytes held in cached free blocks, and the large blocks in use.
std::size_t cached_bytes() noexcept;
std::size_t large_blocks_in_use() noexcept;

// Owning, move-only byte buffer from `allocate`.
class Buffer {
public:
    Buffer() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    explicit Buffer(std::size_t size, bool zeroed = false);
    Buffer(Buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    Buffer& operator=(Buffer&& other) noexcept {
        if (this != &other) {
            release(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { release(data_); }

    std::uint8_t* data() noexcept { return data_; }
    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::uint8_t& operator[](std::size_t i) noexcept { return data_[i]; }
    std::uint8_t operator[](std::size_t i) const noexcept { return data_[i]; }

    Buffer copy() const;

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace ombrix::memory
