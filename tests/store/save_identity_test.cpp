// Saves run in the helper process; what they write must be exactly what DevIL writes in this
// process with the same settings, for every save type and every extension image_asave knows, and
// a long DevIL text must neither crash the host nor leak past its field.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "exports/boundary.hpp"
#include "store/devil_support.hpp"
#include "store/images.hpp"
#include "support/helper_support.hpp"
#include "support/sanitizers.hpp"

// The in-process reference runs DevIL's writers in this process, which is what the helper exists
// to avoid: with texts and C headers they read past their own buffers, which AddressSanitizer
// rightly reports. Those comparisons run in the plain build.
#ifdef OMBRIX_TEST_ASAN
#define SKIP_UNDER_ASAN() GTEST_SKIP() << "the in-process reference reads past DevIL's buffers"
#else
#define SKIP_UNDER_ASAN() (void)0
#endif

namespace ombrix {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class SaveIdentity : public ::testing::Test {
protected:
    void SetUp() override {
        ::init();
        state().loaded = true;
        dir = fs::temp_directory_path() / ("ombrix-identity-" + std::to_string(getpid()));
        fs::create_directories(dir);
        image = testing::add_image(37, 23);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Saves through the export and in this process, and compares the bytes.
    void expect_same_bytes(double type, ILenum devil_type, const std::string& name) {
        const fs::path through_helper = dir / ("helper-" + name);
        const double result =
            type < 0 ? image_asave(image, through_helper.c_str()) : image_save(image, through_helper.c_str(), type);
        const std::string here = testing::save_in_process(state().images.get(image), devil_type, dir.string(), name);
        if (here.empty()) {
            EXPECT_EQ(result, -1) << name << ": DevIL refuses it here, so the save must fail";
            EXPECT_FALSE(fs::exists(through_helper)) << name;
            return;
        }
        EXPECT_EQ(result, 1) << name << ": " << state().last_error;
        std::string there = read_file(through_helper);
        // DevIL's TGA writer leaves the origin fields of the header (bytes 8 to 11) uninitialised:
        // they hold whatever was on the writing process's stack, which is why it runs elsewhere.
        const bool tga = devil_type == IL_TGA || name.ends_with(".tga");
        std::string mine = here;
        if (tga && there.size() > 12 && mine.size() > 12) {
            there.replace(8, 4, 4, '\0');
            mine.replace(8, 4, 4, '\0');
        }
        // DevIL's TIFF writer stamps the time of the save, which can tick between the two saves.
        const bool tiff = devil_type == IL_TIF || name.ends_with(".tif") || name.ends_with(".tiff");
        if (tiff) {
            static const std::regex stamp("\\d{4}:\\d\\d:\\d\\d \\d\\d:\\d\\d:\\d\\d");
            there = std::regex_replace(there, stamp, "0000:00:00 00:00:00");
            mine = std::regex_replace(mine, stamp, "0000:00:00 00:00:00");
        }
        std::size_t at = 0;
        while (at < there.size() && at < mine.size() && there[at] == mine[at]) ++at;
        EXPECT_TRUE(there == mine) << name << " differs from an in-process save at byte " << at << " of " << here.size()
                                   << " (" << there.size() << " through the helper)";
        fs::remove(through_helper);
    }

    fs::path dir;
    std::int32_t image = 0;
};

TEST_F(SaveIdentity, EverySaveTypeWritesWhatAnInProcessSaveWrites) {
    for (int type = 0; type <= 12; ++type) expect_same_bytes(type, save_type_table[type], "a" + std::to_string(type));
}

TEST_F(SaveIdentity, EveryExtensionWritesWhatAnInProcessSaveWrites) {
    SKIP_UNDER_ASAN();
    for (const char* ext : {"bmp", "dds", "hdr", "jpg", "jpeg", "pcx",  "png", "pnm", "ppm", "pgm",    "psd",
                            "raw", "sgi", "rgb", "tga", "tif",  "tiff", "h",   "xpm", "PNG", "nothing"})
        expect_same_bytes(-1, IL_TYPE_UNKNOWN, std::string("b.") + ext);
}

TEST_F(SaveIdentity, TheSettingsThatAffectSavingReachTheHelper) {
    SKIP_UNDER_ASAN();
    // Compression, RLE, JPEG quality, interlacing, key colour and the texts writers store.
    image_SetFunction(image, 1, 1);
    image_KeyColour(image, 0.25, 0.5, 0.75, 1);
    ilSetInteger(IL_TGA_RLE, 1);
    ilSetInteger(IL_JPG_QUALITY, 42);
    ilSetInteger(IL_PNG_INTERLACE, 1);
    ilSetInteger(IL_SGI_RLE, 1);
    ilSetInteger(IL_BMP_RLE, 1);
    // DevIL's PNG writer copies 255 bytes of each text whatever its length, so the texts are long
    // enough for the in-process reference save to read only its own.
    for (double mode = 0; mode <= 10; ++mode) {
        std::string text = "text " + std::to_string(mode);
        text.resize(helper::max_string_length, '.');
        image_SetString(image, mode, text.c_str());
    }
    // Not TGA, nor the C header: their writers copy fixed-size fields past the end of a long text,
    // so what an in-process save writes there depends on whatever follows the text in memory.
    for (int type = 0; type <= 12; ++type)
        if (type != 10) expect_same_bytes(type, save_type_table[type], "s" + std::to_string(type));
}

TEST_F(SaveIdentity, ALongTextCrashesNoSaveAndIsCutToItsField) {
    const std::string long_text(300 * 1024, 'x');
    for (double mode = 0; mode <= 10; ++mode) EXPECT_EQ(image_SetString(image, mode, long_text.c_str()), 0);
    for (const auto& [type, name] : {std::pair{10, "l.tga"}, {5, "l.png"}, {11, "l.tif"}}) {
        const fs::path p = dir / name;
        EXPECT_EQ(image_save(image, p.c_str(), type), 1) << name << ": " << state().last_error;
        const std::string bytes = read_file(p);
        EXPECT_EQ(bytes.find(std::string(helper::max_string_length + 1, 'x')), std::string::npos) << name;
        // The file is whole: it loads back as the image.
        const double back = image_load(p.c_str());
        ASSERT_GT(back, 0) << name;
        EXPECT_EQ(testing::pixels_of(static_cast<std::int32_t>(back)), testing::pixels_of(image)) << name;
    }
    const fs::path header = dir / "l.h";
    EXPECT_EQ(image_asave(image, header.c_str()), 1) << state().last_error;
    EXPECT_EQ(read_file(header).find(std::string(helper::max_string_length + 1, 'x')), std::string::npos);
}

}  // namespace
}  // namespace ombrix
