// The writers' shared plumbing: an owning FILE handle for the readers that closes on every path,
// and a text buffer with fast integer formatting that goes to an AtomicFile in large blocks.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "files/atomic_file.hpp"
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

    explicit OutputBuffer(AtomicFile& file) : file_(file), block_(block_size) {}
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;
    // What is still buffered is dropped: a writer that did not finish leaves no file.
    ~OutputBuffer() = default;

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
        file_.write(bytes, n);
    }
    void flush() noexcept {
        if (used_) file_.write(block_.data(), used_);
        used_ = 0;
    }
    // Flushes the buffer and commits the file: false when any write on the way failed.
    bool finish() noexcept {
        flush();
        return file_.commit();
    }

private:
    AtomicFile& file_;
    memory::Buffer block_;
    std::size_t used_ = 0;
};

}  // namespace ombrix::files
