// Reading the OX raw image format.
#include "files/ox_format.hpp"

#include <algorithm>
#include <cstring>

#include "files/decimal.hpp"
#include "store/pixel_limit.hpp"

namespace ombrix::files {

namespace {

// One number the way "%d" takes it: whitespace, an optional sign, at least one digit.
bool parse_number(const std::uint8_t* data, std::size_t size, std::size_t& at, std::int64_t& value) noexcept {
    const bool negative = skip_to_digits(data, size, at);
    if (at >= size || !is_digit(data[at])) return false;
    value = 0;
    while (at < size && is_digit(data[at])) {
        value = value * 10 + (data[at++] - '0');
        if (value > 2147483648) return false;
    }
    if (negative) value = -value;
    return value >= -2147483648LL && value <= 2147483647;
}

}  // namespace

std::optional<OxHeader> parse_ox_header(const std::uint8_t* data, std::size_t size) noexcept {
    if (size < 2 || data[0] != 'O' || data[1] != 'X') return std::nullopt;
    std::size_t at = 2;
    std::int64_t numbers[4] = {};
    for (auto& n : numbers)
        if (!parse_number(data, size, at, n)) return std::nullopt;
    if (at >= size || !is_space(data[at])) return std::nullopt;
    const auto [width, height, mode, fourth] = numbers;
    if (fourth != 1 || !pixels_fit(width, height)) return std::nullopt;
    return OxHeader{static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                    static_cast<std::int32_t>(mode), at + 1};
}

std::size_t MemorySource::read(std::uint8_t* destination, std::size_t n) {
    n = std::min(n, size_ - position_);
    if (n) std::memcpy(destination, data_ + position_, n);
    position_ += n;
    return n;
}

namespace {

// Reads exactly n bytes: first what is left of the header block, then from the source.
class PayloadReader {
public:
    PayloadReader(ByteSource& source, const std::uint8_t* left, std::size_t left_size)
        : source_(source), left_(left), left_size_(left_size) {}
    bool read(std::uint8_t* destination, std::size_t n) {
        const std::size_t from_left = std::min(n, left_size_);
        if (from_left) std::memcpy(destination, left_, from_left);
        left_ += from_left;
        left_size_ -= from_left;
        n -= from_left;
        return n == 0 || source_.read(destination + from_left, n) == n;
    }

private:
    ByteSource& source_;
    const std::uint8_t* left_;
    std::size_t left_size_;
};

// `count` records of one mode from `in` into consecutive pixels of `out`.
void decode_run(std::int32_t mode, const std::uint8_t* in, std::uint8_t* out, std::size_t count,
                std::uint8_t* extra) noexcept {
    switch (mode) {
        case 0:
            for (std::size_t i = 0; i < count; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = in[i];
            break;
        case 1:
            std::memcpy(out, in, count * 3);
            break;
        default:
            for (std::size_t i = 0; i < count; ++i) {
                out[3 * i] = in[4 * i];
                out[3 * i + 1] = in[4 * i + 1];
                out[3 * i + 2] = in[4 * i + 2];
                extra[3 * i] = in[4 * i + 3];
            }
            break;
    }
}

}  // namespace

OxImage read_ox(ByteSource& source) {
    OxImage result;
    std::uint8_t head[ox_header_limit];
    const std::size_t head_size = source.read(head, sizeof head);
    const auto header = parse_ox_header(head, head_size);
    if (!header) return result;

    auto record = std::make_unique<ImageRecord>();
    record->width = header->width;
    record->height = header->height;
    const std::size_t count = record->pixel_count();
    if (count == 0) {
        // Nothing to read, so the mode is never looked at.
        result.status = OxStatus::ok;
        result.record = std::move(record);
        return result;
    }
    const std::size_t record_size = ox_record_size(header->mode);
    if (record_size == 0) {
        result.status = OxStatus::unknown_mode;
        return result;
    }
    const std::size_t left_size = head_size - header->size;
    if (const auto rest = source.remaining(); rest && *rest + left_size < std::uint64_t{count} * record_size)
        return result;

    record->rgb = memory::Buffer(count * 3);
    if (header->mode == 2) record->rgba = memory::Buffer(count * 4, true);

    const std::size_t width = static_cast<std::size_t>(header->width);
    const std::size_t height = static_cast<std::size_t>(header->height);
    const std::size_t chunk_pixels = std::max<std::size_t>(1, (std::size_t{1} << 20) / record_size);
    memory::Buffer chunk(std::min(count, chunk_pixels) * record_size);
    PayloadReader payload(source, head + header->size, left_size);

    std::size_t done = 0, row = 0, column = 0;
    while (done < count) {
        const std::size_t n = std::min(count - done, chunk_pixels);
        if (!payload.read(chunk.data(), n * record_size)) return result;
        const std::uint8_t* in = chunk.data();
        for (std::size_t left = n; left > 0;) {
            const std::size_t run = std::min(left, width - column);
            std::uint8_t* out = record->rgb.data() + ((height - 1 - row) * width + column) * 3;
            std::uint8_t* extra = header->mode == 2 ? record->rgba.data() + done * 3 : nullptr;
            decode_run(header->mode, in, out, run, extra);
            in += run * record_size;
            done += run;
            left -= run;
            column += run;
            if (column == width) {
                column = 0;
                ++row;
            }
        }
    }
    result.status = OxStatus::ok;
    result.record = std::move(record);
    return result;
}

}  // namespace ombrix::files
