// Writing the canvas through libpng. libpng reports errors by longjmp; the jump lands in
// write_png's own frame, whose objects were all made before setjmp and stay alive, so the file
// guard closes the file on every path.
#include "canvas.hpp"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ombrix::host {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct PngErrorText {
    char text[256] = "";
};

[[noreturn]] void on_png_error(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngErrorText*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// The libpng part, kept free of C++ objects with destructors so that the longjmp skips none.
bool encode(std::FILE* file, const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
            PngErrorText& error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, on_png_error, on_png_warning);
    if (!png) {
        std::snprintf(error.text, sizeof error.text, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(error.text, sizeof error.text, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const std::size_t stride = std::size_t{width} * 3;
    for (std::uint32_t y = 0; y < height; ++y) png_write_row(png, pixels + y * stride);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::string Canvas::write_png(const std::string& path) const {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return std::strerror(errno);
    PngErrorText error;
    if (!encode(file.get(), pixels_.data(), width_, height_, error)) return error.text;
    if (std::fflush(file.get()) != 0 || std::ferror(file.get())) return std::strerror(errno);
    if (std::fclose(file.release()) != 0) return std::strerror(errno);
    return {};
}

}  // namespace ombrix::host
