// The files subsystem's own error texts.
#pragma once

namespace ombrix::text {
inline constexpr const char* ox_create_failed = "Error create Ombrix file";
inline constexpr const char* ox_load_failed = "Error Load Ombrix file";
inline constexpr const char* html_create_failed = "Error create HTML file";
inline constexpr const char* gml_create_failed = "Error create GML file";
inline constexpr const char* header_create_failed = "Error create C-source file";
inline constexpr const char* brush_file_invalid = "Invalid brush file: negative size";
}  // namespace ombrix::text
