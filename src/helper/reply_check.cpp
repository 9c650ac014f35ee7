// check_reply: every field of a reply against the request and the memory it points into.
#include "helper/reply_check.hpp"

#include <cstring>

namespace ombrix::helper {

Verdict check_reply(const void* received, long length, const Expectation& expected, Reply& reply) noexcept {
    // Too short, too long (a cut-off message reports one byte more than the room), or nothing.
    if (!received || length != static_cast<long>(sizeof(Reply))) return Verdict::broken;
    Reply r;
    std::memcpy(&r, received, sizeof r);
    if (r.magic != protocol_magic || r.sequence != expected.sequence) return Verdict::broken;
    if (r.outcome != Outcome::done) {
        // A failure carries nothing with it.
        if (r.outcome > Outcome::broken || expected.has_fd || r.data_bytes != 0) return Verdict::broken;
        reply = r;
        return Verdict::failed;
    }
    Verdict verdict = Verdict::broken;
    switch (expected.task) {
        case Task::load: {
            const Properties& p = r.properties;
            if (!pixels_fit(p.width, p.height)) return Verdict::broken;
            const std::uint64_t bytes = static_cast<std::uint64_t>(p.width) * static_cast<std::uint64_t>(p.height) * 3;
            if (r.data_bytes != bytes) return Verdict::broken;
            if (bytes == 0) {
                if (expected.has_fd || r.in_block) return Verdict::broken;
                verdict = Verdict::empty_image;
            } else if (r.in_block == 1) {
                if (expected.has_fd || bytes > expected.block_size) return Verdict::broken;
                verdict = Verdict::pixels_in_block;
            } else if (r.in_block == 0) {
                if (!expected.has_fd || expected.fd_size < bytes) return Verdict::broken;
                verdict = Verdict::pixels_in_fd;
            }
            break;
        }
        case Task::save:
            if (r.in_block != 0 || !expected.has_fd || r.data_bytes > expected.fd_size ||
                r.data_bytes > expected.largest_file)
                return Verdict::broken;
            verdict = Verdict::file_in_fd;
            break;
        case Task::detect:
            if (r.in_block != 0 || expected.has_fd || r.data_bytes != 0) return Verdict::broken;
            verdict = Verdict::detected;
            break;
    }
    if (verdict != Verdict::broken) reply = r;
    return verdict;
}

}  // namespace ombrix::helper
