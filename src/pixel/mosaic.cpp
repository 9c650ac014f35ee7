// The mosaic, written block by block with whole-row stores.
//
// Two facts let the blocks be filled in any order and a row at a time. First, every write of a
// block lands inside that block: only the last column (row) of blocks reaches past the edge, and
// its clamped writes land on the last column (row), which belongs to it. Second, the centre sample
// (bx + size/2, by + size/2), clamped, lies inside the block (for size 1 rounding can move it one
// pixel right or down, into a block that comes later in either order), so it is always read from
// the original image. Within a block the writes go row by row with the columns inner, so of the
// writes clamped onto the last column the one with i = size − 1 comes last, and of those clamped
// onto the last row the one with j = size − 1: the block's last column and last row take the
// colours of i = size − 1 and j = size − 1, and every other pixel takes its own (i, j).
#include "pixel/mosaic.hpp"

#include <algorithm>
#include <cstring>

#include "store/convert.hpp"

namespace ombrix::pixel {

void fill_triples(std::uint8_t* out, std::size_t count, Rgb colour) noexcept {
    if (count < 8) {
        for (std::size_t k = 0; k < count; ++k, out += 3) {
            out[0] = colour.r;
            out[1] = colour.g;
            out[2] = colour.b;
        }
        return;
    }
    std::uint8_t pattern[24];
    for (std::size_t k = 0; k < 24; k += 3) {
        pattern[k] = colour.r;
        pattern[k + 1] = colour.g;
        pattern[k + 2] = colour.b;
    }
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8, out += 24) std::memcpy(out, pattern, 24);
    std::memcpy(out, pattern, (count - k) * 3);
}

namespace {

// The block offsets i (or j) that get the centre colour: [first, end), possibly empty.
struct CentreSpan {
    std::int64_t first;
    std::int64_t end;
    bool contains(std::int64_t i) const noexcept { return i >= first && i < end; }
};

CentreSpan centre_span(std::int64_t size, std::int64_t border) noexcept {
    const std::int64_t first = std::max<std::int64_t>(border + 1, 0);
    const std::int64_t end = std::min<std::int64_t>(size - border, size);
    return {first, std::max(first, end)};
}

// One row of a block that is `columns` wide; its last column stands for offset size − 1.
void fill_block_row(std::uint8_t* out, std::int64_t columns, std::int64_t size, CentreSpan span, Rgb frame,
                    Rgb centre) noexcept {
    const std::int64_t last = columns - 1;
    const std::int64_t a = std::min(span.first, last);
    const std::int64_t b = std::clamp(span.end, a, last);
    fill_triples(out, static_cast<std::size_t>(a), frame);
    fill_triples(out + a * 3, static_cast<std::size_t>(b - a), centre);
    fill_triples(out + b * 3, static_cast<std::size_t>(last - b), frame);
    const Rgb edge = span.contains(size - 1) ? centre : frame;
    fill_triples(out + last * 3, 1, edge);
}

}  // namespace

void mosaic(ImageRecord& image, std::int32_t size, double half, std::int32_t border, std::uint8_t red) {
    const std::int64_t width = image.width;
    const std::int64_t height = image.height;
    if (width <= 0 || height <= 0 || size < 1) return;

    const std::int64_t s = size;
    const CentreSpan span = centre_span(s, border);
    const Rgb frame{red, 0, 0};
    const auto stride = static_cast<std::size_t>(width) * 3;
    std::uint8_t* const rgb = image.rgb.data();

    // Rows of blocks outer: the blocks are independent (see above), and this order walks memory.
    // Within a row of blocks, the rows of one kind (frame or centre) are alike across the whole
    // image row: the first centre row is written block by block, each block's centre read just
    // before its own segment is written (so every centre is still the original), then the first
    // frame row, and every other row is a copy of one of the two.
    for (std::int64_t by = 0; by < height; by += s) {
        const std::int64_t rows = std::min(s, height - by);
        const std::int64_t cy = std::min(trunc_int64(static_cast<double>(by) + half), height - 1);
        auto kind_is_centre = [&](std::int64_t r) { return span.contains(r == rows - 1 ? s - 1 : r); };
        std::uint8_t* const band = rgb + static_cast<std::size_t>(by) * stride;
        std::uint8_t* first_centre_row = nullptr;
        std::uint8_t* first_frame_row = nullptr;
        for (std::int64_t r = 0; r < rows; ++r) {
            std::uint8_t* row = band + static_cast<std::size_t>(r) * stride;
            if (kind_is_centre(r) && !first_centre_row) first_centre_row = row;
            if (!kind_is_centre(r) && !first_frame_row) first_frame_row = row;
        }
        if (first_centre_row) {
            for (std::int64_t bx = 0; bx < width; bx += s) {
                const std::int64_t columns = std::min(s, width - bx);
                const std::int64_t cx = std::min(trunc_int64(static_cast<double>(bx) + half), width - 1);
                const Rgb centre = pixel_get_rgb(image, cx, cy);
                fill_block_row(first_centre_row + static_cast<std::size_t>(bx) * 3, columns, s, span, frame, centre);
            }
        }
        if (first_frame_row) fill_triples(first_frame_row, static_cast<std::size_t>(width), frame);
        for (std::int64_t r = 0; r < rows; ++r) {
            std::uint8_t* row = band + static_cast<std::size_t>(r) * stride;
            std::uint8_t* source = kind_is_centre(r) ? first_centre_row : first_frame_row;
            if (row != source) std::memcpy(row, source, stride);
        }
    }
}

}  // namespace ombrix::pixel
