// image_transformRGB and image_test on 4096² and 2048² random images, each against a memcpy of the
// same RGB buffer into a warm buffer, measured in the same run. Integer modes are also measured
// with the vector passes switched off (the scalar loop), floating-point modes against a
// straightforward per-pixel loop over the formula. Times are the best of the iterations (the
// machine may be shared); counters: ms, memcpy_ms, x_memcpy (ms / memcpy_ms) and x_faster
// (scalar or straightforward ms / ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "bench_support.hpp"
#include "colour/models.hpp"
#include "pixel/rank_transform.hpp"
#include "pixel/transform.hpp"
#include "simd/dispatch.hpp"

using namespace ombrix;

namespace {

using bench::seconds;

enum class Transform { rgb, test };

// Best time of `runs` passes, each on a fresh copy of the source (copied outside the timing).
template <class Pass>
double best_pass(const ImageRecord& source, ImageRecord& work, int runs, Pass&& pass) {
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < runs; ++i) {
        std::memcpy(work.rgb.data(), source.rgb.data(), source.rgb.size());
        best = std::min(best, seconds([&] { pass(work); }));
    }
    return best;
}

// The byte of one floating-point mode of image_transformRGB, straight from the colour models.
colour::byte formula_byte(std::int32_t mode, colour::byte r, colour::byte g, colour::byte b) {
    switch (mode) {
        case 21:
            return colour::rgb_hue_byte(r, g, b);
        case 22:
            return colour::rgb_saturation_byte(r, g, b);
        case 23:
            return colour::rgb_value_byte(r, g, b);
        case 24:
            return colour::rgb_lab_l_byte(r, g, b);
        case 25:
            return colour::rgb_lab_a_byte(r, g, b);
        default:
            return colour::rgb_lab_b_byte(r, g, b);
    }
}

// The floating-point modes' formula, pixel by pixel, as a plain loop would write it.
void straightforward(Transform kind, std::int32_t mode, ImageRecord& image) {
    std::uint8_t* p = image.rgb.data();
    for (std::size_t i = 0; i < image.pixel_count(); ++i, p += 3) {
        const colour::Rgb q = kind == Transform::rgb ? pixel::grey(formula_byte(mode, p[0], p[1], p[2]))
                                                     : pixel::rank_pixel(mode, {p[0], p[1], p[2]});
        p[0] = q.r;
        p[1] = q.g;
        p[2] = q.b;
    }
}

void BM_Transform(benchmark::State& state, Transform kind, std::int32_t mode, bool floating) {
    const auto source = bench::random_image(static_cast<std::int32_t>(state.range(0)), 7);
    auto work = make_record(source->width, source->height);
    const auto pass = [&](ImageRecord& image) {
        if (kind == Transform::rgb)
            pixel::transform_rgb(image, mode);
        else
            pixel::rank_transform(image, mode);
    };
    pass(*work);  // builds any tables outside the measurement
    double best = std::numeric_limits<double>::infinity();
    for (auto _ : state) {
        const double s = best_pass(*source, *work, 1, pass);
        state.SetIterationTime(s);
        best = std::min(best, s);
    }
    memory::Buffer warm(source->rgb.size());
    std::memset(warm.data(), 1, warm.size());
    double baseline = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 10; ++i)
        baseline = std::min(baseline, seconds([&] {
                                std::memcpy(warm.data(), source->rgb.data(), source->rgb.size());
                                benchmark::DoNotOptimize(warm.data());
                            }));
    double other;
    if (floating) {
        other = best_pass(*source, *work, 3, [&](ImageRecord& image) { straightforward(kind, mode, image); });
        state.counters["straightforward_ms"] = other * 1e3;
    } else {
        const simd::PathCap scalar(simd::Path::scalar);
        other = best_pass(*source, *work, 5, pass);
        state.counters["scalar_ms"] = other * 1e3;
    }
    state.counters["ms"] = best * 1e3;
    state.counters["memcpy_ms"] = baseline * 1e3;
    state.counters["x_memcpy"] = best / baseline;
    state.counters["x_faster"] = other / best;
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(4096)->Arg(2048)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Transform, transformRGB_27_luma, Transform::rgb, 27, false)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, transformRGB_34_posterise, Transform::rgb, 34, false)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, transformRGB_21_hue, Transform::rgb, 21, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, transformRGB_24_lab_l, Transform::rgb, 24, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, transformRGB_22_saturation, Transform::rgb, 22, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, transformRGB_23_value, Transform::rgb, 23, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, transformRGB_25_lab_a, Transform::rgb, 25, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, transformRGB_26_lab_b, Transform::rgb, 26, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, test_21_luma, Transform::test, 21, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, test_22_blue_difference, Transform::test, 22, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, test_23_red_difference, Transform::test, 23, true)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, test_7_ranks, Transform::test, 7, false)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Transform, test_17_hwb, Transform::test, 17, false)->Apply(sizes);

BENCHMARK_MAIN();
