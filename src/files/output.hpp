// The writers' shared plumbing: an owning FILE handle that closes on every path, and a text
// buffer with fast integer formatting that goes to the file in large blocks.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "store/memory.hpp"

namespace ombrix::files {

class File {
public:
    File() = default;
    File(const char* path, const char* mode) : file_(path ? std::fopen(path, mode) : nullptr) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { close(); }

    explicit operator bool() const noexcept { return file_ != nullptr; }
    std::FILE* get() const noexcept { return file_; }
    // Returns false when the close reports a failed write.
    bool close() noexcept {
        if (!file_) return true;
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }

private:
    std::FILE* file_ = nullptr;
};

// Text built in a fixed block that is written out whenever it fills. `reserve(n)` hands out room
// for up to n bytes (n at most the block size); `commit` advances past what was written there.
class OutputBuffer {
public:
    static constexpr std::size_t block_size = std::size_t{1} << 20;

    explicit OutputBuffer(std::FILE* file) : file_(file), block_(block_size) {}
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;
    ~OutputBuffer() { flush(); }

    char* reserve(std::size_t n) {
        if (block_size - used_ < n) flush();
        return reinterpret_cast<char*>(block_.data()) + used_;
    }
    void commit(char* end) noexcept { used_ = static_cast<std::size_t>(end - reinterpret_cast<char*>(block_.data())); }

    void put(std::string_view text) {
        while (!text.empty()) {
            const std::size_t n = text.size() < block_size ? text.size() : block_size;
            char* p = reserve(n);
            std::memcpy(p, text.data(), n);
            commit(p + n);
            text.remove_prefix(n);
        }
    }
    void put_int(std::int64_t value) {
        char* p = reserve(24);
        commit(std::to_chars(p, p + 24, value).ptr);
    }
    // Writes what is buffered, then `bytes` straight to the file.
    void put_bytes(const std::uint8_t* bytes, std::size_t n) {
        flush();
        if (n) std::fwrite(bytes, 1, n, file_);
    }
    void flush() noexcept {
        if (used_) std::fwrite(block_.data(), 1, used_, file_);
        used_ = 0;
    }

private:
    std::FILE* file_;
    memory::Buffer block_;
    std::size_t used_ = 0;
};

}  // namespace ombrix::files
