// libFuzzer target: arbitrary bytes through the OX reader, the same code image_from_OX runs.
#include <cstddef>
#include <cstdint>

#include "files/ox_format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ombrix::files::MemorySource source(data, size);
    const auto image = ombrix::files::read_ox(source);
    if (image.status == ombrix::files::OxStatus::ok) {
        const auto& record = *image.record;
        // A record the reader accepts holds all its pixels, and its rgba is empty or full size.
        if (record.rgb.size() != record.pixel_count() * 3) __builtin_trap();
        if (!record.rgba.empty() && record.rgba.size() != record.pixel_count() * 4) __builtin_trap();
    }
    return 0;
}
