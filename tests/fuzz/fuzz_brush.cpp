// libFuzzer target: arbitrary bytes as a brush file, the brush then stamped onto an image whose
// size the input also picks. Runs the same parsing and stamping code as the brush exports.
#include <cstddef>
#include <cstdint>

#include "files/brush_format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::int32_t width = data[0] % 64, height = data[1] % 16;
    data += 2;
    size -= 2;
    const auto header = ombrix::files::parse_brush_header(data, size);
    if (!header) return 0;
    if (header->size > size) __builtin_trap();
    const ombrix::Brush brush = ombrix::files::make_brush(*header, data + header->size, size - header->size);
    auto image = ombrix::make_record(width, height);
    ombrix::files::stamp_brush(brush, *image);
    return 0;
}
