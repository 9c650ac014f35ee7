// Loading, saving, freeing and cloning through DevIL, on the bundled sample images.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "store/devil.hpp"
#include "store/images.hpp"
#include "store/library.hpp"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

const std::string sample_png = OMBRIX_SOURCE_DIR "/examples/sample.png";
const std::string sample_bmp = OMBRIX_SOURCE_DIR "/examples/sample.bmp";

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Images : public ::testing::Test {
protected:
    void SetUp() override {
        init_library(st);
        dir = fs::temp_directory_path() / ("ombrix-images-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::int32_t load(const std::string& path) {
        const double id = load_image(st, path.c_str());
        EXPECT_NE(st.images.find(static_cast<std::int32_t>(id)), nullptr) << path;
        return static_cast<std::int32_t>(id);
    }
    // Runs a store call the way an export does, turning a Failure into its result.
    template <class F>
    double call(F&& f) {
        try {
            return f();
        } catch (const Failure& failure) {
            if (failure.text) st.last_error = failure.text;
            return failure.result;
        }
    }

    State st;
    fs::path dir;
};

TEST_F(Images, LoadsPngAndBmpToTheSamePixels) {
    const auto png = load(sample_png);
    const auto bmp = load(sample_bmp);
    EXPECT_EQ(png, 0);
    EXPECT_EQ(bmp, 1);
    const ImageRecord& a = st.images.get(png);
    const ImageRecord& b = st.images.get(bmp);
    EXPECT_EQ(a.width, 64);
    EXPECT_EQ(a.height, 48);
    EXPECT_EQ(a.bits_per_pixel, 24);
    EXPECT_EQ(a.depth, 1);
    EXPECT_EQ(b.bits_per_pixel, 24);
    ASSERT_EQ(a.rgb.size(), 64u * 48 * 3);
    EXPECT_EQ(a.rgba.size(), 64u * 48 * 4);
    EXPECT_EQ(0, std::memcmp(a.rgb.data(), b.rgb.data(), a.rgb.size()));
    EXPECT_STREQ(st.last_error, "No Errors");
}

TEST_F(Images, AFailedLoadUsesUpAnIdAndRegistersNothing) {
    EXPECT_EQ(call([&] { return load_image(st, (dir / "missing.png").c_str()); }), 0);
    EXPECT_STREQ(st.last_error, devil_error_text(il_could_not_open_file));
    EXPECT_EQ(st.images.find(0), nullptr);
    EXPECT_TRUE(st.loaded);
    EXPECT_EQ(load(sample_png), 1);
    std::ofstream(dir / "garbage.png") << "not an image at all";
    EXPECT_EQ(call([&] { return load_image(st, (dir / "garbage.png").c_str()); }), 0);
    EXPECT_EQ(call([&] { return load_image(st, nullptr); }), 0);
}

TEST_F(Images, LoadBeforeInitUsesUpAnId) {
    State fresh;
    EXPECT_EQ(call([&] { return load_image(fresh, sample_png.c_str()); }), -1);
    EXPECT_EQ(call([&] { return load_image(fresh, sample_png.c_str()); }), -1);
    EXPECT_FALSE(fresh.loaded);
    fresh.initialised = true;
    EXPECT_EQ(load_image(fresh, sample_png.c_str()), 2);
}

TEST_F(Images, EverySaveTypeRoundTripsThroughDevil) {
    const auto id = load(sample_png);
    const ImageRecord& original = st.images.get(id);
    struct Case {
        int type;
        const char* name;
        bool lossless;
        bool loads_back;
    };
    const Case cases[] = {{0, "a.bmp", true, true},   {1, "a.dds", false, true}, {2, "a.hdr", false, true},
                          {3, "a.jpg", false, true},  {4, "a.pcx", true, true},  {5, "a.png", true, true},
                          {6, "a.pnm", true, true},   {7, "a.psd", true, true},  {8, "a.raw", false, false},
                          {9, "a.sgi", true, true},   {10, "a.tga", true, true}, {11, "a.tif", true, true},
                          {12, "a.xpm", false, false}};
    for (const auto& c : cases) {
        const fs::path p = dir / c.name;
        // DevIL has no XPM writer: that save fails, and says so.
        EXPECT_EQ(call([&] { return save_image(st, st.images.get(id), p.c_str(), save_type_table[c.type]); }),
                  c.type != 12 ? 1 : -1)
            << c.name;
        EXPECT_EQ(fs::exists(p), c.type != 12) << c.name;  // DevIL has no XPM writer
        if (!c.loads_back) continue;
        const auto back = load(p.string());
        const ImageRecord& r = st.images.get(back);
        ASSERT_EQ(r.width, 64) << c.name;
        ASSERT_EQ(r.height, 48) << c.name;
        if (c.lossless) {
            EXPECT_EQ(0, std::memcmp(r.rgb.data(), original.rgb.data(), r.rgb.size())) << c.name;
        }
    }
    // RAW holds just the pixel bytes, in DevIL's lower-left row order.
    EXPECT_GE(fs::file_size(dir / "a.raw"), original.rgb.size());
}

TEST_F(Images, SaveTypeIsChosenByIndexNotExtension) {
    const auto id = load(sample_png);
    const fs::path p = dir / "really-a-pcx.png";
    EXPECT_EQ(save_image(st, st.images.get(id), p.c_str(), save_type_table[4]), 1);
    const std::string bytes = read_file(p);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x0A);  // PCX manufacturer byte
}

TEST_F(Images, SaveByExtensionPicksTheFormat) {
    const auto id = load(sample_png);
    const fs::path p = dir / "by-extension.bmp";
    EXPECT_EQ(save_image(st, st.images.get(id), p.c_str(), IL_TYPE_UNKNOWN), 1);
    EXPECT_EQ(read_file(p).substr(0, 2), "BM");
    const auto back = load(p.string());
    EXPECT_EQ(0, std::memcmp(st.images.get(back).rgb.data(), st.images.get(id).rgb.data(), 64 * 48 * 3));
}

TEST_F(Images, SavingOverAFileReplacesIt) {
    const auto id = load(sample_png);
    const fs::path p = dir / "over.png";
    std::ofstream(p) << "old contents";
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(save_image(st, st.images.get(id), p.c_str(), save_type_table[5]), 1);
    EXPECT_EQ(read_file(p).substr(1, 3), "PNG");
    // The replaced file keeps the old one's permissions, and no temporary file is left behind.
    EXPECT_EQ(fs::status(p).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(Images, AFailedSaveKeepsTheOldFile) {
    const auto id = load(sample_png);
    // With an unknown type DevIL falls back to the extension, so give it one it cannot write.
    const fs::path p = dir / "keep.unknown";
    std::ofstream(p) << "precious";
    const char* before = st.last_error;
    EXPECT_EQ(call([&] { return save_image(st, st.images.get(id), p.c_str(), IL_TYPE_UNKNOWN); }), -1);
    EXPECT_EQ(read_file(p), "precious");
    EXPECT_NE(st.last_error, before);
    EXPECT_NE(std::string(st.last_error).find(p.string()), std::string::npos) << st.last_error;
    EXPECT_EQ(call([&] { return save_image(st, st.images.get(id), (dir / "keep.xpm").c_str(), save_type_table[12]); }),
              -1);
    EXPECT_FALSE(fs::exists(dir / "keep.xpm"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    // A directory that does not exist: nothing to write, nothing created, still no crash.
    EXPECT_EQ(call([&] {
                  return save_image(st, st.images.get(id), (dir / "no/such/dir/x.png").c_str(), save_type_table[5]);
              }),
              -1);
    EXPECT_NE(std::string(st.last_error).find("no/such/dir/x.png"), std::string::npos) << st.last_error;
    EXPECT_EQ(call([&] { return save_image(st, st.images.get(id), "", save_type_table[5]); }), -1);
}

TEST_F(Images, SavingBeforeAnyLoadIsRefusedAndTouchesNothing) {
    State fresh;
    init_library(fresh);
    fresh.images.put(0, make_record(2, 2));
    const fs::path p = dir / "untouched.png";
    std::ofstream(p) << "keep me";
    EXPECT_EQ(call([&] { return save_image(fresh, fresh.images.get(0), p.c_str(), save_type_table[5]); }), -1);
    EXPECT_EQ(read_file(p), "keep me");
    // The refusal is reported on the fresh state's own error text.
    try {
        save_image(fresh, fresh.images.get(0), p.c_str(), save_type_table[5]);
    } catch (const Failure& f) {
        EXPECT_STREQ(f.text, devil_error_text(il_could_not_open_file));
    }
}

TEST_F(Images, ClonesAreIndependentCopies) {
    const auto id = load(sample_png);
    const std::int32_t copy = st.take_image_id();
    st.images.put(copy, st.images.get(id).clone());
    ImageRecord& a = st.images.get(id);
    ImageRecord& b = st.images.get(copy);
    EXPECT_NE(a.rgb.data(), b.rgb.data());
    EXPECT_EQ(b.width, a.width);
    EXPECT_EQ(b.height, a.height);
    EXPECT_EQ(b.bits_per_pixel, 24);
    EXPECT_EQ(b.rgba.size(), a.rgba.size());
    b.rgb[0] = static_cast<std::uint8_t>(a.rgb[0] ^ 0xFF);
    EXPECT_NE(a.rgb[0], b.rgb[0]);
    EXPECT_EQ(free_image(st, id), 1);
    EXPECT_EQ(st.images.get(copy).width, 64);
    EXPECT_EQ(st.images.find(id), nullptr);
}

}  // namespace
}  // namespace ombrix
