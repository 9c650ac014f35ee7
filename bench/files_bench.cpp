// The files subsystem against plain C stdio writing the same bytes, in the same run: the text
// exports of a 1024 × 1024 image against one fprintf per pixel, and the OX file of a 2048 × 2048
// image against one fwrite / fread of the same bytes. Each benchmark times both sides in every
// iteration and reports baseline_ms, ombrix_ms and speedup (baseline time / library time).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>

#include <png.h>

#include "bench_support.hpp"
#include "files/ox.hpp"
#include "files/png_writer.hpp"
#include "files/text_export.hpp"
#include "store/library.hpp"
#include "store/state.hpp"

namespace {

using namespace ombrix;
using bench::bench_state;
using bench::seconds;

ImageRecord& bench_image(std::int32_t id, std::int32_t size) {
    State& st = bench_state();
    if (ImageRecord* found = st.images.find(id)) return *found;
    auto record = make_record(size, size);
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < record->rgb.size(); ++i) {
        x = x * 1103515245u + 12345u;
        record->rgb[i] = static_cast<std::uint8_t>(x >> 24);
    }
    record->rgba = memory::Buffer(record->pixel_count() * 4, true);
    st.images.put(id, std::move(record));
    return st.images.get(id);
}

std::string scratch_path(const char* name) {
    static const std::string dir = [] {
        std::string d = (std::filesystem::temp_directory_path() / "ombrix-bench-XXXXXX").string();
        if (!mkdtemp(d.data())) std::abort();
        return d;
    }();
    return dir + "/" + name;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Argument 0 writes real files; argument 1 writes both sides to /dev/null, which leaves out the
// kernel's page-cache cost (the same for both) and so measures the formatting alone.
std::string output_path(benchmark::State& state, const char* name) {
    return state.range(0) == 1 ? std::string("/dev/null") : scratch_path(name);
}

// Times both sides every iteration; checks once that they wrote the same bytes.
void compare(benchmark::State& state, const std::function<void()>& ombrix_side, const std::function<void()>& baseline,
             const char* ombrix_file, const char* baseline_file) {
    ombrix_side();
    baseline();
    if (ombrix_file && std::strcmp(ombrix_file, "/dev/null") != 0 && read_all(ombrix_file) != read_all(baseline_file)) {
        state.SkipWithError("the baseline does not write the same bytes");
        return;
    }
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const double t = seconds(ombrix_side);
        theirs += seconds(baseline);
        ours += t;
        state.SetIterationTime(t);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["ombrix_ms"] = ours / n * 1e3;
    state.counters["baseline_ms"] = theirs / n * 1e3;
    state.counters["speedup"] = theirs / ours;
}

// The baselines walk the rows top of the picture first, as the exporters' flips make them do.
const std::uint8_t* pixel_at(const ImageRecord& image, std::int32_t x, std::int32_t row_written) {
    const auto y = static_cast<std::size_t>(image.height - 1 - row_written);
    return image.rgb.data() + (y * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x)) * 3;
}

void BM_Gml(benchmark::State& state) {
    bench_state();
    ImageRecord& image = bench_image(1, 1024);
    const std::string ours = output_path(state, "a.gml"), theirs = output_path(state, "b.gml");
    compare(
        state, [&] { files::write_gml(image, ours.c_str()); },
        [&] {
            std::FILE* f = std::fopen(theirs.c_str(), "wb");
            std::fprintf(f, "//Converted by Ombrix Plug-In\n\n");
            for (std::int32_t y = 0; y < image.height; ++y)
                for (std::int32_t x = 0; x < image.width; ++x) {
                    const std::uint8_t* p = pixel_at(image, x, y);
                    std::fprintf(f, "draw_point_color(%d, %d, %d);\n", x, y, p[0] + 256 * p[1] + 65536 * p[2]);
                }
            std::fclose(f);
        },
        ours.c_str(), theirs.c_str());
}

void BM_Html(benchmark::State& state) {
    State& st = bench_state();
    ImageRecord& image = bench_image(1, 1024);
    const std::string ours = output_path(state, "a.html"), theirs = output_path(state, "b.html");
    compare(
        state, [&] { files::write_html(st, image, ours.c_str()); },
        [&] {
            std::FILE* f = std::fopen(theirs.c_str(), "wb");
            std::fprintf(f,
                         "<HTML>\n<BODY>\n<HEAD><TITLE>%s</TITLE></HEAD><TABLE BORDER=%d CELLPADDING=%d "
                         "CELLSPACING=%d>\n   <TR>\n",
                         ours.c_str(), 2, 4, 0);
            for (std::int32_t y = 0; y < image.height; ++y) {
                for (std::int32_t x = 0; x < image.width; ++x) {
                    const std::uint8_t* p = pixel_at(image, x, y);
                    std::fprintf(f, "      <TD  BGCOLOR=#%s%X%s%X%s%X> %s; </TD>\n", p[0] < 16 ? "0" : "", p[0],
                                 p[1] < 16 ? "0" : "", p[1], p[2] < 16 ? "0" : "", p[2], "&nbsp");
                }
                std::fprintf(f, "   </TR><TR>\n");
            }
            std::fprintf(f, "   </TR>\n</TABLE></BODY></HTML>");
            std::fclose(f);
        },
        ours.c_str(), theirs.c_str());
}

void BM_Header(benchmark::State& state) {
    State& st = bench_state();
    ImageRecord& image = bench_image(1, 1024);
    const std::string ours = output_path(state, "a.h"), theirs = output_path(state, "b.h");
    compare(
        state, [&] { files::write_header(st, image, ours.c_str(), files::HeaderMode::rgb); },
        [&] {
            std::FILE* f = std::fopen(theirs.c_str(), "wb");
            std::fprintf(f, "//Converted by Ombrix Plug-In");
            std::fprintf(f, "\n\n// C Image Header:\n#define ImageBpp %d\n", 3);
            std::fprintf(f, "#define  ImageWidth %d;\n#define  ImageHeight %d;\n\nunsigned char %s[] = \n{\n    ",
                         image.width, image.height, "Image_Data");
            int on_line = 0;
            for (std::int32_t y = 0; y < image.height; ++y)
                for (std::int32_t x = 0; x < image.width; ++x) {
                    const std::uint8_t* p = pixel_at(image, x, y);
                    std::fprintf(f, "%4d,%4d,%4d,", p[0], p[1], p[2]);
                    if (++on_line == 5) {
                        std::fprintf(f, "\n\t");
                        on_line = 0;
                    }
                }
            std::fprintf(f, "\t};");
            std::fclose(f);
        },
        ours.c_str(), theirs.c_str());
}

void BM_OxWrite(benchmark::State& state) {
    bench_state();
    ImageRecord& image = bench_image(2, 2048);
    const std::string ours = scratch_path("a.ox"), theirs = scratch_path("b.ox");
    memory::Buffer flipped(image.rgb.size());
    const std::size_t row = static_cast<std::size_t>(image.width) * 3;
    for (std::size_t y = 0; y < static_cast<std::size_t>(image.height); ++y)
        std::memcpy(flipped.data() + y * row, image.rgb.data() + (static_cast<std::size_t>(image.height) - 1 - y) * row,
                    row);
    compare(
        state, [&] { files::write_ox(image, ours.c_str(), 1); },
        [&] {
            std::FILE* f = std::fopen(theirs.c_str(), "wb");
            std::fprintf(f, "OX %d %d %d %d ", image.width, image.height, 1, 1);
            std::fwrite(flipped.data(), 1, flipped.size(), f);
            std::fclose(f);
        },
        ours.c_str(), theirs.c_str());
}

void BM_OxRead(benchmark::State& state) {
    State& st = bench_state();
    ImageRecord& image = bench_image(2, 2048);
    const std::string path = scratch_path("r.ox");
    files::write_ox(image, path.c_str(), 1);
    const std::size_t bytes = image.rgb.size();
    compare(
        state,
        [&] {
            const auto id = static_cast<std::int32_t>(files::load_ox(st, path.c_str()));
            st.images.erase(id);
        },
        [&] {
            std::FILE* f = std::fopen(path.c_str(), "rb");
            int w = 0, h = 0, m = 0, one = 0;
            if (std::fscanf(f, "OX %d %d %d %d", &w, &h, &m, &one) != 4) std::abort();
            std::fgetc(f);
            memory::Buffer pixels(bytes);
            if (std::fread(pixels.data(), 1, bytes, f) != bytes) std::abort();
            benchmark::DoNotOptimize(pixels.data());
            std::fclose(f);
        },
        nullptr, nullptr);
}

// libpng's own defaults writing the same pixels as RGB at level 9: the baseline for test().
void plain_libpng_rgb(const ImageRecord& image, const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) std::abort();
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    for (std::int32_t y = 0; y < image.height; ++y)
        png_write_row(png, image.rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) * 3);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

// test()'s RGBA file at level 9 against libpng's defaults writing RGB at level 9. Reports ms for
// each, the ratio and both file sizes, and test()'s file through one stream on one thread.
void BM_TestPng(benchmark::State& state) {
    // 1024 × 1024: level 9 takes seconds on it.
    static const auto photo = bench::photo_like(1024);
    const ImageRecord& image = *photo;
    const std::string ours = scratch_path("test_out.png"), theirs = scratch_path("plain.png");
    const std::string single = scratch_path("single.png");
    double ours_s = 0, theirs_s = 0, single_s = 0;
    for (auto _ : state) {
        files::PngSettings settings;
        settings.width = image.width;
        settings.height = image.height;
        settings.pixels = image.rgb.data();
        const double a = seconds([&] {
            if (!files::write_png_file(settings, ours.c_str())) std::abort();
        });
        const double b = seconds([&] { plain_libpng_rgb(image, theirs); });
        // The same file through libpng's single stream, without the second thread.
        settings.two_pieces_from_bytes = std::numeric_limits<std::size_t>::max();
        const double c = seconds([&] {
            if (!files::write_png_file(settings, single.c_str())) std::abort();
        });
        state.SetIterationTime(a);
        single_s += c;
        ours_s += a;
        theirs_s += b;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["ombrix_ms"] = ours_s / n * 1e3;
    state.counters["libpng_rgb_ms"] = theirs_s / n * 1e3;
    state.counters["x_libpng_rgb"] = ours_s / theirs_s;
    state.counters["single_stream_ms"] = single_s / n * 1e3;
    state.counters["single_stream_bytes"] = static_cast<double>(std::filesystem::file_size(single));
    state.counters["ombrix_bytes"] = static_cast<double>(std::filesystem::file_size(ours));
    state.counters["libpng_rgb_bytes"] = static_cast<double>(std::filesystem::file_size(theirs));
}

}  // namespace

BENCHMARK(BM_TestPng)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Gml)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Html)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Header)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_OxWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_OxRead)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

BENCHMARK_MAIN();
