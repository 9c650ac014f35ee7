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
double write_html(const State& st, const ImageRecord& image, const char* path);
// Returns 1; throws Failure(-1, "Error create GML file").
double write_gml(const ImageRecord& image, const char* path);
// What a C header holds per pixel: its grey level, its RGB bytes, or those and its rgba byte.
enum class HeaderMode { grey, rgb, rgba };
inline constexpr HeaderMode header_mode_table[] = {HeaderMode::grey, HeaderMode::rgb, HeaderMode::rgba};

// Returns 0; throws Failure(-1, "Error create C-source file").
double write_header(const State& st, const ImageRecord& image, const char* path, HeaderMode mode);

// The text as it may stand inside an HTML element or a quoted attribute.
std::string escape_html(const char* text);

}  // namespace ombrix::files
