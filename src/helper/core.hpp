// The DevIL work itself: the one sequence of DevIL calls for each task, run by the helper process
// on every request. Tests link it too, to compare what comes back through the helper with the same
// work done in their own process.
#pragma once

#include <IL/il.h>

#include <cstddef>
#include <cstdint>

#include "helper/protocol.hpp"
#include "store/pixel_copy.hpp"
#include "store/pixel_limit.hpp"

namespace ombrix::helper {

// Makes DevIL allocate through the library's allocator (store/memory.hpp), in the library and in
// the helper alike.
void install_devil_memory() noexcept;

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
    if (bytes == 0) return Outcome::done;
    std::uint8_t* pixels = destination(bytes);
    if (!pixels) return Outcome::out_of_memory;
    // The record holds one layer: only the first is copied, whatever the depth.
    copy_pixels(pixels, p.width, p.height);
    return Outcome::done;
}

// The save type DevIL's ilSaveImage would choose for `name` by its extension, IL_TYPE_UNKNOWN for
// an extension it cannot write.
ILenum save_type_of_name(const char* name) noexcept;

// Writes a width × height 8-bit RGB image (one layer, as a record holds it) into the file at
// `path` as DevIL's `type`, through the bound DevIL image. Returns IL_NO_ERROR, or DevIL's error.
ILenum encode_with_devil(const std::uint8_t* rgb, std::int32_t width, std::int32_t height, ILenum type,
                         const char* path) noexcept;

// The file type DevIL sees in `size` bytes examined as a file held in memory; IL_TYPE_UNKNOWN
// when none.
ILenum detect_with_devil(const std::uint8_t* bytes, std::size_t size) noexcept;

}  // namespace ombrix::helper
