// The shapes of the exports in exports/boundary.hpp, seen through the exports themselves: the
// order of the initialised test, the index check and the lookups, and the ID a new image takes.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "store/devil_support.hpp"
#include "store/library.hpp"

namespace ombrix::testing {
namespace {

constexpr double unknown = 1e6;

TEST(Boundary, AFailedNewImageStillUsesUpItsId) {
    init();
    const double a = add_image(4, 3);
    const struct {
        const char* name;
        std::function<double()> call;
    } failures[] = {
        {"clone", [] { return image_Clone(unknown); }},
        {"2to1, second unknown", [&] { return image_2to1(a, unknown); }},
        {"RGB, third unknown", [&] { return image_RGBChannalToImage(a, a, unknown); }},
        {"CMYK, fourth unknown", [&] { return image_CMYKChannalToImage(a, a, a, unknown); }},
    };
    for (const auto& f : failures) {
        const std::int32_t next = state().next_image_id;
        EXPECT_EQ(f.call(), -1) << f.name;
        EXPECT_STREQ(state().last_error, text::invalid_image_id) << f.name;
        EXPECT_EQ(state().next_image_id, next + 1) << f.name;
        EXPECT_EQ(state().images.find(next), nullptr) << f.name;
    }
    const double made = image_Clone(a);
    EXPECT_EQ(made, state().next_image_id - 1);
    EXPECT_EQ(state().images.get(static_cast<std::int32_t>(made)).width, 4);
}

TEST(Boundary, AnIndexOutsideItsTableIsRefusedBeforeTheImageIsLookedUp) {
    init();
    const std::string invalid_param = devil_error_text(il_invalid_param);
    const struct {
        const char* name;
        std::function<double(double id, double index)> call;
    } exports[] = {
        {"image_to_h", [](double id, double i) { return image_to_h(id, "never.h", i); }},
        {"image_DXTCdata", [](double id, double i) { return image_DXTCdata(id, i); }},
        {"image_Filter", [](double id, double i) { return image_Filter(id, i); }},
        {"image_Filter_scale", [](double id, double i) { return image_Filter_scale(id, i); }},
        {"image_SetFunction", [](double id, double i) { return image_SetFunction(id, i, 0); }},
        {"image_SetString", [](double id, double i) { return image_SetString(id, i, "x"); }},
    };
    for (const auto& e : exports) {
        EXPECT_EQ(e.call(unknown, -1), 0) << e.name;
        EXPECT_EQ(state().last_error, invalid_param) << e.name;
        EXPECT_EQ(e.call(unknown, 1e9), 0) << e.name;
        // An index inside the table reaches the lookup.
        EXPECT_EQ(e.call(unknown, 1.9), -1) << e.name;
        EXPECT_STREQ(state().last_error, text::invalid_image_id) << e.name;
    }
}

TEST(Boundary, BrushExportsLookUpTheImageBeforeTheBrush) {
    init();
    const double a = add_image(2, 2);
    state().last_error = text::no_errors;
    EXPECT_EQ(image_BrushAdd(unknown), -1);
    EXPECT_STREQ(state().last_error, text::invalid_image_id);
    EXPECT_EQ(image_BrushAdd(a), -1);
    EXPECT_STREQ(state().last_error, text::invalid_brush_id);
    EXPECT_EQ(image_BrushFree(a), -1);
    EXPECT_EQ(image_BrushSave(a, "never.brush"), -1);
}

}  // namespace
}  // namespace ombrix::testing
