// The one sequence of DevIL calls that turns a file into an image record's contents. The decoder
// process runs it on every file; the library keeps an in-process copy only to compare against.
#pragma once

#include <IL/il.h>

#include <cstddef>
#include <cstdint>

#include "store/decoder_protocol.hpp"
#include "store/pixel_copy.hpp"
#include "store/state.hpp"

namespace ombrix::decoder {

// Loads `path` into the bound DevIL image, reads the properties in their order, checks the pixel
// limit, asks `destination(bytes)` for a buffer of width × height × 3 bytes (it returns null when it
// has none) and copies one layer into it as 8-bit RGB. A 0-pixel image asks for no buffer.
template <class Destination>
Outcome decode_with_devil(const char* path, Properties& p, Destination&& destination) {
    if (!ilLoadImage(path)) return Outcome::refused;
    p.width = ilGetInteger(IL_IMAGE_WIDTH);
    p.height = ilGetInteger(IL_IMAGE_HEIGHT);
    p.palette_size = ilGetInteger(IL_PALETTE_SIZE);
    p.bits_per_pixel = ilGetInteger(IL_IMAGE_BITS_PER_PIXEL);
    p.offset_x = ilGetInteger(IL_IMAGE_OFFX);
    p.offset_y = ilGetInteger(IL_IMAGE_OFFY);
    p.depth = ilGetInteger(IL_IMAGE_DEPTH);
    if (!pixels_fit(p.width, p.height)) return Outcome::too_large;
    const std::size_t bytes = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) * 3;
    if (bytes == 0) return Outcome::loaded;
    std::uint8_t* pixels = destination(bytes);
    if (!pixels) return Outcome::out_of_memory;
    // The record holds one layer: only the first is copied, whatever the depth.
    copy_pixels(pixels, p.width, p.height);
    return Outcome::loaded;
}

}  // namespace ombrix::decoder
