// Brush files (loading, saving, hostile headers) and the stamp's geometry.
#include "files/brush.hpp"
#include "files/brush_format.hpp"
#include "helpers.hpp"
#include "store/errors.hpp"

namespace ombrix::testing {
namespace {

using files::load_brush;
using files::save_brush;

std::string mask_of(const Brush& b) { return {b.mask.begin(), b.mask.end()}; }

class BrushTest : public ::testing::Test {
protected:
    double load(const std::string& bytes) {
        write_file(dir.file("b.brush"), bytes);
        return load_brush(st, dir.file("b.brush").c_str());
    }
    State st;
    TempDir dir;
};

TEST_F(BrushTest, LoadsTheMaskRowByRowAndSavesTheSameBytes) {
    const double id = load("3\n2\n101010");
    const Brush& brush = st.brushes.get(static_cast<std::int32_t>(id));
    EXPECT_EQ(brush.width, 3);
    EXPECT_EQ(brush.height, 2);
    EXPECT_EQ(mask_of(brush), "101010");
    EXPECT_EQ(save_brush(brush, dir.file("out.brush").c_str()), 0);
    EXPECT_EQ(read_file(dir.file("out.brush")), "3\n2\n101010");
    // And the saved file loads back as the same brush.
    const Brush& again = st.brushes.get(static_cast<std::int32_t>(load_brush(st, dir.file("out.brush").c_str())));
    EXPECT_EQ(again.width, 3);
    EXPECT_EQ(mask_of(again), "101010");
}

TEST_F(BrushTest, HeaderLinesAreReadFourBytesAtATime) {
    // A four-digit width leaves its newline to the height read: height 0.
    Brush* b = st.brushes.find(static_cast<std::int32_t>(load("1234\n5\nxx")));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 1234);
    EXPECT_EQ(b->height, 0);
    EXPECT_TRUE(b->mask.empty());
    // Blanks and a sign are taken, digits end at the first other byte, and no digits is 0.
    b = st.brushes.find(static_cast<std::int32_t>(load(" +2\n1x\n..")));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 2);
    EXPECT_EQ(b->height, 1);
    EXPECT_EQ(mask_of(*b), "..");  // each read ended at its newline
    b = st.brushes.find(static_cast<std::int32_t>(load("")));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 0);
    EXPECT_EQ(b->height, 0);
}

TEST_F(BrushTest, ShortFilesArePaddedAndNegativeSizesRejected) {
    const Brush& shortened = st.brushes.get(static_cast<std::int32_t>(load("999\n999\n11")));
    EXPECT_EQ(shortened.mask.size(), 999u * 999u);
    EXPECT_EQ(mask_of(shortened).substr(0, 4), "1100");
    EXPECT_EQ(std::count(shortened.mask.begin(), shortened.mask.end(), '0'), 999 * 999 - 2);

    for (const char* bytes : {"-5\n2\n1111111111", "2\n-1\n11", "-999"}) {
        SCOPED_TRACE(bytes);
        const std::int32_t next = st.next_brush_id;
        try {
            load(bytes);
            ADD_FAILURE() << "loaded";
        } catch (const Failure& f) {
            EXPECT_EQ(f.result, -1);
            EXPECT_STREQ(f.text, text::brush_file_invalid);
        }
        EXPECT_EQ(st.brushes.find(next), nullptr);
    }
}

TEST_F(BrushTest, EveryLoadUsesUpAnIdAndFailuresLeaveTheErrorText) {
    st.last_error = "before";
    try {
        load_brush(st, dir.file("none").c_str());
        ADD_FAILURE() << "loaded";
    } catch (const Failure& f) {
        EXPECT_EQ(f.result, -1);
        EXPECT_EQ(f.text, nullptr);
    }
    EXPECT_EQ(load("1\n1\n1"), 1);
    EXPECT_EQ(load("1\n1\n1"), 2);
    // Saving where no file can be created fails with -1, and leaves the last-error text alone.
    try {
        save_brush(st.brushes.get(1), dir.file("no/such/dir").c_str());
        ADD_FAILURE() << "saved";
    } catch (const Failure& f) {
        EXPECT_EQ(f.result, -1);
        EXPECT_EQ(f.text, nullptr);
    }
    EXPECT_STREQ(st.last_error, "before");
}

TEST(BrushStamp, StampsTileTheFirstRowWithTheColourOfEachStampsFirstPixel) {
    // A 2 × 1 brush "10": n = 2, stamps at pixels 0 and 2 of a 3 × 2 image.
    Brush brush{{'1', '0'}, 2, 1};
    auto image = image_of(3, 2, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6});
    files::stamp_brush(brush, *image);
    EXPECT_EQ(pixels(*image), (std::vector<std::uint8_t>{1, 1, 1, 0, 0, 0, 3, 3, 3, 0, 0, 0, 5, 5, 5, 6, 6, 6}));

    // "1" paints the stamp's colour, "0" black, anything else leaves the pixel.
    Brush mixed{{'x', '1', '0', '1'}, 4, 1};
    auto row = image_of(4, 1, {9, 8, 7, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    files::stamp_brush(mixed, *row);
    EXPECT_EQ(pixels(*row), (std::vector<std::uint8_t>{9, 8, 7, 9, 8, 7, 0, 0, 0, 9, 8, 7}));
}

TEST(BrushStamp, StampsStayInsideTheImageAndTheMask) {
    // A brush longer than the whole image paints only what is there.
    Brush big{std::vector<std::uint8_t>(1000, '0'), 10, 100};
    auto image = image_of(2, 2, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4});
    files::stamp_brush(big, *image);
    EXPECT_EQ(pixels(*image), std::vector<std::uint8_t>(12, 0));

    // An empty brush, or an image without pixels, changes nothing (and does not loop).
    Brush empty{{}, 0, 5};
    auto untouched = image_of(2, 1, {1, 2, 3, 4, 5, 6});
    files::stamp_brush(empty, *untouched);
    EXPECT_EQ(pixels(*untouched), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
    auto no_pixels = make_record(5, 0);
    files::stamp_brush(big, *no_pixels);

    // Stamps at 0, 2 and 4 of a one-row image: the last one has room for one pixel only.
    Brush pair{{'1', '1'}, 1, 2};
    auto row = image_of(5, 1, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5});
    files::stamp_brush(pair, *row);
    EXPECT_EQ(pixels(*row), (std::vector<std::uint8_t>{1, 1, 1, 1, 1, 1, 3, 3, 3, 3, 3, 3, 5, 5, 5}));
}

}  // namespace
}  // namespace ombrix::testing
