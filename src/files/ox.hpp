// image_to_OX and image_from_OX: the OX raw image file written from and read into the image table.
#pragma once

#include <cstdint>

#include "store/state.hpp"

namespace ombrix::files {

// Writes "OX width height mode 1 " and the pixel records, last stored row first. Returns 0, also
// for a mode other than 0, 1 or 2 (which leaves the header alone in the file and sets ILU's
// invalid-parameter text); throws Failure(-1, "Error create Ombrix file") when the file cannot
// be created. The image is the same afterwards.
double write_ox(const ImageRecord& image, const char* path, std::int32_t mode);

// Reads an OX file into a new image under a freshly taken ID and returns that ID.
double load_ox(State& st, const char* path);

}  // namespace ombrix::files
