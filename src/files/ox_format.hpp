// The OX raw image file: a text header "OX width height mode 1 " and width × height pixel records
// of 1 (grey), 3 (RGB) or 4 (RGB and one extra byte) bytes, top row of the picture first. This
// part reads the format from any byte source, checking every size before it is used; it has no
// DevIL dependency so that the fuzz target exercises exactly this code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "store/state.hpp"

namespace ombrix::files {

// The writer puts the four numbers and one space in far fewer bytes; a header is looked for in
// this many leading bytes only.
inline constexpr std::size_t ox_header_limit = 4096;

struct OxHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t mode = 0;
    std::size_t size = 0;  // bytes up to and including the separator before the first pixel
};

// Parses "OX", then four decimal integers, each optionally preceded by whitespace and a sign, the
// fourth of which must be 1, then exactly one whitespace byte. Returns nothing for anything else,
// including numbers beyond 32 bits, negative sizes and sizes beyond the pixel limit.
std::optional<OxHeader> parse_ox_header(const std::uint8_t* data, std::size_t size) noexcept;

// Bytes per pixel record of a mode, 0 for a mode the format does not have.
constexpr std::size_t ox_record_size(std::int32_t mode) noexcept {
    return mode == 0 ? 1 : mode == 1 ? 3 : mode == 2 ? 4 : 0;
}

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes, returns how many were read (fewer only at the end of the data).
    virtual std::size_t read(std::uint8_t* destination, std::size_t n) = 0;
    // The number of bytes left, when the source knows it.
    virtual std::optional<std::uint64_t> remaining() const = 0;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t read(std::uint8_t* destination, std::size_t n) override;
    std::optional<std::uint64_t> remaining() const override { return size_ - position_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

enum class OxStatus { ok, malformed, unknown_mode };

struct OxImage {
    OxStatus status = OxStatus::malformed;
    std::unique_ptr<ImageRecord> record;
};

// Reads an OX file. The rows are stored bottom row first again, so that an image written by
// `write_ox` reads back as it was; the extra bytes of mode 2 go to `rgba` at index 3 × record
// number, the index the writers take them from. A file that does not hold every pixel record
// is malformed; bytes after the last record are ignored.
OxImage read_ox(ByteSource& source);

}  // namespace ombrix::files
