// Pixel-buffer allocator: a small header before every block records how it was obtained, so that
// `release` (and DevIL's free hook, which gets only the pointer) can give it back the same way.
// Layout of every block: header (64 bytes), the caller's bytes, `tail_slack` zero bytes.
#include "store/memory.hpp"

#include <sys/mman.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#if defined(__SANITIZE_ADDRESS__)
#define OMBRIX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OMBRIX_ASAN 1
#endif
#endif

#ifdef OMBRIX_ASAN
#include <sanitizer/asan_interface.h>
#endif

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
    std::size_t size;         // the caller's bytes
};
static_assert(sizeof(Header) <= header_size);

bool huge_pages_enabled = true;
// The allocation-failure hook: the value of `allocations` at which failures start, 0 for never.
std::atomic<std::uint64_t> allocations{0};
std::atomic<std::uint64_t> failing_from{0};
// Large blocks handed out and not yet released.
std::atomic<std::size_t> large_in_use{0};

#ifdef OMBRIX_ASAN
// Under AddressSanitizer the header and the slack of every block are poisoned, as no code of ours
// may touch them (DevIL's own reads into the slack are not instrumented and stay allowed), and so is
// a cached mapping as a whole, so that a use after free is caught on every path.
void poison(const void* p, std::size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
void unpoison(const void* p, std::size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }
#else
void poison(const void*, std::size_t) {}
void unpoison(const void*, std::size_t) {}
#endif

Header* header_of(const void* block) {
    return reinterpret_cast<Header*>(const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(block)) - header_size);
}

// Freed mappings kept for reuse, most recent last.
struct Cache {
    std::mutex lock;
    std::array<std::uint8_t*, cache_blocks> base{};
    std::array<std::size_t, cache_blocks> length{};
    std::size_t count = 0;
    std::size_t bytes = 0;

    void remove(std::size_t i) {
        bytes -= length[i];
        for (std::size_t j = i + 1; j < count; ++j) {
            base[j - 1] = base[j];
            length[j - 1] = length[j];
        }
        --count;
    }
};

Cache& cache() {
    static Cache c;
    return c;
}

// Unmaps every cached mapping; true when there was one.
bool release_cache() noexcept {
    Cache& c = cache();
    std::array<std::uint8_t*, cache_blocks> base{};
    std::array<std::size_t, cache_blocks> length{};
    std::size_t count = 0;
    {
        std::lock_guard guard(c.lock);
        count = c.count;
        base = c.base;
        length = c.length;
        c.count = 0;
        c.bytes = 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
        unpoison(base[i], length[i]);
        munmap(base[i], length[i]);
    }
    return count > 0;
}

// A cached mapping of at least `wanted` bytes and not wastefully larger, or null.
std::uint8_t* take_cached(std::size_t wanted, std::size_t& length) {
    Cache& c = cache();
    std::lock_guard guard(c.lock);
    std::size_t best = c.count;
    for (std::size_t i = 0; i < c.count; ++i) {
        if (c.length[i] < wanted || c.length[i] - wanted > wanted / 2) continue;
        if (best == c.count || c.length[i] < c.length[best]) best = i;
    }
    if (best == c.count) return nullptr;
    std::uint8_t* b = c.base[best];
    length = c.length[best];
    c.remove(best);
    unpoison(b, length);
    return b;
}

// Keeps a freed mapping for reuse when it fits the cache, evicting the oldest entries; returns
// false when the mapping is to be unmapped instead.
bool keep_cached(std::uint8_t* b, std::size_t length) {
    if (length > cache_bytes) return false;
    Cache& c = cache();
    std::array<std::uint8_t*, cache_blocks> evict_base{};
    std::array<std::size_t, cache_blocks> evict_length{};
    std::size_t evicted = 0;
    {
        std::lock_guard guard(c.lock);
        while (c.count == cache_blocks || c.bytes + length > cache_bytes) {
            evict_base[evicted] = c.base[0];
            evict_length[evicted] = c.length[0];
            ++evicted;
            c.remove(0);
        }
        c.base[c.count] = b;
        c.length[c.count] = length;
        ++c.count;
        c.bytes += length;
        poison(b, length);
    }
    for (std::size_t i = 0; i < evicted; ++i) {
        unpoison(evict_base[i], evict_length[i]);
        munmap(evict_base[i], evict_length[i]);
    }
    return true;
}

void* map_huge(std::size_t size, bool zeroed) {
    if (size > SIZE_MAX - header_size - tail_slack - 2 * huge_page) return nullptr;
    const std::size_t wanted = (size + header_size + tail_slack + huge_page - 1) / huge_page * huge_page;
    std::size_t length = 0;
    std::uint8_t* base = take_cached(wanted, length);
    if (base) {
        // Reused memory holds its last user's bytes.
        if (zeroed) std::memset(base + header_size, 0, size);
        std::memset(base + header_size + size, 0, tail_slack);
    } else {
        // Over-map by one huge page so that the block can start on a 2 MiB boundary.
        const std::size_t span = wanted + huge_page;
        void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (raw == MAP_FAILED) return nullptr;
        const auto start = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = (start + huge_page - 1) & ~(huge_page - 1);
        if (aligned > start) munmap(raw, aligned - start);
        const std::size_t tail = span - (aligned - start) - wanted;
        if (tail > 0) munmap(reinterpret_cast<void*>(aligned + wanted), tail);
        base = reinterpret_cast<std::uint8_t*>(aligned);
        madvise(base, wanted, MADV_HUGEPAGE);
        length = wanted;
    }
    auto* h = reinterpret_cast<Header*>(base);
    h->kind = from_mmap;
    h->mapped_size = length;
    h->size = size;
    poison(base, header_size);
    poison(base + header_size + size, length - header_size - size);
    large_in_use.fetch_add(1);
    return base + header_size;
}

void* allocate_once(std::size_t size, bool zeroed) noexcept {
    if (huge_pages_enabled && size >= huge_threshold) return map_huge(size, zeroed);
    if (size > SIZE_MAX - header_size - tail_slack) return nullptr;
    const std::size_t total = size + header_size + tail_slack;
    void* raw = zeroed ? std::calloc(1, total) : std::malloc(total);
    if (!raw) return nullptr;
    auto* h = static_cast<Header*>(raw);
    h->kind = from_malloc;
    h->mapped_size = 0;
    h->size = size;
    auto* data = static_cast<std::uint8_t*>(raw) + header_size;
    if (!zeroed) std::memset(data + size, 0, tail_slack);
    poison(raw, header_size);
    poison(data + size, tail_slack);
    return data;
}

}  // namespace

void* allocate(std::size_t size, bool zeroed) noexcept {
    const std::uint64_t call = allocations.fetch_add(1) + 1;
    const std::uint64_t from = failing_from.load();
    if (from != 0 && call >= from) return nullptr;
    if (void* block = allocate_once(size, zeroed)) return block;
    // The memory the cache holds is the first to give back.
    return release_cache() ? allocate_once(size, zeroed) : nullptr;
}

void fail_allocations_from(std::uint64_t n) noexcept { failing_from.store(n == 0 ? 0 : allocations.load() + n); }

std::uint64_t allocation_count() noexcept { return allocations.load(); }

void set_huge_pages(bool enabled) noexcept { huge_pages_enabled = enabled; }

void release(const void* block) noexcept {
    if (!block) return;
    Header* h = header_of(block);
    unpoison(h, header_size);
    if (h->kind == from_mmap) {
        h->kind = 0;
        auto* base = reinterpret_cast<std::uint8_t*>(h);
        const std::size_t length = h->mapped_size;
        // The last large block in use takes the cache with it: nothing is kept for work that has ended.
        const bool last = large_in_use.fetch_sub(1) == 1;
        if (last) release_cache();
        if (last || !keep_cached(base, length)) {
            unpoison(base, length);
            munmap(base, length);
        }
    } else {
        h->kind = 0;
        std::free(h);
    }
}

std::size_t cached_bytes() noexcept {
    Cache& c = cache();
    std::lock_guard guard(c.lock);
    return c.bytes;
}

std::size_t large_blocks_in_use() noexcept { return large_in_use.load(); }

namespace {
struct DevilBlocks {
    std::mutex lock;
    std::unordered_set<const void*> live;
};
DevilBlocks& devil_blocks() {
    static DevilBlocks* blocks = new DevilBlocks();  // never destroyed: DevIL may free after exit handlers
    return *blocks;
}
}  // namespace

void* devil_allocate(std::size_t size) noexcept {
    void* block = allocate(size);
    if (!block) return nullptr;
    DevilBlocks& d = devil_blocks();
    try {
        std::lock_guard guard(d.lock);
        d.live.insert(block);
    } catch (...) {
        release(block);
        return nullptr;
    }
    return block;
}

void devil_release(const void* block) noexcept {
    if (!block) return;
    DevilBlocks& d = devil_blocks();
    bool ours = false;
    {
        std::lock_guard guard(d.lock);
        ours = d.live.erase(block) == 1;
    }
    if (ours)
        release(block);
    else
        std::free(const_cast<void*>(block));
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
