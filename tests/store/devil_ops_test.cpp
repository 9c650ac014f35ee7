// The round-trip exports against the same calls made directly on DevIL, the mode tables, the
// settings they leave behind, and the resizing exports.
#include <IL/ilu.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "simd/dispatch.hpp"
#include "store/devil_support.hpp"
#include "store/ilu_ops.hpp"
#include "store/round_trip.hpp"

namespace ombrix::testing {
namespace {

class DevilOps : public ::testing::Test {
protected:
    void SetUp() override {
        init();  // also puts the origin mode back to lower left after a flip test
        state().last_error = text::no_errors;
    }
};

std::string invalid_param_text() { return devil_error_text(il_invalid_param); }

struct Case {
    const char* name;
    std::function<double(double)> export_call;
    std::function<void()> devil_call;
    std::int32_t width = 64;
    std::int32_t height = 48;
};

TEST_F(DevilOps, EveryOperationChangesTheImageAsItsIluCallDoes) {
    const std::vector<Case> cases = {
        {"Negative", image_Negative, [] { iluNegative(); }},
        {"Mirror", image_Mirror, [] { iluMirror(); }},
        {"Alienify", image_Alienify, [] { iluAlienify(); }},
        {"BuildMipmaps", image_BuildMipmaps, [] { iluBuildMipmaps(); }},
        {"Emboss", image_Emboss, [] { iluEmboss(); }},
        {"Equalize", image_Equalize, [] { iluEqualize(); }},
        {"InvertAlpha", image_InvertAlpha, [] { iluInvertAlpha(); }},
        {"FlipImageh", image_FlipImageh, [] { iluFlipImage(); }},
        {"FlipImageh 1x1", image_FlipImageh, [] { iluFlipImage(); }, 1, 1},
        {"FlipImageh 5x1", image_FlipImageh, [] { iluFlipImage(); }, 5, 1},
        {"FlipImageh 1x7", image_FlipImageh, [] { iluFlipImage(); }, 1, 7},
        {"SwapColours", image_SwapColours,
         [] {
             ILinfo info{};
             iluGetImageInfo(&info);
             iluSwapColours();
         }},
        {"Pixelize 4", [](double id) { return image_Pixelize(id, 4.7); }, [] { iluPixelize(4); }},
        {"ReplaceColour wraps bytes", [](double id) { return image_ReplaceColour(id, 256, -1, 255.7, 0.5); },
         [] { iluReplaceColour(0, 255, 255, 0.5f); }},
        {"Saturate", [](double id) { return image_Saturate(id, 0.3); }, [] { iluSaturate1f(0.3f); }},
        {"SaturateExt", [](double id) { return image_SaturateExt(id, 0.2, 0.5, 0.3, 0.7); },
         [] { iluSaturate4f(0.2f, 0.5f, 0.3f, 0.7f); }},
        {"BlurAvg", [](double id) { return image_BlurAvg(id, 2); }, [] { iluBlurAvg(2); }},
        {"BlurGaussian", [](double id) { return image_BlurGaussian(id, 1.9); }, [] { iluBlurGaussian(1); }},
        {"Contrast", [](double id) { return image_Contrast(id, 1.5); }, [] { iluContrast(1.5f); }},
        {"GammaCorrect", [](double id) { return image_GammaCorrect(id, 0.5); }, [] { iluGammaCorrect(0.5f); }},
        {"Wave", [](double id) { return image_Wave(id, 30); }, [] { iluWave(30.0f); }},
        {"Sharpen", [](double id) { return image_Sharpen(id, 2.5); }, [] { iluSharpen(2.5f, 1); }},
        {"EdgeDetect 0", [](double id) { return image_EdgeDetect(id, 0); }, [] { iluEdgeDetectE(); }},
        {"EdgeDetect 1", [](double id) { return image_EdgeDetect(id, 1); }, [] { iluEdgeDetectP(); }},
        {"EdgeDetect 2.9", [](double id) { return image_EdgeDetect(id, 2.9); }, [] { iluEdgeDetectS(); }},
        {"Crop", [](double id) { return image_Crop(id, 3, 5, 20, 10); }, [] { iluCrop(3, 5, 1, 20, 10, 1); }},
        {"EnlargeCanvas", [](double id) { return image_EnlargeCanvas(id, 80, 60); },
         [] { iluEnlargeCanvas(80, 60, 0); }},
        {"EnlargeCanvas smaller", [](double id) { return image_EnlargeCanvas(id, 30, 20); },
         [] { iluEnlargeCanvas(30, 20, 0); }},
        {"EnlargeImage", [](double id) { return image_EnlargeImage(id, 1.5, 0.5); },
         [] { iluEnlargeImage(1.5f, 0.5f, 1.0f); }},
        {"Filter", [](double id) { return image_Filter(id, 12); }, [] {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::int32_t id = add_image(c.width, c.height, 11);
        const auto expected = devil_reference(pixels_of(id), c.width, c.height, c.devil_call);
        EXPECT_EQ(c.export_call(id), 1);
        EXPECT_EQ(pixels_of(id), expected);
        EXPECT_EQ(state().images.get(id).width, c.width);
        EXPECT_EQ(state().images.get(id).height, c.height);
        image_free(id);
    }
}

TEST_F(DevilOps, NoisifyUsesTheSameRandomSequenceAsIlu) {
    const std::int32_t id = add_image(20, 20);
    std::srand(5);
    const auto expected = devil_reference(pixels_of(id), 20, 20, [] { iluNoisify(0.4f); });
    std::srand(5);
    EXPECT_EQ(image_Noisify(id, 0.4), 1);
    EXPECT_EQ(pixels_of(id), expected);
}

TEST_F(DevilOps, ACropKeepsTheSizeAndFillsOnlyItsOwnCorner) {
    const std::int32_t id = add_image(100, 100);
    const auto before = pixels_of(id);
    EXPECT_EQ(image_Crop(id, 10, 20, 50, 50), 1);
    EXPECT_EQ(image_get_width(id), 100);
    EXPECT_EQ(image_get_height(id), 100);
    const auto after = pixels_of(id);
    // Row r, column c of the first 50 × 50 pixels is the old pixel (10 + c, 20 + r); the rest is
    // unchanged.
    for (std::size_t y = 0; y < 100; ++y)
        for (std::size_t x = 0; x < 100; ++x)
            for (std::size_t k = 0; k < 3; ++k) {
                const std::size_t at = (y * 100 + x) * 3 + k;
                const std::size_t from = x < 50 && y < 50 ? ((y + 20) * 100 + x + 10) * 3 + k : at;
                ASSERT_EQ(after[at], before[from]) << x << "," << y;
            }
}

TEST_F(DevilOps, CountsAndTypeComeFromDevil) {
    const std::int32_t one = state().take_image_id();
    auto rec = make_record(9, 4);
    std::fill(rec->rgb.data(), rec->rgb.data() + rec->rgb.size(), std::uint8_t{77});
    state().images.put(one, std::move(rec));
    EXPECT_EQ(image_ColoursUsed(one), 1);
    const std::int32_t many = add_image(16, 16);
    ILuint expected = 0;
    devil_reference(pixels_of(many), 16, 16, [&] { expected = iluColoursUsed(); });
    EXPECT_EQ(image_ColoursUsed(many), expected);
    EXPECT_GT(expected, 1u);
    EXPECT_EQ(image_DetermineType(many), IL_TYPE_UNKNOWN);
    // Pixels that begin like a BMP file's header are detected as one.
    const std::int32_t bmp = state().take_image_id();
    auto fake = make_record(32, 32);
    std::fill(fake->rgb.data(), fake->rgb.data() + fake->rgb.size(), std::uint8_t{0});
    const std::uint8_t header[] = {'B', 'M', 0x36, 0x0C, 0, 0, 0, 0,  0, 0, 0x36, 0, 0, 0,  40,
                                   0,   0,   0,    32,   0, 0, 0, 32, 0, 0, 0,    1, 0, 24, 0};
    std::copy(std::begin(header), std::end(header), fake->rgb.data());
    state().images.put(bmp, std::move(fake));
    EXPECT_EQ(image_DetermineType(bmp), IL_BMP);
}

TEST_F(DevilOps, ModeTablesAcceptExactlyTheirIndices) {
    const std::int32_t id = add_image(8, 8);
    struct Table {
        const char* name;
        std::function<double(double)> call;
        int size;
        double success;
    };
    const std::vector<Table> tables = {
        {"EdgeDetect", [&](double m) { return image_EdgeDetect(id, m); }, 3, 1},
        {"CompressFunc", [&](double m) { return image_CompressFunc(id, m); }, 5, 1},
        {"DXTCdata", [&](double m) { return image_DXTCdata(id, m); }, 6, 1},
        {"SetFunction",
         [&](double m) {
             // Each setting is handed its own value back, so that the test changes nothing.
             const std::int32_t i = to_int32(m);
             const ILint value = i >= 0 && i < 21 ? ilGetInteger(ilu::setting_table[i]) : 0;
             return image_SetFunction(id, m, value);
         },
         21, 0},
        {"SetString", [&](double m) { return image_SetString(id, m, "Image_Data"); }, 11, 0},
        {"Filter", [&](double m) { return image_Filter(id, m); }, 13, 1},
        {"Filter_scale", [&](double m) { return image_Filter_scale(id, m); }, 9, 1},
        {"SetLanguage", [&](double m) { return image_SetLanguage(m); }, 6, 1},
    };
    for (const Table& t : tables) {
        SCOPED_TRACE(t.name);
        for (double refused : {-1.0, static_cast<double>(t.size), t.size + 0.5, 1e12, -1.5}) {
            state().last_error = text::no_errors;
            EXPECT_EQ(t.call(refused), 0) << refused;
            EXPECT_EQ(state().last_error, invalid_param_text()) << refused;
        }
        state().last_error = text::no_errors;
        for (int i = 0; i < t.size; ++i) EXPECT_EQ(t.call(i), t.success) << i;
        EXPECT_EQ(t.call(t.size - 0.1), t.success);
        EXPECT_EQ(state().last_error, std::string(text::no_errors));
    }
    image_SetLanguage(0);
    image_Filter_scale(id, 0);
    ilCompressFunc(IL_COMPRESS_ZLIB);
}

TEST_F(DevilOps, SettingsStayInForceAfterTheCall) {
    const std::int32_t id = add_image(8, 8);
    EXPECT_EQ(image_CompressFunc(id, 2), 1);
    EXPECT_EQ(ilGetInteger(IL_COMPRESS_MODE), 0x0702);
    // Mode 0 hands DevIL IL_COMPRESS_MODE itself, which it refuses: the export still returns 1.
    EXPECT_EQ(image_CompressFunc(id, 0), 1);
    EXPECT_EQ(ilGetInteger(IL_COMPRESS_MODE), 0x0702);
    EXPECT_EQ(image_CompressFunc(id, 4), 1);
    EXPECT_EQ(ilGetInteger(IL_COMPRESS_MODE), 0x0704);
    EXPECT_EQ(image_DXTCdata(id, 5), 1);
    EXPECT_EQ(ilGetInteger(IL_DXTC_FORMAT), 0x070F);
    EXPECT_EQ(image_DXTCdata(id, 6), 0);
    EXPECT_EQ(ilGetInteger(IL_DXTC_FORMAT), 0x070F);
    EXPECT_EQ(image_SetFunction(id, 14, 42.9), 0);
    EXPECT_EQ(ilGetInteger(IL_JPG_QUALITY), 42);
    EXPECT_EQ(image_SetString(id, 10, "my_pixels"), 0);
    EXPECT_EQ(state().header_array_name, "my_pixels");
    EXPECT_EQ(image_SetString(id, 3, "someone"), 0);
    EXPECT_EQ(state().header_array_name, "my_pixels");
    for (int filter = 0; filter < 9; ++filter) {
        EXPECT_EQ(image_Filter_scale(id, filter), 1);
        EXPECT_EQ(iluGetInteger(ILU_FILTER), 0x2601 + filter);
    }
    EXPECT_EQ(image_Parameter(id, 0x2600, 0x2603), 1);
    EXPECT_EQ(iluGetInteger(ILU_FILTER), 0x2603);
    const std::string english = invalid_param_text();
    EXPECT_EQ(image_SetLanguage(5), 1);
    EXPECT_NE(invalid_param_text(), english);
    EXPECT_EQ(image_EdgeDetect(id, 7), 0);
    EXPECT_EQ(state().last_error, invalid_param_text());
    EXPECT_EQ(image_SetLanguage(0), 1);
    EXPECT_EQ(invalid_param_text(), english);
    state().header_array_name = "Image_Data";
}

TEST_F(DevilOps, FlipImagevTurnsEveryLaterRoundTripUntilInit) {
    const std::int32_t id = add_image(6, 5);
    const auto original = pixels_of(id);
    auto flipped = original;
    reverse_rows(flipped.data(), 6, 5);
    EXPECT_EQ(image_FlipImagev(id), 1);
    EXPECT_EQ(pixels_of(id), flipped);
    EXPECT_EQ(ilGetInteger(IL_ORIGIN_MODE), IL_ORIGIN_UPPER_LEFT);
    EXPECT_EQ(image_FlipImagev(id), 1);
    EXPECT_EQ(pixels_of(id), original);
    // Under the upper-left mode, iluFlipImage and the copy-back cancel out, and a plain round trip
    // turns the image.
    EXPECT_EQ(image_FlipImageh(id), 1);
    EXPECT_EQ(pixels_of(id), original);
    EXPECT_EQ(image_Filter(id, 0), 1);
    EXPECT_EQ(pixels_of(id), flipped);
    init();
    EXPECT_EQ(ilGetInteger(IL_ORIGIN_MODE), IL_ORIGIN_LOWER_LEFT);
    EXPECT_EQ(image_Filter(id, 0), 1);
    EXPECT_EQ(pixels_of(id), flipped);
    EXPECT_EQ(image_FlipImageh(id), 1);
    EXPECT_EQ(pixels_of(id), original);
}

TEST_F(DevilOps, FastFlipEqualsTheDevilRoundTripInBothOriginModes) {
    for (bool upper_left : {false, true}) {
        for (auto [w, h] : {std::pair{1, 1}, {1, 2}, {3, 1}, {4, 3}, {1500, 3}, {7, 8}}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (upper_left ? " upper left" : ""));
            ilOriginFunc(upper_left ? IL_ORIGIN_UPPER_LEFT : IL_ORIGIN_LOWER_LEFT);
            const std::int32_t a = add_image(w, h);
            const std::int32_t b = add_image(w, h);
            flip_image(state(), state().images.get(a));
            flip_image_through_devil(state(), state().images.get(b));
            EXPECT_EQ(pixels_of(a), pixels_of(b));
        }
    }
}

TEST_F(DevilOps, DirectCopyBackEqualsIlCopyPixels) {
    // Every origin mode against every image origin, RGB and BGR images (a load converts to BGR),
    // and a format the direct path leaves to DevIL; rows with and without whole vector blocks, with
    // the vector pass and without it.
    for (bool vector_pass : {true, false}) {
        const simd::PathCap cap(vector_pass ? simd::Path::avx512 : simd::Path::scalar);
        for (bool upper_left_mode : {false, true}) {
            ilOriginFunc(upper_left_mode ? IL_ORIGIN_UPPER_LEFT : IL_ORIGIN_LOWER_LEFT);
            for (ILenum image_origin : {ILenum{IL_ORIGIN_LOWER_LEFT}, ILenum{IL_ORIGIN_UPPER_LEFT}}) {
                for (ILenum format : {ILenum{IL_RGB}, ILenum{IL_BGR}, ILenum{IL_RGBA}}) {
                    for (auto [w, h] : {std::pair{1, 1}, {2, 1}, {1, 3}, {33, 17}, {70, 5}}) {
                        const std::int32_t id = add_image(w, h);
                        ImageRecord& rec = state().images.get(id);
                        ScratchImage scratch(state());
                        copy_in(rec);
                        iluNegative();
                        if (format != IL_RGB) {
                            ASSERT_EQ(ilConvertImage(format, IL_UNSIGNED_BYTE), IL_TRUE);
                        }
                        ilRegisterOrigin(image_origin);
                        std::vector<std::uint8_t> direct(rec.rgb.size()), reference(rec.rgb.size());
                        copy_pixels(direct.data(), w, h);
                        ilCopyPixels(0, 0, 0, static_cast<ILuint>(w), static_cast<ILuint>(h), 1, IL_RGB,
                                     IL_UNSIGNED_BYTE, reference.data());
                        EXPECT_EQ(direct, reference)
                            << w << "x" << h << " format " << format << " origin " << image_origin
                            << (upper_left_mode ? " upper-left mode" : "") << (vector_pass ? "" : " scalar");
                    }
                }
            }
        }
    }
}

TEST_F(DevilOps, ResizingTakesDevilsNewSize) {
    const std::int32_t id = add_image(100, 100);
    const double bpp = image_get_Bpp(id);
    EXPECT_EQ(image_Scale(id, 200, 50), 1);
    EXPECT_EQ(image_get_width(id), 200);
    EXPECT_EQ(image_get_height(id), 50);
    EXPECT_EQ(state().images.get(id).rgb.size(), 200u * 50 * 3);
    EXPECT_EQ(state().images.get(id).rgba.size(), 200u * 50 * 4);
    EXPECT_EQ(image_Scale(id, 99.9, 10.2), 1);
    EXPECT_EQ(image_get_width(id), 99);
    EXPECT_EQ(image_get_height(id), 10);
    EXPECT_EQ(image_get_Bpp(id), bpp);

    const auto before = pixels_of(id);
    std::int32_t w = 0, h = 0;
    const auto rotated = devil_reference(
        before, 99, 10, [] { iluRotate(45.0f); }, &w, &h, true);
    EXPECT_EQ(image_Rotate(id, 45), 1);
    EXPECT_EQ(image_get_width(id), w);
    EXPECT_EQ(image_get_height(id), h);
    EXPECT_EQ(pixels_of(id), rotated);
    EXPECT_EQ(image_get_Bpp(id), bpp);

    const auto now = pixels_of(id);
    const auto scaled = devil_reference(
        now, w, h, [] { iluScale(31, 7, 1); }, nullptr, nullptr, true);
    EXPECT_EQ(image_Scale(id, 31, 7), 1);
    EXPECT_EQ(pixels_of(id), scaled);
    EXPECT_EQ(image_Rotate3D(id, 1, 2, 30), 1);
    EXPECT_EQ(image_get_Bpp(id), bpp);
}

TEST_F(DevilOps, RefusedResizesLeaveTheImageAsItWas) {
    const std::int32_t id = add_image(30, 20);
    const auto before = pixels_of(id);
    struct Refusal {
        std::function<double()> call;
        std::string text;
    };
    const std::vector<Refusal> refusals = {
        {[&] { return image_Scale(id, 0, 5); }, invalid_param_text()},
        {[&] { return image_Scale(id, 65536, 65536); }, text::too_large},
        {[&] { return image_Scale(id, -1, 2); }, text::too_large},
        {[&] { return image_Rotate(id, 90); }, invalid_param_text()},
        {[&] { return image_Rotate(id, -270); }, invalid_param_text()},
        {[&] { return image_Rotate(id, std::nan("")); }, invalid_param_text()},
        {[&] { return image_EnlargeImage(id, 1e6, 1e6); }, text::too_large},
        {[&] { return image_EnlargeImage(id, 0.01, 1); }, invalid_param_text()},
        {[&] { return image_EnlargeCanvas(id, 0, 10); }, invalid_param_text()},
        {[&] { return image_Crop(id, 25, 0, 6, 1); }, invalid_param_text()},
        {[&] { return image_Crop(id, 4294967295.0, 0, 2, 1); }, invalid_param_text()},
        {[&] { return image_Wave(id, 10); }, invalid_param_text()},
        {[&] { return image_BlurAvg(id, 65537); }, invalid_param_text()},
        {[&] { return image_BlurGaussian(id, -1); }, invalid_param_text()},
    };
    for (std::size_t i = 0; i < refusals.size(); ++i) {
        state().last_error = text::no_errors;
        EXPECT_EQ(refusals[i].call(), 0) << i;
        EXPECT_EQ(state().last_error, refusals[i].text) << i;
        EXPECT_EQ(image_get_width(id), 30) << i;
        EXPECT_EQ(pixels_of(id), before) << i;
    }
    EXPECT_EQ(image_Rotate(id, 90.0001), 1);
    EXPECT_EQ(image_BlurGaussian(id, 2000), 1);  // 2000 × 600 pixels is within the work bound
}

TEST_F(DevilOps, UnknownIdsAndTheMissingInitAreAnsweredBeforeDevilIsTouched) {
    const std::int32_t gone = add_image(4, 4);
    image_free(gone);
    for (double id : {static_cast<double>(gone), -1.0, 1e12, std::nan("")}) {
        EXPECT_EQ(image_Negative(id), -1);
        EXPECT_EQ(image_Crop(id, 0, 0, 1, 1), -1);
        EXPECT_EQ(image_Scale(id, 2, 2), -1);
        EXPECT_EQ(image_SetFunction(id, 14, 50), -1);
        EXPECT_EQ(image_Filter(id, 1), -1);
        EXPECT_EQ(state().last_error, std::string(text::invalid_image_id));
    }
    EXPECT_EXIT(
        {
            // A fresh process's library has not been initialised.
            state().initialised = false;
            const std::int32_t id = add_image(4, 4);
            const bool ok = image_Negative(id) == -1 && image_Rotate(id, 45) == -1 && image_SetLanguage(1) == -1 &&
                            state().last_error == std::string(text::not_initialised);
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ombrix::testing
