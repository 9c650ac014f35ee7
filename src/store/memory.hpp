// The store's one allocator for pixel buffers, also handed to DevIL. Large blocks are mapped
// 2 MiB-aligned with MADV_HUGEPAGE: the first touch of a fresh 48 MiB buffer through plain
// malloc costs tens of times a memcpy of it, while huge-page backed memory faults in cheaply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace ombrix::memory {

// Blocks of at least this many bytes are mapped with huge pages; smaller ones come from malloc.
inline constexpr std::size_t huge_threshold = std::size_t{1} << 20;

// Returns null when the memory cannot be had. `zeroed` asks for zero-filled bytes (mapped
// blocks are always zero-filled, for free).
void* allocate(std::size_t size, bool zeroed = false) noexcept;
// Whether large blocks get huge pages (on by default); benchmarks turn it off for a baseline.
void set_huge_pages(bool enabled) noexcept;
void release(const void* block) noexcept;

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
