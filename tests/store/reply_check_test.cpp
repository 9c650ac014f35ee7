// The reply check against forged replies: every lie a broken or hostile helper could tell about
// sizes, byte counts, magic and sequence numbers must be caught before the host copies a byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "helper/reply_check.hpp"

namespace ombrix::helper {
namespace {

constexpr std::size_t block = 64 * 64 * 3;

Expectation load_expected(bool has_fd = false, std::uint64_t fd_size = 0) {
    Expectation e;
    e.task = Task::load;
    e.sequence = 41;
    e.block_size = block;
    e.has_fd = has_fd;
    e.fd_size = fd_size;
    e.largest_file = std::uint64_t{1} << 32;
    return e;
}

// An honest reply to a load of a 64 × 48 image whose pixels are in the block.
Reply honest_load() {
    Reply r;
    r.outcome = Outcome::done;
    r.sequence = 41;
    r.properties.width = 64;
    r.properties.height = 48;
    r.in_block = 1;
    r.data_bytes = 64 * 48 * 3;
    return r;
}

Verdict judge(const Reply& r, const Expectation& e, long length = sizeof(Reply)) {
    Reply out;
    return check_reply(&r, length, e, out);
}

TEST(ReplyCheck, AcceptsHonestReplies) {
    EXPECT_EQ(judge(honest_load(), load_expected()), Verdict::pixels_in_block);

    Reply in_fd = honest_load();
    in_fd.in_block = 0;
    EXPECT_EQ(judge(in_fd, load_expected(true, 64 * 48 * 3)), Verdict::pixels_in_fd);

    Reply empty = honest_load();
    empty.properties.width = 0;
    empty.in_block = 0;
    empty.data_bytes = 0;
    EXPECT_EQ(judge(empty, load_expected()), Verdict::empty_image);

    Reply refused;
    refused.outcome = Outcome::refused;
    refused.sequence = 41;
    EXPECT_EQ(judge(refused, load_expected()), Verdict::failed);

    Expectation save = load_expected(true, 1000);
    save.task = Task::save;
    Reply file;
    file.outcome = Outcome::done;
    file.sequence = 41;
    file.data_bytes = 1000;
    EXPECT_EQ(judge(file, save), Verdict::file_in_fd);

    Expectation detect = load_expected();
    detect.task = Task::detect;
    Reply type;
    type.outcome = Outcome::done;
    type.sequence = 41;
    type.detected_type = IL_PNG;
    Reply out;
    EXPECT_EQ(check_reply(&type, sizeof type, detect, out), Verdict::detected);
    EXPECT_EQ(out.detected_type, IL_PNG);
}

TEST(ReplyCheck, RefusesRepliesOfTheWrongLengthMagicOrSequence) {
    const Reply r = honest_load();
    EXPECT_EQ(judge(r, load_expected(), sizeof(Reply) - 1), Verdict::broken);
    // A longer message arrives cut short and reported one byte longer than the room.
    EXPECT_EQ(judge(r, load_expected(), sizeof(Reply) + 1), Verdict::broken);
    EXPECT_EQ(judge(r, load_expected(), 0), Verdict::broken);
    Reply other = r;
    other.magic ^= 1;
    EXPECT_EQ(judge(other, load_expected()), Verdict::broken);
    // The answer to the previous request, arriving late, is not the answer to this one.
    other = r;
    other.sequence = 40;
    EXPECT_EQ(judge(other, load_expected()), Verdict::broken);
    other = r;
    other.outcome = static_cast<Outcome>(99);
    EXPECT_EQ(judge(other, load_expected()), Verdict::broken);
}

TEST(ReplyCheck, RefusesByteCountsThatDisagreeWithTheImage) {
    for (const std::uint64_t bytes :
         {std::uint64_t{0}, std::uint64_t{64 * 48 * 3 - 1}, std::uint64_t{64 * 48 * 3 + 3}, ~std::uint64_t{0}}) {
        Reply r = honest_load();
        r.data_bytes = bytes;
        EXPECT_EQ(judge(r, load_expected()), Verdict::broken) << bytes;
    }
    // Sizes beyond the pixel limit, or negative, whatever the byte count says.
    for (const auto& [w, h] :
         std::vector<std::pair<std::int32_t, std::int32_t>>{{-1, 48}, {64, -3}, {1 << 15, 1 << 14 | 1}}) {
        Reply r = honest_load();
        r.properties.width = w;
        r.properties.height = h;
        r.data_bytes = static_cast<std::uint64_t>(static_cast<std::int64_t>(w) * h * 3);
        EXPECT_EQ(judge(r, load_expected()), Verdict::broken) << w << " x " << h;
    }
}

TEST(ReplyCheck, RefusesPixelsThatDoNotFitWhereTheyAreSaidToBe) {
    // More pixels than the block holds: copying them would read past the mapping.
    Reply r = honest_load();
    r.properties.width = 64;
    r.properties.height = 65;
    r.data_bytes = 64 * 65 * 3;
    EXPECT_EQ(judge(r, load_expected()), Verdict::broken);
    // Pixels said to be in a descriptor smaller than they are, or in one that never came.
    r = honest_load();
    r.in_block = 0;
    EXPECT_EQ(judge(r, load_expected(true, 64 * 48 * 3 - 1)), Verdict::broken);
    EXPECT_EQ(judge(r, load_expected(false)), Verdict::broken);
    // In the block, with a descriptor besides; or an in_block flag that is neither.
    r = honest_load();
    EXPECT_EQ(judge(r, load_expected(true, block)), Verdict::broken);
    r.in_block = 7;
    EXPECT_EQ(judge(r, load_expected()), Verdict::broken);
    // A failure that carries data.
    Reply failed;
    failed.outcome = Outcome::crashed;
    failed.sequence = 41;
    failed.data_bytes = 12;
    EXPECT_EQ(judge(failed, load_expected()), Verdict::broken);
}

TEST(ReplyCheck, RefusesEncodedFilesLargerThanTheirDescriptor) {
    Expectation save = load_expected(true, 1000);
    save.task = Task::save;
    Reply file;
    file.outcome = Outcome::done;
    file.sequence = 41;
    file.data_bytes = 1001;
    EXPECT_EQ(judge(file, save), Verdict::broken);
    save.has_fd = false;
    file.data_bytes = 10;
    EXPECT_EQ(judge(file, save), Verdict::broken);
}

}  // namespace
}  // namespace ombrix::helper
