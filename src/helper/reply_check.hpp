// The one judge of what the helper sends back. A reply is trusted with nothing: before a byte of
// it reaches an image record or a file it must be whole, answer the request it claims to answer,
// and describe exactly the data it says it carries, within the memory that holds that data. A pure
// function, so that every lie a broken helper could tell is tested without a helper.
#pragma once

#include <cstddef>
#include <cstdint>

#include "helper/protocol.hpp"
#include "store/pixel_limit.hpp"

namespace ombrix::helper {

// What the library knows when a reply arrives.
struct Expectation {
    Task task = Task::load;
    std::uint64_t sequence = 0;
    std::size_t block_size = 0;      // bytes of the pixel block that went with the request
    bool has_fd = false;             // a descriptor came with the reply
    std::uint64_t fd_size = 0;       // its size, when it is a regular file or memfd
    std::uint64_t largest_file = 0;  // the most bytes an encoded file may have
};

enum class Verdict {
    pixels_in_block,  // a load whose pixels are at the start of the pixel block
    pixels_in_fd,     // a load whose pixels are in the descriptor
    empty_image,      // a load of an image without pixels
    file_in_fd,       // a save whose file is in the descriptor
    detected,         // a detection; the type is in the reply
    failed,           // the helper reports a failure of its own (the outcome says which)
    broken,           // anything else: the helper is not to be believed
};

// Judges the `length` bytes received as a reply (`received` holds them, at least sizeof(Reply)
// bytes of room). On any verdict but `broken`, `reply` holds the reply.
Verdict check_reply(const void* received, long length, const Expectation& expected, Reply& reply) noexcept;

}  // namespace ombrix::helper
