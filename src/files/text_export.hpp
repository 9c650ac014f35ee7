// The text exporters: an HTML page with one coloured table cell per pixel, a GML script that
// redraws the image point by point, and a C header holding the pixels as a byte array. Each
// writes the last stored row first (the top of the picture) and leaves the image as it was.
#pragma once

#include <cstdint>
#include <string>

#include "store/state.hpp"

namespace ombrix::files {

// Returns 1; throws Failure(-1, "Error create HTML file") when the file cannot be created. The
// path goes into the page title with &, <, >, " and ' escaped.
double write_html(State& st, ImageRecord& image, const char* path);
// Returns 1; throws Failure(-1, "Error create GML file").
double write_gml(State& st, ImageRecord& image, const char* path);
// Mode 0 grey, 1 RGB, 2 RGB and the rgba byte. Returns 0; throws Failure(-1, "Error create
// C-source file"); a mode other than 0, 1 or 2 gives Failure(0, ILU's invalid-parameter text)
// before the file is opened.
double write_header(State& st, ImageRecord& image, const char* path, std::int32_t mode);

// The text as it may stand inside an HTML element or a quoted attribute.
std::string escape_html(const char* text);

}  // namespace ombrix::files
