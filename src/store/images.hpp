// Loading, saving, freeing and cloning images, and the size queries.
#pragma once

#include <IL/il.h>

#include <cstdint>

#include "store/decoder_protocol.hpp"
#include "store/state.hpp"

namespace ombrix {

// What a file decodes to: DevIL's properties in the order they are read after a load, and the
// pixels as 8-bit RGB (one layer).
struct DecodedImage : decoder::Properties {
    memory::Buffer rgb;
};

// Decodes `path` with DevIL under the current DevIL settings. Returns false when DevIL cannot
// load it or when the image is beyond the pixel limit.
bool decode_file(State& st, const char* path, DecodedImage& out);

// image_load: a new image ID, 0 when the file does not load, -1 before init.
double load_image(State& st, const char* path);

// image_save / image_asave. Writes to a temporary file beside `path` and renames it over `path`
// only when DevIL reports success, so a failed save keeps the old file.
double save_image(State& st, std::int32_t id, const char* path, ILenum type, bool by_extension);

double free_image(State& st, std::int32_t id);
double clone_image(State& st, std::int32_t id);

// Registers a finished record under `id` and returns the ID as the export's result.
double register_image(State& st, std::int32_t id, std::unique_ptr<ImageRecord> record);

}  // namespace ombrix
