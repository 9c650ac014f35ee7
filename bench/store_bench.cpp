// Loading and cloning a 4096 × 4096 image with the store's huge-page allocator against the same
// calls with plain malloc-backed buffers, next to a memcpy of the same 48 MiB in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <IL/il.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "store/images.hpp"
#include "store/library.hpp"

namespace {

using namespace ombrix;

constexpr int side = 4096;

using bench::bench_state;

// A 4096 × 4096 BMP: cheap to decode, so the load's own costs show.
const std::string& big_bmp() {
    static const std::string path = [] {
        std::string p = "/tmp/ombrix-bench-" + std::to_string(getpid()) + ".bmp";
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(side) * side * 3);
        for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
        ILuint name = 0;
        ilGenImages(1, &name);
        ilBindImage(name);
        ilTexImage(side, side, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, rgb.data());
        ilEnable(IL_FILE_OVERWRITE);
        ilSave(IL_BMP, p.c_str());
        ilDeleteImages(1, &name);
        return p;
    }();
    return path;
}

void Memcpy48MiB(benchmark::State& state) {
    std::vector<std::uint8_t> a(static_cast<std::size_t>(side) * side * 3, 1), b(a.size());
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}

void Load(benchmark::State& state) {
    memory::set_huge_pages(state.range(0) != 0);
    State& st = bench_state();
    const std::string& path = big_bmp();
    for (auto _ : state) {
        const auto id = static_cast<std::int32_t>(load_image(st, path.c_str()));
        benchmark::DoNotOptimize(st.images.get(id).rgb.data());
        st.images.erase(id);
    }
    memory::set_huge_pages(true);
    state.SetLabel(state.range(0) ? "huge pages" : "malloc");
}

void Clone(benchmark::State& state) {
    memory::set_huge_pages(state.range(0) != 0);
    State& st = bench_state();
    const auto source = st.take_image_id();
    auto record = make_record(side, side);
    std::memset(record->rgb.data(), 3, record->rgb.size());
    record->rgba = memory::Buffer(record->pixel_count() * 4, true);
    st.images.put(source, std::move(record));
    for (auto _ : state) {
        const auto id =
            static_cast<std::int32_t>(register_image(st, st.take_image_id(), st.images.get(source).clone()));
        benchmark::DoNotOptimize(st.images.get(id).rgb.data());
        st.images.erase(id);
    }
    st.images.erase(source);
    memory::set_huge_pages(true);
    state.SetLabel(state.range(0) ? "huge pages" : "malloc");
}

BENCHMARK(Memcpy48MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(Load)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(Clone)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::remove(big_bmp().c_str());
    return 0;
}
