// The small error API every subsystem reports through. The last-error text is a pointer to a
// constant text of the library or to a text ILU owns; nothing here copies or frees it.
#pragma once

#include <IL/il.h>

namespace ombrix {

namespace text {
inline constexpr const char* no_errors = "No Errors";
inline constexpr const char* not_initialised = "Ruvo wrapper no init";
inline constexpr const char* invalid_image_id = "Invalid image ID";
inline constexpr const char* invalid_brush_id = "Invalid brush ID";
inline constexpr const char* out_of_memory = "Out of memory";
inline constexpr const char* too_large = "Image too large: more than 2^28 pixels";
inline constexpr const char* ids_exhausted = "No image IDs left";
inline constexpr const char* internal_error = "Internal error";
// Pixel access.
inline constexpr const char* pixel_outside = "Pixel outside the image";
inline constexpr const char* no_pixels = "Image has no pixels";
inline constexpr const char* source_too_small = "Source image has fewer pixels than the first source";
inline constexpr const char* decoder_missing = "Image decoder ombrix-decode not found beside libombrix.so";
inline constexpr const char* decoder_not_started = "Image decoder ombrix-decode could not be started";
// The file writers and readers.
inline constexpr const char* ox_create_failed = "Error create Ombrix file";
inline constexpr const char* ox_load_failed = "Error Load Ombrix file";
inline constexpr const char* html_create_failed = "Error create HTML file";
inline constexpr const char* gml_create_failed = "Error create GML file";
inline constexpr const char* header_create_failed = "Error create C-source file";
inline constexpr const char* brush_file_invalid = "Invalid brush file: negative size";
}  // namespace text

// ILU's wording of a DevIL error code, in the language set by image_SetLanguage.
const char* devil_error_text(ILenum code) noexcept;

inline constexpr ILenum il_invalid_param = 0x0509;
inline constexpr ILenum il_could_not_open_file = 0x050A;

// Thrown by a subsystem to end an export early: the boundary sets the last-error text (when one is
// given) and returns `result`.
struct Failure {
    double result;
    const char* text;
};

[[noreturn]] inline void fail(double result, const char* text) { throw Failure{result, text}; }
[[noreturn]] inline void fail_devil(double result, ILenum code) { throw Failure{result, devil_error_text(code)}; }

}  // namespace ombrix
