// What the library and its decoder process (ombrix-decode) say to each other, and the DevIL
// settings a load depends on. Both programs are built from this one header, so they agree on every
// layout; a version number in the greeting catches a decoder left over from another build.
//
// The channel is a SOCK_SEQPACKET socket: every message arrives whole or not at all, and a file
// descriptor (the shared-memory block holding the pixels) travels with the reply.
#pragma once

#include <IL/il.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace ombrix::decoder {

inline constexpr std::uint32_t protocol_magic = 0x444D424F;  // "OBMD"
inline constexpr std::uint32_t protocol_version = 2;
// The decoder finds its end of the channel here.
inline constexpr int channel_fd = 3;
// No longer path can be opened (PATH_MAX), so a longer one is refused without asking the decoder.
inline constexpr std::size_t max_path_length = 4096;

// DevIL switches a load reads (ilIsEnabled / ilEnable / ilDisable).
inline constexpr std::array<ILenum, 6> load_switches = {IL_ORIGIN_SET, IL_FORMAT_SET,      IL_TYPE_SET,
                                                        IL_CONV_PAL,   IL_DEFAULT_ON_FAIL, IL_USE_KEY_COLOUR};
// DevIL's global integer settings (ilGetInteger / ilSetInteger): the origin, format and type a load
// converts to, the quantiser a conversion to colour-index uses, the PCD resolution, and the
// writers' settings besides, so that the decoder's DevIL is the library's in every setting that
// outlives the bound image.
inline constexpr std::array<ILenum, 17> load_integers = {IL_ORIGIN_MODE,       IL_FORMAT_MODE,      IL_TYPE_MODE,
                                                         IL_KEEP_DXTC_DATA,    IL_MAX_QUANT_INDEXS, IL_NEU_QUANT_SAMPLE,
                                                         IL_QUANTIZATION_MODE, IL_PCD_PICNUM,       IL_BMP_RLE,
                                                         IL_DXTC_FORMAT,       IL_JPG_SAVE_FORMAT,  IL_JPG_QUALITY,
                                                         IL_PNG_INTERLACE,     IL_PNG_ALPHA_INDEX,  IL_SGI_RLE,
                                                         IL_TGA_CREATE_STAMP,  IL_TGA_RLE};

struct LoadSettings {
    std::array<std::uint8_t, load_switches.size()> switches{};
    std::array<std::int32_t, load_integers.size()> integers{};
};

// Reads the settings from the calling process's DevIL.
LoadSettings capture_load_settings() noexcept;
// Makes them the calling process's DevIL settings.
void apply_load_settings(const LoadSettings& settings) noexcept;

// The DevIL properties of a loaded image, in the order they are read after the load.
struct Properties {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t palette_size = 0;
    std::int32_t bits_per_pixel = 0;
    std::int32_t offset_x = 0;
    std::int32_t offset_y = 0;
    std::int32_t depth = 1;
};

// How one decode ended. The first four come from the decoding process itself, the rest from the
// process that watched it.
enum class Outcome : std::uint32_t {
    loaded = 0,
    refused = 1,        // DevIL could not load the file
    too_large = 2,      // beyond the pixel limit, or negative sizes
    out_of_memory = 3,  // no memory for the pixels, or no process to decode in
    crashed = 4,        // killed by a signal, or exited without a proper reply
    timed_out = 5,      // ran past the wall-clock or CPU limit
    broken = 6,         // answered with a malformed message
};

struct Hello {
    std::uint32_t magic = protocol_magic;
    std::uint32_t version = protocol_version;
};

// The fixed part of a request; the path's bytes follow it in the same message. The library's
// pixel block (a sealed memfd it keeps mapped, see Reply) may travel with it.
struct Request {
    std::uint32_t magic = protocol_magic;
    std::uint32_t wall_ms = 0;
    std::uint32_t cpu_seconds = 0;
    std::uint32_t path_length = 0;
    std::uint64_t address_space = 0;
    LoadSettings settings;
};

// The reply. When `pixel_bytes` is not 0, the RGB pixels are either at the start of the pixel block
// that came with the request (`in_block`) or in a shared-memory descriptor that travels with the
// reply.
struct Reply {
    std::uint32_t magic = protocol_magic;
    Outcome outcome = Outcome::crashed;
    std::int32_t signal = 0;  // the signal that ended the decoder, when it crashed or timed out
    Properties properties;
    std::uint32_t in_block = 0;
    std::uint64_t pixel_bytes = 0;
};

// An owned file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

using Clock = std::chrono::steady_clock;

// Sends `head` and `tail` as one message, with `pass_fd` attached when it is not -1. Never raises
// SIGPIPE. False when the peer is gone or the message could not be sent whole.
bool send_message(int socket, const void* head, std::size_t head_size, const void* tail = nullptr,
                  std::size_t tail_size = 0, int pass_fd = -1) noexcept;

// Receives one message of at most `capacity` bytes. An attached descriptor is stored in `*fd` (it is
// close-on-exec); any further descriptors are closed. Returns the message's size, 0 when the peer
// has closed its end, -1 on an error, on a message longer than `capacity` or on a deadline passed.
long receive_message(int socket, void* buffer, std::size_t capacity, UniqueFd* fd, Clock::time_point deadline) noexcept;

// Waits until `socket` has something to read (a message or the peer's close). False when the
// deadline passes first.
bool wait_readable(int socket, Clock::time_point deadline) noexcept;

}  // namespace ombrix::decoder
