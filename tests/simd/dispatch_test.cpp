// The run-time choice of the vector passes: caps force a narrower path and come off again.
#include "simd/dispatch.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ombrix::simd
