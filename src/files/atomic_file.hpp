// Whole-or-nothing files. Every file the library writes goes through AtomicFile: the bytes go to a
// temporary file in the target's directory, every write is checked, and only when all of them
// succeeded is the file flushed to disk and renamed over the target. On any failure (full disk,
// quota, I/O error, a missing or read-only directory, a writer that gives up half way) the target
// keeps its old contents byte for byte and no temporary file is left behind.
//
// The type depends on nothing but POSIX, so the store's image saves use it as well as the writers
// of this directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ombrix::files {

class AtomicFile {
public:
    // Creates the temporary file beside `target` (null or empty: nothing is created and the file
    // is failed from the start). Its name ends in the target's own name, so that anything that
    // looks at the extension sees the target's.
    explicit AtomicFile(const char* target);
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    // Removes the temporary file unless it was committed.
    ~AtomicFile();

    // False once anything has failed, including the creation of the temporary file.
    explicit operator bool() const noexcept { return error_ == 0; }
    // The errno of the first failure, 0 while none.
    int error() const noexcept { return error_; }
    const std::string& target() const noexcept { return target_; }

    // Appends `n` bytes; a short or failed write fails the file, and later writes do nothing.
    bool write(const void* bytes, std::size_t n) noexcept;
    // Flushes to disk, renames over the target and flushes the directory entry. False (and the old
    // target untouched) when anything failed on the way.
    bool commit() noexcept;
    // Gives up: the temporary file goes, the target stays as it was.
    void discard() noexcept;

private:
    void set_error(int error) noexcept;

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    int error_ = 0;
};

// "Could not write <target>: <reason>", the text a failed save reports.
std::string write_failure_text(const std::string& target, int error);

}  // namespace ombrix::files
