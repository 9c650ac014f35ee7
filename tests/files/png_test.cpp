// The PNG writer, checked by independent readers: Python's imaging library decodes the file and
// pngcheck validates its chunks.
#include <dirent.h>
#include <unistd.h>

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
