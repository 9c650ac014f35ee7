// The ILU operations and the DevIL and ILU settings, each one round trip around a single call, and
// the resizing operations that rebuild the record around DevIL's new size. Every function takes
// converted arguments and returns the export's result; refusals throw Failure (result 0 with
// ILU's text for IL_INVALID_PARAM unless stated otherwise) and leave the record as it was.
#pragma once

#include <IL/il.h>

#include <cstdint>
#include <optional>

#include "store/state.hpp"

namespace ombrix::ilu {

// The calls without arguments of their own.
enum class Plain {
    negative,
    mirror,
    alienify,
    build_mipmaps,
    emboss,
    equalize,
    flip_vertical,  // image_FlipImagev: the origin mode becomes upper left
    swap_colours,
    invert_alpha,
    set_duration,
};
double plain(State& st, ImageRecord& image, Plain op);
double colours_used(State& st, ImageRecord& image);
double determine_type(State& st, ImageRecord& image);

double noisify(State& st, ImageRecord& image, float tolerance);
double pixelize(State& st, ImageRecord& image, std::uint32_t size);
double replace_colour(State& st, ImageRecord& image, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                      float tolerance);
double saturate(State& st, ImageRecord& image, float saturation);
double saturate_ext(State& st, ImageRecord& image, float red, float green, float blue, float saturation);
double scale_alpha(State& st, ImageRecord& image, float scale);
double blur_average(State& st, ImageRecord& image, std::uint32_t iterations);
double blur_gaussian(State& st, ImageRecord& image, std::uint32_t iterations);
double contrast(State& st, ImageRecord& image, float contrast);
double crop(State& st, ImageRecord& image, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height);
double enlarge_canvas(State& st, ImageRecord& image, std::uint32_t width, std::uint32_t height);
double enlarge_image(State& st, ImageRecord& image, float x_factor, float y_factor);
double gamma_correct(State& st, ImageRecord& image, float gamma);
double wave(State& st, ImageRecord& image, float angle);
double sharpen(State& st, ImageRecord& image, float factor);
double key_colour(State& st, ImageRecord& image, float red, float green, float blue, float alpha);
double clear_colour(State& st, ImageRecord& image, float red, float green, float blue, float alpha);
double parameter(State& st, ImageRecord& image, ILenum name, ILenum value);

// The mode tables, indexed by the host's index at the boundary; anything outside is refused.
enum class EdgeDetector { e, p, s };  // iluEdgeDetectE, iluEdgeDetectP, iluEdgeDetectS
inline constexpr EdgeDetector edge_table[] = {EdgeDetector::e, EdgeDetector::p, EdgeDetector::s};
inline constexpr ILenum compression_table[] = {IL_COMPRESS_MODE, IL_COMPRESS_NONE, IL_COMPRESS_RLE, IL_COMPRESS_LZO,
                                               IL_COMPRESS_ZLIB};
inline constexpr ILenum dxtc_table[] = {IL_DXT1, IL_DXT2, IL_DXT3, IL_DXT4, IL_DXT5, IL_RXGB};
inline constexpr ILenum setting_table[] = {IL_FORMAT_MODE,      IL_KEEP_DXTC_DATA,   IL_MAX_QUANT_INDEXS,
                                           IL_NEU_QUANT_SAMPLE, IL_ORIGIN_MODE,      IL_QUANTIZATION_MODE,
                                           IL_TYPE_MODE,        IL_IMAGE_DURATION,   IL_IMAGE_OFFX,
                                           IL_IMAGE_OFFY,       IL_IMAGE_CUBEFLAGS,  IL_BMP_RLE,
                                           IL_DXTC_FORMAT,      IL_JPG_SAVE_FORMAT,  IL_JPG_QUALITY,
                                           IL_PNG_INTERLACE,    IL_PCD_PICNUM,       IL_PNG_ALPHA_INDEX,
                                           IL_SGI_RLE,          IL_TGA_CREATE_STAMP, IL_TGA_RLE};
inline constexpr ILenum string_table[] = {
    IL_TGA_ID_STRING,           IL_TGA_AUTHNAME_STRING,    IL_TGA_AUTHCOMMENT_STRING, IL_PNG_AUTHNAME_STRING,
    IL_PNG_TITLE_STRING,        IL_PNG_DESCRIPTION_STRING, IL_TIF_DESCRIPTION_STRING, IL_TIF_HOSTCOMPUTER_STRING,
    IL_TIF_DOCUMENTNAME_STRING, IL_TIF_AUTHNAME_STRING,    IL_CHEAD_HEADER_STRING};
inline constexpr ILenum language_table[] = {0x0800, 0x0801, 0x0802, 0x0803, 0x0804, 0x0805};
// image_Filter_scale's index i selects ILU's i-th scaling filter, ILU_NEAREST (0x2601) + i.
inline constexpr ILenum scale_filter_table[] = {0x2601, 0x2602, 0x2603, 0x2604, 0x2605, 0x2606, 0x2607, 0x2608, 0x2609};
// image_Filter accepts this many filter indices.
inline constexpr std::size_t filter_indices = 13;

// These two copy the image in before they test the mode: no mode (an index outside the table) is
// refused then.
double edge_detect(State& st, ImageRecord& image, std::optional<EdgeDetector> detector);
double compress_func(State& st, ImageRecord& image, std::optional<ILenum> mode);
// The exports of these test their index before they look the image up.
double dxtc_data(State& st, ImageRecord& image, ILenum format);
double set_integer(State& st, ImageRecord& image, ILenum setting, std::int32_t value);
// IL_CHEAD_HEADER_STRING also names the array of later C headers.
double set_string(State& st, ImageRecord& image, ILenum setting, const char* text);
double filter(State& st, ImageRecord& image);
double filter_scale(State& st, ImageRecord& image, ILenum filter);
double set_language(ILenum language);

// The resizing operations.
double rotate(State& st, ImageRecord& image, float angle);
double rotate_3d(State& st, ImageRecord& image, float x, float y, float angle);
double scale(State& st, ImageRecord& image, std::uint32_t width, std::uint32_t height);

}  // namespace ombrix::ilu
