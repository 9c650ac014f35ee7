// Loading, saving, freeing and cloning images, and the size queries.
#pragma once

#include <IL/il.h>

#include <cstdint>

#include "helper/client.hpp"
#include "store/state.hpp"

namespace ombrix {

// image_load: a new image ID, 0 when the file does not load, -1 before init.
double load_image(State& st, const char* path);

// DevIL's file-type constants, indexed by image_save's type index; any other index is
// IL_TYPE_UNKNOWN.
inline constexpr ILenum save_type_table[] = {IL_BMP, IL_DDS, IL_HDR, IL_JPG, IL_PCX, IL_PNG, IL_PNM,
                                             IL_PSD, IL_RAW, IL_SGI, IL_TGA, IL_TIF, IL_XPM};

// image_save / image_asave: DevIL saves `type`, or with IL_TYPE_UNKNOWN the type it chooses by the
// path's extension. DevIL encodes the image in the helper process; the file is written whole or
// not at all, so a failed save keeps the old file and returns -1 with a text naming the file and
// the reason.
double save_image(State& st, const ImageRecord& image, const char* path, ILenum type);

// image_free: drops image `id`, which the caller has looked up. Returns 1.
double free_image(State& st, std::int32_t id);

// Registers a finished record under `id` and returns the ID as the export's result.
double register_image(State& st, std::int32_t id, std::unique_ptr<ImageRecord> record);

// The last-error text for a helper that could not be asked (missing or not starting), or none.
const char* unavailable_text(helper::Unavailable unavailable) noexcept;
// Throws Failure(0, that text) for a helper that could not be asked.
void require_helper(helper::Unavailable unavailable);

}  // namespace ombrix
