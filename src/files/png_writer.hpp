// The PNG writer: 24-bit RGB pixels written as an 8-bit RGBA PNG through libpng, with one key
// colour fully transparent and every other pixel opaque.
#pragma once

#include <cstdint>

#include "store/state.hpp"

namespace ombrix::files {

struct PngSettings {
    std::int32_t width = 0;
    std::int32_t height = 0;
    const std::uint8_t* pixels = nullptr;  // width × height × 3 bytes, rows first row first; not owned
    std::int32_t key_red = -1;             // a level outside 0..255 matches no pixel
    std::int32_t key_green = -1;
    std::int32_t key_blue = -1;
    std::int32_t compression_level = 9;
    std::int32_t compression_strategy = 0;
    std::int32_t compression_memory_level = 8;
    // Filtered image data of at least this many bytes is deflated in two pieces, the second on its
    // own thread, and joined into one zlib stream; less goes through libpng's single stream.
    std::size_t two_pieces_from_bytes = std::size_t{1} << 20;
    // false deflates both pieces on the calling thread, as when no thread can be started.
    bool use_thread = true;
};

// Returns true when the whole file was written. On every failure (the file cannot be created or
// written, libpng cannot set up or reports an error, the width is beyond 2^30 - 1, no row buffer)
// it returns false with libpng's structures released and the old file, if any, as it was.
bool write_png_file(const PngSettings& settings, const char* path);

// The `test` export's body: `image` to "test_out.png" in the current directory, no key colour,
// compression level 9, default strategy, memory level 8. Returns the writer's result.
bool write_test_png(const ImageRecord& image);

}  // namespace ombrix::files
