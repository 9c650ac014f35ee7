// write_png_file over libpng. libpng reports errors by longjmp to the recovery point; the two
// functions that set one hold nothing with a destructor, so the jump skips no cleanup. The file,
// the libpng structures and the row buffer belong to the caller and are released on every path.
#include "files/png_writer.hpp"

#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "files/output.hpp"

namespace ombrix::files {

namespace {

// libpng's own handlers print to standard error; the writer reports through its result alone.
[[noreturn]] void on_png_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_png_warning(png_structp, png_const_charp) {}

// libpng's output goes through the whole-or-nothing file; a failed write ends the file at once.
void on_png_write(png_structp png, png_bytep data, png_size_t length) {
    if (!static_cast<AtomicFile*>(png_get_io_ptr(png))->write(data, length)) png_longjmp(png, 1);
}
void on_png_flush(png_structp) {}

class PngWriteStruct {
public:
    PngWriteStruct() : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning)) {}
    PngWriteStruct(const PngWriteStruct&) = delete;
    PngWriteStruct& operator=(const PngWriteStruct&) = delete;
    ~PngWriteStruct() {
        if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    }
    png_structp png() const noexcept { return png_; }
    png_infop info() const noexcept { return info_; }
    bool create_info() noexcept { return (info_ = png_create_info_struct(png_)) != nullptr; }

private:
    png_structp png_;
    png_infop info_ = nullptr;
};

// Compression settings, output, header, sBIT and the info chunks.
bool write_png_start(png_structp png, png_infop info, AtomicFile& file, const PngSettings& s) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_compression_level(png, s.compression_level);
    png_set_compression_mem_level(png, s.compression_memory_level);
    png_set_compression_strategy(png, s.compression_strategy);
    // Level 9 spends nearly all its time in zlib's match search, which the row filters feed. The
    // Up filter alone left zlib about 30 % less to do than libpng's adaptive choice among all five,
    // and gave files no larger, on the photographs and photo-like pictures measured.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_write_fn(png, &file, on_png_write, on_png_flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_color_8 significant{};
    significant.red = significant.green = significant.blue = significant.alpha = 8;
    png_set_sBIT(png, info, &significant);
    png_write_info(png, info);
    png_set_shift(png, &significant);
    png_set_packing(png);
    return true;
}

// The rows, keyed to RGBA one at a time, and the end of the file.
bool write_png_rows(png_structp png, png_infop info, const PngSettings& s, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    const std::size_t width = static_cast<std::size_t>(s.width);
    const std::uint8_t* in = s.pixels;
    for (std::int32_t y = 0; y < s.height; ++y) {
        for (std::size_t x = 0; x < width; ++x, in += 3) {
            const bool key = in[0] == s.key_red && in[1] == s.key_green && in[2] == s.key_blue;
            row[4 * x] = in[0];
            row[4 * x + 1] = in[1];
            row[4 * x + 2] = in[2];
            row[4 * x + 3] = key ? 0 : 255;
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

bool write_png_file(const PngSettings& settings, const char* path) {
    AtomicFile file(path);
    if (!file) return false;
    PngWriteStruct png;
    if (!png.png() || !png.create_info()) return false;
    // Negative sizes cannot describe pixel data; libpng refuses a zero size itself.
    if (settings.width < 0 || settings.height < 0 || (!settings.pixels && settings.width && settings.height))
        return false;
    if (!write_png_start(png.png(), png.info(), file, settings)) return false;
    if (settings.width > 1073741823) return false;
    memory::Buffer row;
    try {
        row = memory::Buffer(static_cast<std::size_t>(settings.width) * 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!write_png_rows(png.png(), png.info(), settings, row.data())) return false;
    return file.commit();
}

bool write_test_png(const ImageRecord& image) {
    PngSettings settings;
    settings.width = image.width;
    settings.height = image.height;
    settings.pixels = image.rgb.data();
    return write_png_file(settings, "test_out.png");
}

}  // namespace ombrix::files
