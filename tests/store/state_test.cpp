// The image table, the ID counter and the allocator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "store/library.hpp"
#include "store/memory.hpp"
#include "store/state.hpp"

namespace ombrix {
namespace {

TEST(ImageTable, LooksUpLiveIdsOnly) {
    State st;
    EXPECT_EQ(st.images.find(0), nullptr);
    EXPECT_EQ(st.images.find(-1), nullptr);
    st.images.put(5, make_record(2, 3));
    ASSERT_NE(st.images.find(5), nullptr);
    EXPECT_EQ(st.images.get(5).pixel_count(), 6u);
    EXPECT_EQ(st.images.find(4), nullptr);
    EXPECT_EQ(st.images.find(6), nullptr);
    EXPECT_TRUE(st.images.erase(5));
    EXPECT_FALSE(st.images.erase(5));
    EXPECT_EQ(st.images.find(5), nullptr);
    try {
        st.images.get(5);
        FAIL() << "a freed ID must not resolve";
    } catch (const Failure& f) {
        EXPECT_EQ(f.result, -1);
        EXPECT_STREQ(f.text, "Invalid image ID");
    }
}

TEST(ImageTable, IdsAreIssuedInOrderAndNeverAgain) {
    State st;
    EXPECT_EQ(st.take_image_id(), 0);
    EXPECT_EQ(st.take_image_id(), 1);
    st.next_image_id = std::numeric_limits<std::int32_t>::max() - 1;
    EXPECT_EQ(st.take_image_id(), std::numeric_limits<std::int32_t>::max() - 1);
    // The last value is never handed out: the counter would have to overflow to move past it.
    EXPECT_THROW(st.take_image_id(), Failure);
    EXPECT_THROW(st.take_image_id(), Failure);
}

TEST(ImageTable, RecordsBeyondThePixelLimitAreRefused) {
    EXPECT_NO_THROW(make_record(1 << 14, 1 << 14));
    EXPECT_THROW(make_record(1 << 15, 1 << 14), Failure);
    EXPECT_THROW(make_record(-1, 5), Failure);
    EXPECT_THROW(check_image_size(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max()),
                 Failure);
    EXPECT_NO_THROW(make_record(0, 0));
}

TEST(PixelLimit, SizesAreJudgedWithoutOverflow) {
    EXPECT_TRUE(pixels_fit(1 << 14, 1 << 14));
    EXPECT_TRUE(pixels_fit(max_pixels, 1));
    EXPECT_TRUE(pixels_fit(0, max_pixels));
    EXPECT_FALSE(pixels_fit((1 << 14) + 1, 1 << 14));
    EXPECT_FALSE(pixels_fit(max_pixels + 1, 0));
    EXPECT_FALSE(pixels_fit(-1, 0));
    // Products that wrap a 64-bit multiply to zero or to a small value never fit.
    EXPECT_FALSE(pixels_fit(std::int64_t{1} << 32, std::int64_t{1} << 32));
    EXPECT_FALSE(pixels_fit((std::int64_t{1} << 62) + 1, std::int64_t{4}));
    EXPECT_FALSE(pixels_fit(std::numeric_limits<std::uint64_t>::max(), std::uint64_t{1}));
    // Host numbers: fractions truncate, anything not a finite number within the limit is refused.
    EXPECT_TRUE(pixels_fit(16384.9, 16384.9));
    EXPECT_FALSE(pixels_fit(16385.0, 16384.0));
    EXPECT_FALSE(pixels_fit(std::nan(""), 1.0));
    EXPECT_FALSE(pixels_fit(1.0, std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(pixels_fit(-0.5, 1.0));
    EXPECT_FALSE(pixels_fit(1e300, 0.0));
}

TEST(Memory, LargeBlocksAreHugePageAlignedAndZeroed) {
    memory::Buffer big(48u << 20, true);
    ASSERT_EQ(big.size(), 48u << 20);
#ifndef __SANITIZE_ADDRESS__
    // The block starts one header past a 2 MiB boundary, so its pages can be huge pages. (Under
    // AddressSanitizer every block comes from malloc, so that ASan sees all of them.)
    EXPECT_EQ((reinterpret_cast<std::uintptr_t>(big.data()) - 64) % (2u << 20), 0u);
#endif
    EXPECT_EQ(big[0], 0);
    EXPECT_EQ(big[big.size() - 1], 0);
    big[12345] = 7;
    memory::Buffer copy = big.copy();
    EXPECT_EQ(copy[12345], 7);
    memory::Buffer moved = std::move(big);
    EXPECT_TRUE(big.empty());
    EXPECT_EQ(moved[12345], 7);
}

TEST(Memory, SmallBlocksCanBeZeroedAndReleased) {
    memory::Buffer small(100, true);
    for (std::size_t i = 0; i < small.size(); ++i) ASSERT_EQ(small[i], 0);
    void* raw = memory::allocate(10);
    ASSERT_NE(raw, nullptr);
    std::memset(raw, 1, 10);
    memory::release(raw);
    memory::release(nullptr);
    EXPECT_EQ(memory::allocate(std::numeric_limits<std::size_t>::max()), nullptr);
#ifndef __SANITIZE_ADDRESS__  // ASan aborts on absurd requests instead of failing them
    EXPECT_THROW(memory::Buffer(std::numeric_limits<std::size_t>::max() / 2), std::bad_alloc);
#endif
}

TEST(Processor, MachinesMapToTheArchitectureCodes) {
    EXPECT_EQ(processor_code("x86_64", true), 9);
    EXPECT_EQ(processor_code("x86_64", false), 10);
    EXPECT_EQ(processor_code("i686", false), 0);
    EXPECT_EQ(processor_code("armv7l", false), 5);
    EXPECT_EQ(processor_code("aarch64", true), 12);
    EXPECT_EQ(processor_code("ia64", true), 6);
    EXPECT_EQ(processor_code("riscv64", true), 0xFFFF);
    EXPECT_STREQ(processor_name(9), "amd64");
    EXPECT_STREQ(processor_name(10), "ia32_on_win64");
    EXPECT_EQ(processor_name(11), nullptr);
    EXPECT_EQ(processor_name(0xFFFF), nullptr);
}

}  // namespace
}  // namespace ombrix
