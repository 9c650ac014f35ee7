// The canvas that draw_point_color paints: 8-bit RGB, black and opaque to begin with, written out
// as a PNG when the script has run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "value.hpp"

namespace ombrix::host {

class Canvas {
public:
    static constexpr std::uint32_t max_side = 16384;
    static constexpr std::uint64_t max_pixels = std::uint64_t{1} << 26;

    // Sides from 1 to max_side, at most max_pixels pixels (the caller checks).
    Canvas(std::uint32_t width, std::uint32_t height)
        : width_(width), height_(height), pixels_(std::size_t{width} * height * 3, 0) {}

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

    // Paints pixel (x, y), x to the right and y down from the top-left corner, with the packed
    // colour red + 256 green + 65536 blue. Coordinates and colour are truncated toward zero (NaN
    // and out-of-range reals becoming the most negative 64-bit integer); the colour's low three
    // bytes are used; points outside the canvas are ignored.
    void draw_point(double x, double y, double colour) {
        std::int64_t column = truncate_to_int64(x), row = truncate_to_int64(y);
        if (column < 0 || row < 0 || column >= width_ || row >= height_) return;
        auto packed = static_cast<std::uint64_t>(truncate_to_int64(colour));
        std::uint8_t* p = &pixels_[(static_cast<std::size_t>(row) * width_ + static_cast<std::size_t>(column)) * 3];
        p[0] = static_cast<std::uint8_t>(packed);
        p[1] = static_cast<std::uint8_t>(packed >> 8);
        p[2] = static_cast<std::uint8_t>(packed >> 16);
    }

    // The packed colour of a pixel inside the canvas.
    std::uint32_t colour_at(std::uint32_t x, std::uint32_t y) const {
        const std::uint8_t* p = &pixels_[(std::size_t{y} * width_ + x) * 3];
        return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
    }

    // Writes an 8-bit RGB PNG. Returns an empty string on success, else the reason.
    std::string write_png(const std::string& path) const;

private:
    std::uint32_t width_;
    std::uint32_t height_;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace ombrix::host
