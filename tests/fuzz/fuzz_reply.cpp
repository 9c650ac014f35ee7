// libFuzzer target: arbitrary bytes as a helper's reply, judged against a request the input also
// picks. Whatever the verdict, what it accepts must describe data that lies within the memory it
// names, so that the copy the library then makes can never leave it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "helper/reply_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ombrix::helper;
    if (size < 12) return 0;
    Expectation e;
    e.task = static_cast<Task>(1 + data[0] % 3);
    e.sequence = data[1];
    e.has_fd = data[2] & 1;
    std::uint32_t block = 0;
    std::uint32_t fd_size = 0;
    std::memcpy(&block, data + 4, 4);
    std::memcpy(&fd_size, data + 8, 4);
    e.block_size = block;
    e.fd_size = e.has_fd ? fd_size : 0;
    e.largest_file = std::uint64_t{1} << 32;
    data += 12;
    size -= 12;
    alignas(Reply) unsigned char received[sizeof(Reply) + 1] = {};
    const std::size_t length = size < sizeof received ? size : sizeof received;
    std::memcpy(received, data, length);
    Reply r;
    const Verdict v = check_reply(received, static_cast<long>(length), e, r);
    if (v == Verdict::broken) return 0;
    if (r.sequence != e.sequence || r.magic != protocol_magic) __builtin_trap();
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(r.properties.width) * static_cast<std::uint64_t>(r.properties.height) * 3;
    switch (v) {
        case Verdict::pixels_in_block:
            if (e.task != Task::load || r.data_bytes != pixels || pixels > e.block_size || e.has_fd) __builtin_trap();
            break;
        case Verdict::pixels_in_fd:
            if (e.task != Task::load || r.data_bytes != pixels || pixels > e.fd_size || !e.has_fd) __builtin_trap();
            break;
        case Verdict::file_in_fd:
            if (e.task != Task::save || r.data_bytes > e.fd_size || !e.has_fd) __builtin_trap();
            break;
        case Verdict::empty_image:
        case Verdict::detected:
        case Verdict::failed:
            if (r.data_bytes != 0 || e.has_fd) __builtin_trap();
            break;
        case Verdict::broken:
            break;
    }
    return 0;
}
