// Grey and channel compositions on 4096² and 2048² random images, each against a memcpy of the
// same RGB buffer measured in the same run. Compositions make a new image, so their memcpy copies
// into a fresh buffer from the store's allocator; the in-place grey copies into a warm one. HSV
// and L*a*b* are also measured against a straightforward per-pixel loop over the formula. The
// *Avx2 variants force the AVX2 path.
// Times are the best of the iterations (the machine may be shared); counters:
//   ms, memcpy_ms, x_memcpy (ms / memcpy_ms), for compositions also x_memcpy_warm (against a copy
//   into a buffer already faulted in), and for HSV and L*a*b* x_faster (straightforward / ms).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "bench_support.hpp"
#include "colour/channels.hpp"
#include "colour/models.hpp"
#include "simd/dispatch.hpp"

using namespace ombrix;
using colour::Composition;

namespace {

using bench::best_of;
using bench::random_image;
using bench::seconds;

double memcpy_seconds(const ImageRecord& image, bool fresh) {
    memory::Buffer warm(image.rgb.size());
    std::memset(warm.data(), 1, warm.size());
    return best_of(10, [&] {
        if (fresh) {
            memory::Buffer out(image.rgb.size());
            std::memcpy(out.data(), image.rgb.data(), image.rgb.size());
            benchmark::DoNotOptimize(out.data());
        } else {
            std::memcpy(warm.data(), image.rgb.data(), image.rgb.size());
            benchmark::DoNotOptimize(warm.data());
        }
    });
}

void report(benchmark::State& state, double best, double baseline) {
    state.counters["ms"] = best * 1e3;
    state.counters["memcpy_ms"] = baseline * 1e3;
    state.counters["x_memcpy"] = best / baseline;
}

void BM_memcpy_fresh(benchmark::State& state) {
    const auto image = random_image(static_cast<int>(state.range(0)), 1);
    double best = std::numeric_limits<double>::infinity();
    for (auto _ : state) {
        const double s = seconds([&] {
            memory::Buffer out(image->rgb.size());
            std::memcpy(out.data(), image->rgb.data(), image->rgb.size());
            benchmark::DoNotOptimize(out.data());
        });
        state.SetIterationTime(s);
        best = std::min(best, s);
    }
    state.counters["ms"] = best * 1e3;
}

void BM_ConvertGrayscale(benchmark::State& state) {
    const auto source = random_image(static_cast<int>(state.range(0)), 1);
    auto image = make_record(source->width, source->height);
    double best = std::numeric_limits<double>::infinity();
    for (auto _ : state) {
        std::memcpy(image->rgb.data(), source->rgb.data(), source->rgb.size());
        const double s = seconds([&] { colour::convert_grayscale(*image); });
        state.SetIterationTime(s);
        best = std::min(best, s);
    }
    report(state, best, memcpy_seconds(*source, false));
}

// The export's whole work: a new ID, the lookups, a fresh record and the pass.
double compose_seconds(State& st, Composition kind, const std::int32_t* ids) {
    double id = 0;
    const double s = seconds([&] {
        id = st.take_image_id();
        std::array<const ImageRecord*, 4> sources{};
        for (std::size_t i = 0; i < colour::source_count(kind); ++i) sources[i] = &st.images.get(ids[i]);
        st.images.put(static_cast<std::int32_t>(id),
                      colour::compose_channels(kind, std::span(sources.data(), colour::source_count(kind))));
    });
    st.images.erase(static_cast<std::int32_t>(id));
    return s;
}

// Per-pixel loops over the formulas as written, for comparison.
void straightforward(Composition kind, const ImageRecord* const* s, std::uint8_t* out) {
    const std::size_t n = s[0]->pixel_count();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = 3 * i;
        colour::Rgb p;
        if (kind == Composition::hsv)
            p = colour::hsv_unit_to_rgb(s[0]->rgb[at] / 255.0, s[1]->rgb[at] / 255.0, s[2]->rgb[at] / 255.0);
        else
            p = colour::lab_bytes_to_rgb(s[0]->rgb[at], s[1]->rgb[at + 1], s[2]->rgb[at + 2]);
        out[at] = p.r;
        out[at + 1] = p.g;
        out[at + 2] = p.b;
    }
}

void BM_Compose(benchmark::State& state, Composition kind) {
    const int side = static_cast<int>(state.range(0));
    State st;
    std::int32_t ids[4];
    for (int i = 0; i < 4; ++i) {
        ids[i] = st.take_image_id();
        st.images.put(ids[i], random_image(side, static_cast<unsigned>(10 + i)));
    }
    double best = std::numeric_limits<double>::infinity();
    for (auto _ : state) {
        const double s = compose_seconds(st, kind, ids);
        state.SetIterationTime(s);
        best = std::min(best, s);
    }
    report(state, best, memcpy_seconds(st.images.get(ids[0]), true));
    // The same against a copy into a buffer already faulted in, which leaves out the allocation.
    state.counters["x_memcpy_warm"] = best / memcpy_seconds(st.images.get(ids[0]), false);
    if (kind == Composition::hsv || kind == Composition::lab) {
        const ImageRecord* sources[] = {&st.images.get(ids[0]), &st.images.get(ids[1]), &st.images.get(ids[2])};
        const double plain = best_of(3, [&] {
            memory::Buffer out(sources[0]->rgb.size());
            straightforward(kind, sources, out.data());
            benchmark::DoNotOptimize(out.data());
        });
        state.counters["straightforward_ms"] = plain * 1e3;
        state.counters["x_faster"] = plain / best;
    }
}

// The same on the AVX2 path, for processors without AVX-512 VBMI.
void BM_ComposeOnAvx2(benchmark::State& state, Composition kind) {
    const simd::PathCap cap(simd::Path::avx2);
    BM_Compose(state, kind);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(4096)->Arg(2048)->UseManualTime()->Iterations(12)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_memcpy_fresh)->Apply(sizes);
BENCHMARK(BM_ConvertGrayscale)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Compose, RGBChannalToImage, Composition::rgb)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Compose, YCBCR470ChannalToImage, Composition::ycbcr_470)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Compose, YCBCR709ChannalToImage, Composition::ycbcr_709)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Compose, CMYKChannalToImage, Composition::cmyk)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Compose, HSVChannalToImage, Composition::hsv)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Compose, LABChannalToImage, Composition::lab)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ComposeOnAvx2, HSVChannalToImageAvx2, Composition::hsv)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ComposeOnAvx2, LABChannalToImageAvx2, Composition::lab)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ComposeOnAvx2, YCBCR470ChannalToImageAvx2, Composition::ycbcr_470)->Apply(sizes);

BENCHMARK_MAIN();
