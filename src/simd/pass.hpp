// The frame that every in-place per-pixel pass shares: the scalar loop that rewrites each pixel
// through a per-pixel function inlined into it, and the table that turns a numbered mode into its
// pass. The per-pixel functions are chosen at compile time, so each pass stays one tight loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace ombrix::simd {

// An in-place pass over `n` packed RGB pixels.
using Pass = void (*)(std::uint8_t*, std::size_t);

// Replaces each of the `n` pixels at `p` by `pixel(old)`, where a pixel is a `Colour` built from
// its three bytes in buffer order and read back through its members r, g and b.
template <class Colour, class PixelFunction>
[[gnu::always_inline]] inline void rewrite_pixels(std::uint8_t* p, std::size_t n, PixelFunction pixel) noexcept {
    for (std::size_t i = 0; i < n; ++i, p += 3) {
        const Colour q = pixel(Colour{p[0], p[1], p[2]});
        p[0] = q.r;
        p[1] = q.g;
        p[2] = q.b;
    }
}

// {pass_of.operator()<0>(), ..., pass_of.operator()<Count - 1>()}: the passes of modes 0 to
// Count - 1, for a lambda `[]<int Mode> { return &some_pass<Mode>; }`.
template <std::size_t Count, class PassOf>
constexpr std::array<Pass, Count> pass_table(PassOf pass_of) {
    return [&]<std::size_t... Modes>(std::index_sequence<Modes...>) {
        return std::array<Pass, Count>{pass_of.template operator()<static_cast<int>(Modes)>()...};
    }
    (std::make_index_sequence<Count>{});
}

}  // namespace ombrix::simd
