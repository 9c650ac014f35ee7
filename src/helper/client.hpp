// The library's side of the helper process. DevIL is not safe on hostile input (its decoders
// double-free, loop forever and write outside their buffers on malformed files; its writers write
// past their buffers on long texts and put uninitialised memory into files), so the library never
// runs it on anything from outside in the host's process: every load, save and type detection is
// done in a fresh process forked from ombrix-decode, a small program that sits beside
// libombrix.so. That process runs under a CPU-time, an address-space and a wall-clock limit with a
// copy of the library's DevIL settings and hands back the result through shared memory. A crash, a
// hang or an exhausted limit there is an ordinary failure here.
#pragma once

#include <IL/il.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "helper/protocol.hpp"
#include "store/memory.hpp"

namespace ombrix::helper {

inline constexpr const char* helper_name = "ombrix-decode";

struct Limits {
    // The whole time a request may take, from the call to its answer.
    std::chrono::milliseconds wall{10'000};
    std::uint32_t cpu_seconds = 10;
    // Room for a 2^28-pixel image three times over (DevIL's copy, its conversion and the pixels
    // handed back) at 8 bits per channel with alpha.
    std::uint64_t address_space = std::uint64_t{4} << 30;
};

const Limits& limits() noexcept;
void set_limits(const Limits& limits) noexcept;

// Where the helper program is looked for: ombrix-decode in the directory of the file that holds
// this code (libombrix.so, or the executable it is linked into).
const std::string& helper_path();
// Looks for the helper elsewhere from now on; stops a running one.
void set_helper_path(std::string path);

// Why a request could not even be asked (beside the outcomes a request can have).
enum class Unavailable { none, missing, not_started };

// What a load hands back.
struct Loaded : Properties {
    memory::Buffer rgb;
};

// Decodes `path` (a relative path is taken from the current directory at the call). On
// Outcome::done `out` holds the properties and pixels; every other outcome leaves it alone.
Outcome load(const char* path, Loaded& out, Unavailable& unavailable);

// What a save hands back: the encoded file, or DevIL's reason for refusing.
struct Encoded {
    memory::Buffer file;
    ILenum devil_error = IL_NO_ERROR;
};

// Encodes a width × height RGB image as DevIL's `type`, or (IL_TYPE_UNKNOWN with a name) as the
// type DevIL chooses by the name's extension, under the library's DevIL settings and the key
// colour given.
Outcome save(const std::uint8_t* rgb, std::int32_t width, std::int32_t height, ILenum type, const char* name,
             const KeyColour& key_colour, Encoded& out, Unavailable& unavailable);

// The file type DevIL sees in `size` bytes.
Outcome detect(const std::uint8_t* bytes, std::size_t size, ILenum& type, Unavailable& unavailable);

// How the last request ended, and the signal that ended its worker if one did.
Outcome last_outcome() noexcept;
int last_signal() noexcept;

// The running ombrix-decode process, or -1. It is started by the first request and lives until
// the library is unloaded, `stop_service` is called, it fails, or the host process ends.
pid_t service_pid() noexcept;
// Stops the helper and releases the pixel block kept for it (both come back with the next request).
void stop_service() noexcept;
// Bytes of the pixel block kept mapped between requests.
std::size_t pixel_block_size() noexcept;

}  // namespace ombrix::helper
