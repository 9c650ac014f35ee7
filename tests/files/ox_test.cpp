// The OX file: exact bytes of the writer, round trips, and the reader's answer to hostile files.
#include <filesystem>

#include "files/ox.hpp"
#include "files/ox_format.hpp"
#include "helpers.hpp"
#include "store/errors.hpp"

namespace ombrix::testing {
namespace {

using files::load_ox;
using files::write_ox;

// The export's answer to a call: its result and the last-error text it leaves.
template <class Call>
std::pair<double, std::string> outcome(State& st, Call call) {
    try {
        return {call(), st.last_error};
    } catch (const Failure& f) {
        return {f.result, f.text ? f.text : st.last_error};
    }
}

class OxTest : public FilesTest {};

TEST_F(OxTest, WriterBytesMatchTheFormatInEveryMode) {
    auto& image = add(0, image_of(2, 1, {10, 20, 30, 40, 50, 60}));
    const std::string path = dir.file("a.ox");

    EXPECT_EQ(write_ox(image, path.c_str(), 1), 0);
    EXPECT_EQ(read_file(path), std::string("OX 2 1 1 1 \x0A\x14\x1E\x28\x32\x3C", 17));

    EXPECT_EQ(write_ox(image, path.c_str(), 0), 0);
    EXPECT_EQ(read_file(path), std::string("OX 2 1 0 1 \x12\x30", 13));

    // Mode 2 takes byte 3k of the rgba buffer; an image without one writes zeros.
    EXPECT_EQ(write_ox(image, path.c_str(), 2), 0);
    EXPECT_EQ(read_file(path), std::string("OX 2 1 2 1 \x0A\x14\x1E\x00\x28\x32\x3C\x00", 19));
    image.rgba = memory::Buffer(8, true);
    image.rgba[0] = 7;
    image.rgba[3] = 9;
    image.rgba[1] = 99;  // not a record's byte
    EXPECT_EQ(write_ox(image, path.c_str(), 2), 0);
    EXPECT_EQ(read_file(path), std::string("OX 2 1 2 1 \x0A\x14\x1E\x07\x28\x32\x3C\x09", 19));
}

TEST_F(OxTest, WriterPutsTheLastStoredRowFirstAndLeavesTheImageAsItWas) {
    auto& image = add(0, image_of(1, 2, {1, 2, 3, 4, 5, 6}));
    const std::string path = dir.file("a.ox");
    EXPECT_EQ(write_ox(image, path.c_str(), 1), 0);
    EXPECT_EQ(read_file(path), std::string("OX 1 2 1 1 \x04\x05\x06\x01\x02\x03", 17));
    EXPECT_EQ(pixels(image), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(OxTest, UnknownModeLeavesTheHeaderAloneAndTheImageUnchanged) {
    auto& image = add(0, image_of(2, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    const auto before = pixels(image);
    const std::string path = dir.file("a.ox");
    const auto [result, message] = outcome(st, [&] { return write_ox(image, path.c_str(), 3); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(message, devil_error_text(il_invalid_param));
    EXPECT_EQ(read_file(path), "OX 2 2 3 1 ");
    EXPECT_EQ(pixels(image), before);
}

TEST_F(OxTest, ImageWithoutPixelsIsTheHeaderAloneAndReadsBack) {
    auto& image = add(0, make_record(0, 3));
    const std::string path = dir.file("a.ox");
    EXPECT_EQ(write_ox(image, path.c_str(), 7), 0);
    EXPECT_EQ(read_file(path), "OX 0 3 7 1 ");
    // Width 0 reads back whatever the mode.
    const double id = load_ox(st, path.c_str());
    EXPECT_EQ(st.images.get(static_cast<std::int32_t>(id)).height, 3);
    EXPECT_EQ(st.images.get(static_cast<std::int32_t>(id)).pixel_count(), 0u);
}

TEST_F(OxTest, WriterThatCannotCreateTheFileLeavesTheImageAlone) {
    auto& image = add(0, image_of(1, 2, {1, 2, 3, 4, 5, 6}));
    const std::string path = dir.file("missing/a.ox");
    const auto [result, message] = outcome(st, [&] { return write_ox(image, path.c_str(), 1); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(message, text::ox_create_failed);
    EXPECT_EQ(pixels(image), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(OxTest, RoundTripRestoresPixelsAndExtraBytes) {
    auto& image = add(0, make_record(5, 3));
    fill_pattern(image);
    image.rgba = memory::Buffer(image.pixel_count() * 4, true);
    for (std::size_t k = 0; k < image.pixel_count(); ++k) image.rgba[3 * k] = static_cast<std::uint8_t>(100 + k);
    const std::string path = dir.file("a.ox");
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        write_ox(image, path.c_str(), mode);
        const auto id = static_cast<std::int32_t>(load_ox(st, path.c_str()));
        const ImageRecord& back = st.images.get(id);
        EXPECT_EQ(back.width, 5);
        EXPECT_EQ(back.height, 3);
        EXPECT_EQ(pixels(back), pixels(image));
        for (std::size_t k = 0; k < image.pixel_count(); ++k)
            EXPECT_EQ(back.rgba_byte(3 * k), mode == 2 ? 100 + k : 0) << k;
    }
    // Grey: each pixel's three channels are its grey level, rows in place.
    write_ox(image, path.c_str(), 0);
    const ImageRecord& grey = st.images.get(static_cast<std::int32_t>(load_ox(st, path.c_str())));
    for (std::size_t k = 0; k < image.pixel_count(); ++k) {
        const int g = (77 * image.rgb[3 * k] + 150 * image.rgb[3 * k + 1] + 29 * image.rgb[3 * k + 2]) >> 8;
        EXPECT_EQ(grey.rgb[3 * k], g);
        EXPECT_EQ(grey.rgb[3 * k + 2], g);
    }
}

TEST_F(OxTest, ReaderTakesExactlyOneSeparatorSoBlankPixelBytesSurvive) {
    const std::string path = dir.file("a.ox");
    write_file(path, std::string("OX 2 1 1 1 \x20\x09\x0A\x0D\x20\x0B", 17));
    const ImageRecord& image = st.images.get(static_cast<std::int32_t>(load_ox(st, path.c_str())));
    EXPECT_EQ(pixels(image), (std::vector<std::uint8_t>{0x20, 0x09, 0x0A, 0x0D, 0x20, 0x0B}));
    // Whitespace runs between the numbers are accepted, as "%d" accepts them.
    write_file(path, std::string("OX\n2\t 1  0 +1 \x05\x06", 16));
    const ImageRecord& grey = st.images.get(static_cast<std::int32_t>(load_ox(st, path.c_str())));
    EXPECT_EQ(pixels(grey), (std::vector<std::uint8_t>{5, 5, 5, 6, 6, 6}));
}

TEST_F(OxTest, ReaderRejectsFilesThatAreNotWhatTheyClaim) {
    const std::string path = dir.file("a.ox");
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"wrong magic", std::string("XO 1 1 1 1 abc")},
        {"three-number header", std::string("OX 1 1 1 abc")},
        {"fourth number not 1", std::string("OX 1 1 1 2 abc")},
        {"no separator", std::string("OX 1 1 1 1")},
        {"letter after the header", std::string("OX 1 1 1 1xabc")},
        {"negative width", std::string("OX -5 1 1 1 abc")},
        {"negative height", std::string("OX 1 -1 1 1 abc")},
        {"width beyond 32 bits", std::string("OX 99999999999 1 1 1 abc")},
        {"more pixels than the limit", std::string("OX 65536 65536 1 1 abc")},
        {"short file", std::string("OX 999 999 1 1 abc")},
        {"one byte short", std::string("OX 2 1 2 1 1234567")},
        {"header beyond the search limit", "OX" + std::string(5000, ' ') + "1 1 1 1 abc"},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        write_file(path, bytes);
        const std::int32_t next = st.next_image_id;
        const auto [result, message] = outcome(st, [&] { return load_ox(st, path.c_str()); });
        EXPECT_EQ(result, -1);
        EXPECT_EQ(message, text::ox_load_failed);
        EXPECT_EQ(st.next_image_id, next + 1);  // an ID is used up all the same
        EXPECT_EQ(st.images.find(next), nullptr);
    }
}

TEST_F(OxTest, ReaderAnswersMissingFilesAndUnknownModes) {
    auto [result, message] = outcome(st, [&] { return load_ox(st, dir.file("none.ox").c_str()); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(message, text::ox_load_failed);
    std::tie(result, message) = outcome(st, [&] { return load_ox(st, dir.path().c_str()); });
    EXPECT_EQ(result, -1);

    const std::string path = dir.file("a.ox");
    write_file(path, "OX 1 1 5 1 abcdef");
    const std::int32_t next = st.next_image_id;
    std::tie(result, message) = outcome(st, [&] { return load_ox(st, path.c_str()); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(message, devil_error_text(il_invalid_param));
    EXPECT_EQ(st.images.find(next), nullptr);
}

TEST(OxFormat, EveryTruncationOfAValidFileIsRejected) {
    // The sanitizer build also turns any stray access into a failure; the fuzz target goes further.
    std::string file = "OX 3 2 2 1 ";
    for (int i = 0; i < 24; ++i) file += static_cast<char>(i * 11);
    for (std::size_t cut = 0; cut <= file.size(); ++cut) {
        files::MemorySource source(reinterpret_cast<const std::uint8_t*>(file.data()), cut);
        const auto image = files::read_ox(source);
        EXPECT_EQ(image.status == files::OxStatus::ok, cut == file.size()) << cut;
    }
}

}  // namespace
}  // namespace ombrix::testing
