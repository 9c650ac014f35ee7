// The DevIL round trip on a 4096 × 4096 image: image_Negative, image_BlurGaussian(id, 1) and
// image_Scale to half size, each timed in the same run against
//   (a) the same DevIL steps written by hand with DevIL's default allocator (ilTexImage, the ILU
//       call, ilCopyPixels into the caller's buffer), and
//   (b) the ILU call alone on an image that is already bound.
// Every iteration times all three sides; the counters give the medians in ms and the ratios
// ombrix / (a) and ombrix / (b).
#include <benchmark/benchmark.h>

#include <IL/il.h>
#include <IL/ilu.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "exports/boundary.hpp"
#include "ombrix_exports.h"
#include "store/memory.hpp"

namespace {

using namespace ombrix;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t side = 4096;

std::vector<std::uint8_t> pattern() {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(side) * side * 3);
    std::uint32_t x = 2463534242u;
    for (auto& byte : rgb) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x);
    }
    return rgb;
}

const std::vector<std::uint8_t>& source_pixels() {
    static const std::vector<std::uint8_t> rgb = pattern();
    return rgb;
}

// A fresh library image holding the pattern, registered in the exports' State.
std::int32_t fresh_image() {
    State& st = state();
    const std::int32_t id = st.take_image_id();
    auto record = make_record(side, side);
    std::copy(source_pixels().begin(), source_pixels().end(), record->rgb.data());
    record->bits_per_pixel = 24;
    st.images.put(id, std::move(record));
    return id;
}

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void* library_allocate(const ILsizei size) { return memory::devil_allocate(static_cast<std::size_t>(size)); }
void library_release(const void* block) { memory::devil_release(block); }

// DevIL's default allocation, plain malloc. Blocks are released through the library's hook, which
// hands blocks it did not make to free(): DevIL keeps small blocks (its list of freed image names)
// across calls, so a block made under one allocator may be released under the other.
void* malloc_allocate(const ILsizei size) { return std::malloc(static_cast<std::size_t>(size)); }

// (a): the round trip by hand, every new DevIL block from malloc.
double by_hand(const std::function<void()>& ilu_call, std::vector<std::uint8_t>& out) {
    ilSetMemory(malloc_allocate, library_release);
    const auto start = Clock::now();
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    ilTexImage(side, side, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, const_cast<std::uint8_t*>(source_pixels().data()));
    ilu_call();
    const auto w = static_cast<ILuint>(ilGetInteger(IL_IMAGE_WIDTH));
    const auto h = static_cast<ILuint>(ilGetInteger(IL_IMAGE_HEIGHT));
    out.resize(static_cast<std::size_t>(w) * h * 3);
    ilCopyPixels(0, 0, 0, w, h, 1, IL_RGB, IL_UNSIGNED_BYTE, out.data());
    ilDeleteImages(1, &name);
    const double ms = ms_since(start);
    // Back to the library's allocator, as init leaves it.
    ilSetMemory(library_allocate, library_release);
    return ms;
}

// (b): the ILU call alone, on an image bound before the clock starts.
double call_alone(const std::function<void()>& ilu_call) {
    ILuint name = 0;
    ilGenImages(1, &name);
    ilBindImage(name);
    ilTexImage(side, side, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, const_cast<std::uint8_t*>(source_pixels().data()));
    const auto start = Clock::now();
    ilu_call();
    const double ms = ms_since(start);
    ilDeleteImages(1, &name);
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void compare(benchmark::State& state, const std::function<double(double)>& the_export,
             const std::function<void()>& ilu_call) {
    init();
    std::vector<double> ours, hand, alone;
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        const std::int32_t id = fresh_image();
        auto start = Clock::now();
        const double result = the_export(id);
        const double ms = ms_since(start);
        if (result != 1) state.SkipWithError(image_last_error());
        image_free(id);
        ours.push_back(ms);
        hand.push_back(by_hand(ilu_call, out));
        alone.push_back(call_alone(ilu_call));
        state.SetIterationTime(ms / 1000.0);
        benchmark::DoNotOptimize(out.data());
    }
    if (ours.empty()) return;
    const double o = median(ours), a = median(hand), b = median(alone);
    state.counters["ombrix_ms"] = o;
    state.counters["by_hand_ms"] = a;
    state.counters["ilu_alone_ms"] = b;
    state.counters["x_by_hand"] = o / a;
    state.counters["x_ilu_alone"] = o / b;
}

void Negative(benchmark::State& state) {
    compare(
        state, [](double id) { return image_Negative(id); }, [] { iluNegative(); });
}

void BlurGaussian1(benchmark::State& state) {
    compare(
        state, [](double id) { return image_BlurGaussian(id, 1); }, [] { iluBlurGaussian(1); });
}

void ScaleToHalf(benchmark::State& state) {
    compare(
        state, [](double id) { return image_Scale(id, side / 2, side / 2); }, [] { iluScale(side / 2, side / 2, 1); });
}

}  // namespace

BENCHMARK(Negative)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BlurGaussian1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(ScaleToHalf)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK_MAIN();
