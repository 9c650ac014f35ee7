// The PNG writer, checked by independent readers: Python's imaging library and libpng decode the
// file, pngcheck validates its chunks, and zlib inflates the image data to compare with rows
// filtered here.
#include <dirent.h>
#include <png.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "files/png_writer.hpp"
#include "helpers.hpp"

namespace ombrix::testing {
namespace {

using files::PngSettings;
using files::write_png_file;

constexpr const char* python = "/usr/bin/python3";

bool have_decoder() {
    int status = 0;
    run(std::string(python) + " -c 'import PIL' 2>/dev/null", &status);
    return status == 0;
}

// "width height mode" and then every pixel's RGBA as decimal numbers, as the decoder reads them.
std::string decode(const std::string& path) {
    return run(std::string(python) +
               " -c 'import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
               "print(im.width, im.height, im.mode)\nprint(\" \".join(str(b) for b in im.tobytes()))' '" +
               path + "' 2>&1");
}

std::string expected_decode(std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& rgb,
                            std::array<int, 3> key) {
    std::ostringstream out;
    out << width << ' ' << height << " RGBA\n";
    for (std::size_t k = 0; k * 3 < rgb.size(); ++k) {
        const bool keyed = rgb[3 * k] == key[0] && rgb[3 * k + 1] == key[1] && rgb[3 * k + 2] == key[2];
        out << (k ? " " : "") << int{rgb[3 * k]} << ' ' << int{rgb[3 * k + 1]} << ' ' << int{rgb[3 * k + 2]} << ' '
            << (keyed ? 0 : 255);
    }
    out << '\n';
    return out.str();
}

std::size_t open_descriptors() {
    std::size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

TEST(PngWriter, DecoderSeesTheRowsInStoredOrderWithOnlyTheKeyTransparent) {
    if (!have_decoder()) GTEST_SKIP() << "no Python imaging library";
    TempDir dir;
    // The key (9, 8, 7) and pixels that differ from it in one channel each.
    const std::vector<std::uint8_t> rgb = {9, 8, 7, 10,  8,   7,   9, 9, 7, 9, 8, 6,
                                           0, 0, 0, 255, 255, 255, 9, 8, 7, 1, 2, 3};
    PngSettings s;
    s.width = 4;
    s.height = 2;
    s.pixels = rgb.data();
    s.key_red = 9, s.key_green = 8, s.key_blue = 7;
    const std::string path = dir.file("a.png");
    ASSERT_TRUE(write_png_file(s, path.c_str()));
    EXPECT_EQ(decode(path), expected_decode(4, 2, rgb, {9, 8, 7}));

    // A key level outside 0..255 matches nothing.
    s.key_red = -1, s.key_green = 8, s.key_blue = 7;
    ASSERT_TRUE(write_png_file(s, path.c_str()));
    EXPECT_EQ(decode(path), expected_decode(4, 2, rgb, {-1, -1, -1}));
}

TEST(PngWriter, PngcheckFindsAValidFileWithTheSignificantBitsChunk) {
    if (!have_program("pngcheck")) GTEST_SKIP() << "no pngcheck";
    TempDir dir;
    ImageRecord image;
    image = std::move(*make_record(300, 200));
    fill_pattern(image);
    PngSettings s;
    s.width = image.width;
    s.height = image.height;
    s.pixels = image.rgb.data();
    const std::string path = dir.file("a.png");
    ASSERT_TRUE(write_png_file(s, path.c_str()));
    int status = 0;
    const std::string report = run("pngcheck -v '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("300 x 200 image, 32-bit RGB+alpha, non-interlaced"), std::string::npos) << report;
    EXPECT_NE(report.find("chunk sBIT"), std::string::npos) << report;
    EXPECT_NE(report.find("red = 8 = 0x08, green = 8 = 0x08, blue = 8 = 0x08, alpha = 8 = 0x08"), std::string::npos)
        << report;
}

// What libpng's reader finds in a file: the header, the significant bits and the RGBA pixels.
struct ReadBack {
    png_uint_32 width = 0, height = 0;
    int bit_depth = 0, colour_type = 0, interlace = 0;
    png_color_8 sbit{};
    std::vector<std::uint8_t> rgba;
};

bool read_png(const std::string& path, ReadBack& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_bytep* volatile rows = nullptr;
    bool ok = false;
    if (!setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        out.width = png_get_image_width(png, info);
        out.height = png_get_image_height(png, info);
        out.bit_depth = png_get_bit_depth(png, info);
        out.colour_type = png_get_color_type(png, info);
        out.interlace = png_get_interlace_type(png, info);
        png_color_8p sbit = nullptr;
        if (png_get_sBIT(png, info, &sbit)) out.sbit = *sbit;
        out.rgba.assign(std::size_t{out.width} * out.height * 4, 0);
        rows = new png_bytep[out.height];
        for (png_uint_32 y = 0; y < out.height; ++y) rows[y] = out.rgba.data() + std::size_t{y} * out.width * 4;
        png_read_image(png, rows);
        png_read_end(png, nullptr);  // checks the zlib stream's Adler-32 and every CRC
        ok = true;
    }
    delete[] rows;
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return ok;
}

std::vector<std::uint8_t> expected_rgba(const std::vector<std::uint8_t>& rgb, std::array<int, 3> key) {
    std::vector<std::uint8_t> out;
    for (std::size_t k = 0; k * 3 < rgb.size(); ++k) {
        out.insert(out.end(), &rgb[3 * k], &rgb[3 * k] + 3);
        out.push_back(rgb[3 * k] == key[0] && rgb[3 * k + 1] == key[1] && rgb[3 * k + 2] == key[2] ? 0 : 255);
    }
    return out;
}

// The file's chunks as (type, data) pairs, walked from the signature on.
std::vector<std::pair<std::string, std::string>> chunks(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t at = 8; at + 12 <= bytes.size();) {
        const auto b = [&](std::size_t i) { return std::uint32_t{static_cast<std::uint8_t>(bytes[i])}; };
        const std::size_t length = b(at) << 24 | b(at + 1) << 16 | b(at + 2) << 8 | b(at + 3);
        out.emplace_back(bytes.substr(at + 4, 4), bytes.substr(at + 8, length));
        at += 12 + length;
    }
    return out;
}

// The IDAT data inflated by zlib (which checks the Adler-32); empty when the stream is bad.
std::vector<std::uint8_t> inflate_image_data(const std::string& path) {
    std::string stream;
    for (const auto& [type, data] : chunks(path))
        if (type == "IDAT") stream += data;
    std::vector<std::uint8_t> out(1 << 16);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return {};
    z.next_in = reinterpret_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    int r = Z_OK;
    std::size_t produced = 0;
    while (r == Z_OK) {
        if (produced == out.size()) out.resize(out.size() * 2);
        z.next_out = out.data() + produced;
        z.avail_out = static_cast<uInt>(out.size() - produced);
        r = inflate(&z, Z_NO_FLUSH);
        produced = out.size() - z.avail_out;
    }
    inflateEnd(&z);
    if (r != Z_STREAM_END || z.avail_in != 0) return {};
    out.resize(produced);
    return out;
}

// Each row: filter type 2 (Up), then every RGBA byte less the byte above it (zero above row 0).
std::vector<std::uint8_t> up_filtered(const std::vector<std::uint8_t>& rgba, std::size_t width) {
    std::vector<std::uint8_t> out;
    const std::size_t row = 4 * width;
    for (std::size_t y = 0; y * row < rgba.size(); ++y) {
        out.push_back(2);
        for (std::size_t i = 0; i < row; ++i)
            out.push_back(static_cast<std::uint8_t>(rgba[y * row + i] - (y ? rgba[(y - 1) * row + i] : 0)));
    }
    return out;
}

std::vector<std::uint8_t> noisy_rgb(std::int32_t width, std::int32_t height, unsigned seed) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        x = x * 1103515245u + 12345u;
        rgb[i] = static_cast<std::uint8_t>((i / 3 % 97) + (x >> 29));  // gradient and noise
    }
    if (rgb.size() >= 6) std::copy(rgb.begin(), rgb.begin() + 3, rgb.end() - 3);  // the key, twice
    return rgb;
}

TEST(PngWriter, BothDataPathsGiveThePixelsHeaderAndSignificantBitsAtEverySize) {
    TempDir dir;
    const std::string path = dir.file("a.png");
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{1, 1}, {1, 7}, {5, 3}, {37, 29}, {300, 201}}) {
        const auto rgb = noisy_rgb(width, height, static_cast<unsigned>(7 * width + height));
        const std::array<int, 3> key = {rgb[0], rgb[1], rgb[2]};
        std::string two_threads;
        for (const int path_kind : {0, 1, 2}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " path " + std::to_string(path_kind));
            PngSettings s;
            s.width = width;
            s.height = height;
            s.pixels = rgb.data();
            s.key_red = key[0], s.key_green = key[1], s.key_blue = key[2];
            // 0: libpng's single stream; 1: two pieces on two threads; 2: both on the calling thread.
            s.two_pieces_from_bytes = path_kind == 0 ? std::numeric_limits<std::size_t>::max() : 0;
            s.use_thread = path_kind != 2;
            ASSERT_TRUE(write_png_file(s, path.c_str()));
            ReadBack back;
            ASSERT_TRUE(read_png(path, back));
            EXPECT_EQ(back.width, static_cast<png_uint_32>(width));
            EXPECT_EQ(back.height, static_cast<png_uint_32>(height));
            EXPECT_EQ(back.bit_depth, 8);
            EXPECT_EQ(back.colour_type, PNG_COLOR_TYPE_RGB_ALPHA);
            EXPECT_EQ(back.interlace, PNG_INTERLACE_NONE);
            EXPECT_EQ(back.sbit.red + back.sbit.green + back.sbit.blue + back.sbit.alpha, 32);
            EXPECT_EQ(back.sbit.alpha, 8);
            const auto rgba = expected_rgba(rgb, key);
            EXPECT_TRUE(back.rgba == rgba);
            const auto listed = chunks(path);
            ASSERT_GE(listed.size(), 4u);
            EXPECT_EQ(listed.front().first, "IHDR");
            EXPECT_EQ(listed[1].first, "sBIT");
            EXPECT_EQ(listed.back().first, "IEND");
            if (path_kind == 0) continue;
            // The joined stream holds exactly the Up-filtered rows.
            EXPECT_TRUE(inflate_image_data(path) == up_filtered(rgba, static_cast<std::size_t>(width)));
            std::ifstream in(path, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            // Without a thread the pieces, and so the file, are the same.
            if (path_kind == 1)
                two_threads = bytes;
            else
                EXPECT_EQ(bytes, two_threads);
        }
    }
}

TEST(PngWriter, LargeDataTakesTheTwoPiecePathAndCompressesAsWellAsOneStream) {
    if (!have_program("pngcheck")) GTEST_SKIP() << "no pngcheck";
    TempDir dir;
    const std::int32_t width = 700, height = 500;  // 1.4 MB of filtered data
    const auto rgb = noisy_rgb(width, height, 3);
    PngSettings s;
    s.width = width;
    s.height = height;
    s.pixels = rgb.data();
    const std::string two = dir.file("two.png"), one = dir.file("one.png");
    ASSERT_TRUE(write_png_file(s, two.c_str()));
    s.two_pieces_from_bytes = std::numeric_limits<std::size_t>::max();
    ASSERT_TRUE(write_png_file(s, one.c_str()));
    int status = 0;
    const std::string report = run("pngcheck '" + two + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << report;
    // The two-piece path starts its data with the zlib header in a chunk of its own.
    const auto listed = chunks(two);
    ASSERT_GE(listed.size(), 3u);
    EXPECT_EQ(listed[2].first, "IDAT");
    EXPECT_EQ(listed[2].second.size(), 2u);
    // The second piece, primed with the first's last 32 KiB, costs the file under 1 %.
    std::size_t two_bytes = 0, one_bytes = 0;
    for (const auto& c : listed) two_bytes += c.second.size();
    for (const auto& c : chunks(one)) one_bytes += c.second.size();
    EXPECT_LT(two_bytes, one_bytes + one_bytes / 100);
    EXPECT_TRUE(inflate_image_data(two) == up_filtered(expected_rgba(rgb, {-1, -1, -1}), width));

    // Two noise rows taking turns: one stream repeats them from the start; so does the second
    // piece only when it starts from the first piece's last 32 KiB.
    std::vector<std::uint8_t> turns(rgb.size());
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    for (std::size_t at = 0; at < turns.size(); at += row) std::copy_n(&rgb[at / row % 2 * row], row, &turns[at]);
    s.pixels = turns.data();
    ASSERT_TRUE(write_png_file(s, one.c_str()));
    s.two_pieces_from_bytes = 0;
    ASSERT_TRUE(write_png_file(s, two.c_str()));
    EXPECT_LT(std::filesystem::file_size(two), std::filesystem::file_size(one) + 1000);
}

TEST(PngWriter, EveryFailureReturnsFalseAndClosesTheFile) {
    TempDir dir;
    const std::vector<std::uint8_t> rgb(12, 1);
    PngSettings good;
    good.width = 2;
    good.height = 2;
    good.pixels = rgb.data();
    const std::size_t descriptors = open_descriptors();

    EXPECT_FALSE(write_png_file(good, dir.file("missing/a.png").c_str()));
    EXPECT_FALSE(write_png_file(good, nullptr));
    PngSettings empty = good;
    empty.width = 0;  // libpng refuses an image without pixels
    EXPECT_FALSE(write_png_file(empty, dir.file("empty.png").c_str()));
    PngSettings negative = good;
    negative.height = -3;
    EXPECT_FALSE(write_png_file(negative, dir.file("negative.png").c_str()));
    PngSettings wide = good;
    wide.width = 2000000000;  // beyond libpng's width limit: refused before any row is read
    EXPECT_FALSE(write_png_file(wide, dir.file("wide.png").c_str()));
    PngSettings bad_level = good;
    bad_level.compression_memory_level = 99;  // zlib refuses it when the data starts
    EXPECT_FALSE(write_png_file(bad_level, dir.file("level.png").c_str()));
    bad_level.two_pieces_from_bytes = 0;  // and so does each piece's deflate
    EXPECT_FALSE(write_png_file(bad_level, dir.file("level.png").c_str()));

    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_TRUE(write_png_file(good, dir.file("good.png").c_str()));
}

TEST(PngWriter, TestWritesTestOutPngInTheCurrentDirectoryWithEveryPixelOpaque) {
    if (!have_decoder()) GTEST_SKIP() << "no Python imaging library";
    TempDir dir;
    const auto image = image_of(2, 1, {0, 0, 0, 255, 255, 255});
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const bool written = files::write_test_png(*image);
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_TRUE(written);
    EXPECT_EQ(decode(dir.file("test_out.png")), "2 1 RGBA\n0 0 0 255 255 255 255 255\n");
}

}  // namespace
}  // namespace ombrix::testing
