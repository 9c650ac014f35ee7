// Pixel-buffer allocator: a small header before every block records how it was obtained, so that
// `release` (and DevIL's free hook, which gets only the pointer) can give it back the same way.
#include "store/memory.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace ombrix::memory {
namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;
// The header keeps the data 64-byte aligned, enough for any vector load.
constexpr std::size_t header_size = 64;
constexpr std::uint32_t from_malloc = 0x4D414C43;  // "MALC"
constexpr std::uint32_t from_mmap = 0x4D4D4150;    // "MMAP"

struct Header {
    std::uint32_t kind;
    std::size_t mapped_size;  // whole mapping, for munmap; 0 for malloc blocks
};
static_assert(sizeof(Header) <= header_size);

bool huge_pages_enabled = true;

Header* header_of(const void* block) {
    return reinterpret_cast<Header*>(const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(block)) - header_size);
}

void* map_huge(std::size_t size) {
    if (size > SIZE_MAX - header_size - 2 * huge_page) return nullptr;
    const std::size_t wanted = (size + header_size + huge_page - 1) / huge_page * huge_page;
    // Over-map by one huge page so that the block can start on a 2 MiB boundary.
    const std::size_t span = wanted + huge_page;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + huge_page - 1) & ~(huge_page - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const std::size_t tail = span - (aligned - start) - wanted;
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + wanted), tail);
    auto* base = reinterpret_cast<std::uint8_t*>(aligned);
    madvise(base, wanted, MADV_HUGEPAGE);
    auto* h = reinterpret_cast<Header*>(base);
    h->kind = from_mmap;
    h->mapped_size = wanted;
    return base + header_size;
}

}  // namespace

void* allocate(std::size_t size, bool zeroed) noexcept {
    if (size >= huge_threshold && huge_pages_enabled) return map_huge(size);
    if (size > SIZE_MAX - header_size) return nullptr;
    void* raw = zeroed ? std::calloc(1, size + header_size) : std::malloc(size + header_size);
    if (!raw) return nullptr;
    auto* h = static_cast<Header*>(raw);
    h->kind = from_malloc;
    h->mapped_size = 0;
    return static_cast<std::uint8_t*>(raw) + header_size;
}

void set_huge_pages(bool enabled) noexcept { huge_pages_enabled = enabled; }

void release(const void* block) noexcept {
    if (!block) return;
    Header* h = header_of(block);
    if (h->kind == from_mmap) {
        munmap(h, h->mapped_size);
    } else {
        h->kind = 0;
        std::free(h);
    }
}

Buffer::Buffer(std::size_t size, bool zeroed) : size_(size) {
    if (size == 0) return;
    data_ = static_cast<std::uint8_t*>(allocate(size, zeroed));
    if (!data_) {
        size_ = 0;
        throw std::bad_alloc();
    }
}

Buffer Buffer::copy() const {
    Buffer out(size_);
    if (size_) std::memcpy(out.data_, data_, size_);
    return out;
}

}  // namespace ombrix::memory
