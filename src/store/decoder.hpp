// Isolated decoding. DevIL's decoders are not safe on malformed files (double frees, endless loops,
// writes outside their buffers), so the library never runs them in the host's process: every file
// is decoded in a fresh process forked from ombrix-decode, a small program that sits beside
// libombrix.so. That process runs under a CPU-time, an address-space and a wall-clock limit with a
// copy of the library's DevIL settings, and hands back the DevIL properties and the RGB pixels in a
// shared-memory block. A crash, a hang or an exhausted limit there is an ordinary load failure here.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "store/decoder_protocol.hpp"
#include "store/images.hpp"
#include "store/state.hpp"

namespace ombrix::decoder {

inline constexpr const char* helper_name = "ombrix-decode";

struct Limits {
    std::chrono::milliseconds wall{10'000};
    std::uint32_t cpu_seconds = 10;
    // Room for a 2^28-pixel image three times over (DevIL's copy, its conversion and the pixels
    // handed back) at 8 bits per channel with alpha.
    std::uint64_t address_space = std::uint64_t{4} << 30;
};

const Limits& limits() noexcept;
void set_limits(const Limits& limits) noexcept;

// Where the decoder program is looked for: ombrix-decode in the directory of the file that holds
// this code (libombrix.so, or the executable it is linked into).
const std::string& helper_path();
// Looks for the decoder elsewhere from now on; stops a running one.
void set_helper_path(std::string path);

// Decodes `path` in a decoder process. On Outcome::loaded `out` holds the properties and pixels;
// every other outcome leaves it alone. Throws Failure(0, text) when the decoder cannot be found
// or started: there is no fallback to an in-process load.
Outcome decode_isolated(const char* path, DecodedImage& out);

// How the last decode_isolated ended, and the signal that ended the decoding process if one did.
Outcome last_outcome() noexcept;
int last_signal() noexcept;

// The running ombrix-decode process, or -1. It is started by the first load and lives until the
// library is unloaded, `stop_service` is called, or it fails.
pid_t service_pid() noexcept;
// Stops the decoder and releases the pixel block kept for it (both come back with the next load).
void stop_service() noexcept;

// The same decode in the calling process, on its own DevIL. DevIL can crash or hang on hostile
// files, so nothing behind the exports calls this: it exists so that tests and benchmarks can
// compare the isolated decode against it on valid files.
bool decode_in_process(State& st, const char* path, DecodedImage& out);

}  // namespace ombrix::decoder
