// The brush file header, the brush mask and the stamp.
#include "files/brush_format.hpp"

#include <algorithm>
#include <cstring>

#include "files/decimal.hpp"

namespace ombrix::files {

namespace {

// One line read into a five-byte buffer: at most four bytes, ending after a newline.
std::size_t line_length(const std::uint8_t* data, std::size_t size) noexcept {
    std::size_t n = 0;
    while (n < size && n < 4) {
        if (data[n++] == '\n') break;
    }
    return n;
}

// Decimal text to integer the way the C library does it, on at most four bytes (so no overflow);
// the text ends at a zero byte as a C string would.
std::int32_t decimal_value(const std::uint8_t* line, std::size_t n) noexcept {
    std::size_t at = 0;
    const bool negative = skip_to_digits(line, n, at);
    std::int32_t value = 0;
    while (at < n && is_digit(line[at])) value = value * 10 + (line[at++] - '0');
    return negative ? -value : value;
}

}  // namespace

std::optional<BrushHeader> parse_brush_header(const std::uint8_t* data, std::size_t size) noexcept {
    BrushHeader header;
    const std::size_t first = line_length(data, size);
    header.width = decimal_value(data, first);
    const std::size_t second = line_length(data + first, size - first);
    header.height = decimal_value(data + first, second);
    header.size = first + second;
    if (header.width < 0 || header.height < 0) return std::nullopt;
    return header;
}

Brush make_brush(const BrushHeader& header, const std::uint8_t* data, std::size_t size) {
    Brush brush;
    brush.width = header.width;
    brush.height = header.height;
    const std::size_t n = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
    brush.mask.assign(n, brush_mask_fill);
    if (size && n) std::memcpy(brush.mask.data(), data, std::min(n, size));
    return brush;
}

void stamp_brush(const Brush& brush, ImageRecord& image) noexcept {
    const std::size_t n = brush.mask.size();
    const std::size_t count = image.rgb_pixel_count();
    // An empty brush would stamp at pixel 0 forever.
    if (n == 0) return;
    const std::size_t width = image.width > 0 ? static_cast<std::size_t>(image.width) : 0;
    std::uint8_t* rgb = image.rgb.data();
    for (std::size_t start = 0; start < width && start < count; start += n) {
        const std::uint8_t colour[3] = {rgb[3 * start], rgb[3 * start + 1], rgb[3 * start + 2]};
        const std::size_t reach = std::min(n, count - start);
        for (std::size_t c = 0; c < reach; ++c) {
            std::uint8_t* px = rgb + 3 * (start + c);
            if (brush.mask[c] == '1') {
                std::memcpy(px, colour, 3);
            } else if (brush.mask[c] == '0') {
                px[0] = px[1] = px[2] = 0;
            }
        }
    }
}

}  // namespace ombrix::files
