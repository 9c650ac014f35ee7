// The run-time choice of the vector passes: caps force a narrower path and come off again, and a
// loop takes the widest pass the path allows, falling back past widths it lacks.
#include "simd/dispatch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace ombrix::simd {
namespace {

TEST(Dispatch, CapsNarrowThePathAndRestoreTheOneBefore) {
    const Path supported = supported_path();
    EXPECT_EQ(active_path(), supported);
    {
        const PathCap scalar(Path::scalar);
        EXPECT_EQ(active_path(), Path::scalar);
        EXPECT_FALSE(avx2_enabled());
        EXPECT_FALSE(avx512_enabled());
        {
            // A wider cap inside a narrower one widens again, but never past the processor.
            const PathCap wide(Path::avx512);
            EXPECT_EQ(active_path(), supported);
            EXPECT_EQ(avx2_enabled(), supported >= Path::avx2);
        }
        EXPECT_EQ(active_path(), Path::scalar);
    }
    EXPECT_EQ(active_path(), supported);
    {
        const PathCap avx2(Path::avx2);
        EXPECT_EQ(active_path(), supported >= Path::avx2 ? Path::avx2 : Path::scalar);
        EXPECT_FALSE(avx512_enabled());
    }
    EXPECT_EQ(active_path(), supported);
}

// Which vector pass ran ('5' AVX-512, '2' AVX2, '-' none) and where the rest began, under `cap`,
// for a loop with both vector passes or (with_avx512 false) only the AVX2 one.
struct Ran {
    char vector = '-';
    std::size_t rest_from = 99;
};

Ran run_under(Path cap, bool with_avx512) {
    const PathCap capped(cap);
    Ran ran;
    const auto avx2 = [&] {
        ran.vector = '2';
        return std::size_t{32};
    };
    const auto rest = [&](std::size_t covered) { ran.rest_from = covered; };
    if (with_avx512) {
        run_widest(
            [&] {
                ran.vector = '5';
                return std::size_t{64};
            },
            avx2, rest);
    } else {
        run_widest(NoPass{}, avx2, rest);
    }
    return ran;
}

TEST(Dispatch, ALoopTakesTheWidestPassThePathAllowsThenTheRest) {
    for (const Path cap : {Path::scalar, Path::avx2, Path::avx512}) {
        const Path path = std::min(cap, supported_path());
        const Ran both = run_under(cap, true);
        EXPECT_EQ(both.vector, path == Path::avx512 ? '5' : path == Path::avx2 ? '2' : '-');
        EXPECT_EQ(both.rest_from, path == Path::avx512 ? 64u : path == Path::avx2 ? 32u : 0u);
        // Without an AVX-512 pass, an AVX-512 path takes the AVX2 one.
        const Ran narrow = run_under(cap, false);
        EXPECT_EQ(narrow.vector, path >= Path::avx2 ? '2' : '-');
        EXPECT_EQ(narrow.rest_from, path >= Path::avx2 ? 32u : 0u);
    }
}

TEST(Dispatch, AnInPlacePassGivesTheScalarLoopThePixelsAfterTheVectorOnes) {
    std::uint8_t pixels[3 * 40] = {};
    std::uint8_t* rest_at = nullptr;
    std::size_t rest_count = 0;
    const PathCap cap(Path::avx2);
    run_in_place(
        pixels, 40, NoPass{}, [](std::uint8_t*, std::size_t) { return std::size_t{32}; },
        [&](std::uint8_t* p, std::size_t n) {
            rest_at = p;
            rest_count = n;
        });
    const bool vector = supported_path() >= Path::avx2;
    EXPECT_EQ(rest_at, pixels + (vector ? 96 : 0));
    EXPECT_EQ(rest_count, vector ? 8u : 40u);
}

}  // namespace
}  // namespace ombrix::simd
