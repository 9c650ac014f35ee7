// What the benchmarks share: timing a callable, an initialised library state, and the test images
// (random bytes, and a photo-like picture with gradients, discs and mild noise).
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>

#include "store/library.hpp"
#include "store/state.hpp"

namespace ombrix::bench {

using Clock = std::chrono::steady_clock;

template <class F>
double seconds(F&& f) {
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

template <class F>
double best_of(int runs, F&& f) {
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < runs; ++i) best = std::min(best, seconds(f));
    return best;
}

// The library's state, initialised once for the whole benchmark program.
inline State& bench_state() {
    static State st = [] {
        State s;
        init_library(s);
        return s;
    }();
    return st;
}

// Every byte from a Mersenne Twister seeded with `seed`: nothing for a compressor or a table to
// exploit.
inline std::unique_ptr<ImageRecord> random_image(std::int32_t side, unsigned seed) {
    auto image = make_record(side, side);
    std::mt19937 gen(seed);
    std::uint8_t* bytes = image->rgb.data();
    for (std::size_t i = 0; i < image->rgb.size(); ++i) bytes[i] = static_cast<std::uint8_t>(gen() >> 24);
    return image;
}

// Gradients, two discs, a diagonal wave and mild noise, like a photograph to a compressor or a
// filter. The layout scales with `side` (1024 is the unit), so every size shows the same picture.
inline std::unique_ptr<ImageRecord> photo_like(std::int32_t side) {
    auto record = make_record(side, side);
    const double scale = 1024.0 / side;
    std::uint32_t x = 99;
    std::uint8_t* p = record->rgb.data();
    for (std::int32_t y = 0; y < side; ++y)
        for (std::int32_t c = 0; c < side; ++c, p += 3) {
            x = x * 1103515245u + 12345u;
            const int noise = static_cast<int>(x >> 29) - 4;
            const double u = 4 * c * scale, v = 4 * y * scale;
            const double d = std::hypot(u - 1500.0, v - 2200.0), e = std::hypot(u - 3000.0, v - 900.0);
            const int r = static_cast<int>(static_cast<std::int64_t>(c) * 255 / side) + (d < 700 ? 60 : 0);
            const int g = static_cast<int>(static_cast<std::int64_t>(y) * 255 / side) + (e < 500 ? -50 : 0);
            const int b = static_cast<int>(128 + 100 * std::sin((c + y) * scale / 75.0));
            p[0] = static_cast<std::uint8_t>(std::clamp(r + noise, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(g + noise, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(b + noise, 0, 255));
        }
    return record;
}

}  // namespace ombrix::bench
