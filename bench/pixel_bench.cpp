// Pixel operations on 4096 × 4096 and 2048 × 2048 images, each reported as a multiple of a memcpy
// of the same buffer measured in the same run (counter "x_memcpy", both in thread CPU time).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <random>

#include "colour/channels.hpp"
#include "pixel/access.hpp"
#include "pixel/mosaic.hpp"
#include "pixel/pattern.hpp"
#include "pixel/shuffle.hpp"
#include "store/state.hpp"

namespace {

using namespace ombrix;

// Thread CPU time: the machine is shared, and a preempted run should not count against an
// operation or its baseline.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::unique_ptr<ImageRecord> noisy_image(std::int32_t side) {
    auto image = make_record(side, side);
    std::mt19937 generator(7);
    for (std::size_t k = 0; k < image->rgb.size(); ++k) image->rgb[k] = static_cast<std::uint8_t>(generator());
    return image;
}

// Best of several memcpy runs between two touched buffers of `bytes`, measured once per size.
double memcpy_seconds(std::size_t bytes) {
    static std::map<std::size_t, double> measured;
    if (auto it = measured.find(bytes); it != measured.end()) return it->second;
    memory::Buffer from(bytes), to(bytes);
    std::memset(from.data(), 1, bytes);
    std::memset(to.data(), 2, bytes);
    double best = 1e9;
    for (int run = 0; run < 15; ++run) {
        const double start = cpu_seconds();
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        best = std::min(best, cpu_seconds() - start);
    }
    measured[bytes] = best;
    return best;
}

template <class Operation>
void measure(benchmark::State& state, Operation operation) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    auto image = noisy_image(side);
    const double baseline = memcpy_seconds(image->rgb.size());
    operation(*image);  // warm up
    double total = 0;
    for (auto _ : state) {
        const double start = cpu_seconds();
        operation(*image);
        benchmark::DoNotOptimize(image->rgb.data());
        benchmark::ClobberMemory();
        total += cpu_seconds() - start;
    }
    state.counters["x_memcpy"] = total / static_cast<double>(state.iterations()) / baseline;
    state.counters["memcpy_ms"] = baseline * 1e3;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image->rgb.size()));
}

void Memcpy(benchmark::State& state) {
    const auto side = static_cast<std::size_t>(state.range(0));
    const std::size_t bytes = side * side * 3;
    memory::Buffer from(bytes), to(bytes);
    std::memset(from.data(), 1, bytes);
    std::memset(to.data(), 2, bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

void ColourSequence(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::fill_colour_sequence(i); });
}
void Mosaic_8_1(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::mosaic(i, 8, 4.0, 1, 200); });
}
void Blur_1_1(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::blur_four_point(i, 1, 1); });
}
void Blur_minus1_minus1(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::blur_four_point(i, -1, -1); });
}
void Blur_minus1_1(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::blur_four_point(i, -1, 1); });
}
void Blur_1_minus1(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::blur_four_point(i, 1, -1); });
}
void Blur_column_order_1_1(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::blur_four_point_column_order(i, 1, 1); });
}
void Median_0(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::shuffle_pairs(i, 0); });
}
void Median_1(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::shuffle_pairs(i, 1); });
}
void Median_2(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::shuffle_pairs(i, 2); });
}

void ConvertTo4(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { pixel::convert_to_4(i); });
}
void AverageInto(benchmark::State& state) {
    const auto other = noisy_image(static_cast<std::int32_t>(state.range(0)));
    measure(state, [&](ImageRecord& i) { pixel::average_into(i, *other); });
}
// Creates an image twice as wide, so the baseline is a copy of both sources into fresh memory.
void JoinSideBySide(benchmark::State& state) {
    const auto other = noisy_image(static_cast<std::int32_t>(state.range(0)));
    measure(state, [&](ImageRecord& i) { benchmark::DoNotOptimize(pixel::join_side_by_side(i, *other)); });
}

void RGBMinMax(benchmark::State& state) {
    measure(state, [](ImageRecord& i) { colour::clamp_channel_ranges(i, {{{10, 200}, {0.5, 254.5}, {40, 30}}}); });
}

}  // namespace

#define SIZES ->Arg(4096)->Arg(2048)->Unit(benchmark::kMillisecond)
BENCHMARK(Memcpy) SIZES;
BENCHMARK(ColourSequence) SIZES;
BENCHMARK(Mosaic_8_1) SIZES;
BENCHMARK(Blur_1_1) SIZES;
BENCHMARK(Blur_minus1_minus1) SIZES;
BENCHMARK(Blur_minus1_1) SIZES;
BENCHMARK(Blur_1_minus1) SIZES;
BENCHMARK(Blur_column_order_1_1) SIZES;
BENCHMARK(Median_0) SIZES;
BENCHMARK(Median_1) SIZES;
BENCHMARK(Median_2) SIZES;
BENCHMARK(ConvertTo4) SIZES;
BENCHMARK(AverageInto) SIZES;
BENCHMARK(JoinSideBySide) SIZES;
BENCHMARK(RGBMinMax) SIZES;

BENCHMARK_MAIN();
