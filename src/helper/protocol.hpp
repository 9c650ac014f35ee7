// What the library and its helper process (ombrix-decode) say to each other, and the DevIL
// settings a load, a save or a type detection depends on. Both programs are built from this one
// header, so they agree on every layout; a version number in the greeting catches a helper left
// over from another build.
//
// The channel is a SOCK_SEQPACKET socket: every message arrives whole or not at all, and a file
// descriptor (a shared-memory block holding pixels or an encoded file) travels with it. Every
// request carries a sequence number that its reply repeats, so a reply can never be taken for the
// answer to another request.
#pragma once

#include <IL/il.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace ombrix::helper {

inline constexpr std::uint32_t protocol_magic = 0x444D424F;  // "OBMD"
inline constexpr std::uint32_t protocol_version = 3;
// The helper finds its end of the channel here.
inline constexpr int channel_fd = 3;
// No longer path can be opened (PATH_MAX), so a longer one is refused without asking the helper.
inline constexpr std::size_t max_path_length = 4096;

// DevIL switches a load or a save reads (ilIsEnabled / ilEnable / ilDisable).
inline constexpr std::array<ILenum, 6> devil_switches = {IL_ORIGIN_SET, IL_FORMAT_SET,      IL_TYPE_SET,
                                                         IL_CONV_PAL,   IL_DEFAULT_ON_FAIL, IL_USE_KEY_COLOUR};
// DevIL's global integer settings (ilGetInteger / ilSetInteger): the origin, format and type a load
// converts to, the quantiser a conversion to colour-index uses, the PCD resolution, the writers'
// settings and the compression mode, so that the helper's DevIL is the library's in every setting
// that outlives the bound image.
inline constexpr std::array<ILenum, 18> devil_integers = {
    IL_ORIGIN_MODE,      IL_FORMAT_MODE,       IL_TYPE_MODE,     IL_KEEP_DXTC_DATA,  IL_MAX_QUANT_INDEXS,
    IL_NEU_QUANT_SAMPLE, IL_QUANTIZATION_MODE, IL_PCD_PICNUM,    IL_BMP_RLE,         IL_DXTC_FORMAT,
    IL_JPG_SAVE_FORMAT,  IL_JPG_QUALITY,       IL_PNG_INTERLACE, IL_PNG_ALPHA_INDEX, IL_SGI_RLE,
    IL_TGA_CREATE_STAMP, IL_TGA_RLE,           IL_COMPRESS_MODE};
// DevIL's strings (ilGetString / ilSetString) that its writers put into files.
inline constexpr std::array<ILenum, 11> devil_strings = {
    IL_TGA_ID_STRING,           IL_TGA_AUTHNAME_STRING,    IL_TGA_AUTHCOMMENT_STRING, IL_PNG_AUTHNAME_STRING,
    IL_PNG_TITLE_STRING,        IL_PNG_DESCRIPTION_STRING, IL_TIF_DESCRIPTION_STRING, IL_TIF_HOSTCOMPUTER_STRING,
    IL_TIF_DOCUMENTNAME_STRING, IL_TIF_AUTHNAME_STRING,    IL_CHEAD_HEADER_STRING};
// DevIL's writers copy these strings into fixed fields and buffers of their own without checking
// the length, writing past them for long texts. A text is cut to this many bytes before a writer
// sees it: what the TGA writer keeps of its image ID, and within every writer's buffers.
inline constexpr std::size_t max_string_length = 254;

struct DevilSettings {
    std::array<std::uint8_t, devil_switches.size()> switches{};
    std::array<std::int32_t, devil_integers.size()> integers{};
    // The key colour ilKeyColour was last given, when it was; DevIL has no way to read it back.
    std::array<float, 4> key_colour{};
    std::uint32_t key_colour_set = 0;
    // Each string zero-terminated, cut to max_string_length bytes; a string DevIL does not have
    // (never set) is left unset in the helper too.
    std::array<std::array<char, max_string_length + 1>, devil_strings.size()> strings{};
    std::array<std::uint8_t, devil_strings.size()> string_set{};
};

// The key colour as the library last gave it to DevIL.
struct KeyColour {
    std::array<float, 4> rgba{};
    bool set = false;
};

// Reads the settings from the calling process's DevIL; the key colour is the caller's to give.
DevilSettings capture_settings(const KeyColour& key_colour) noexcept;
// Makes them the calling process's DevIL settings.
void apply_settings(const DevilSettings& settings) noexcept;

// The DevIL properties of an image, in the order they are read after a load. The image record
// holds the same struct.
struct Properties {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t palette_size = 0;
    std::int32_t bits_per_pixel = 0;
    std::int32_t offset_x = 0;
    std::int32_t offset_y = 0;
    std::int32_t depth = 1;
};

enum class Task : std::uint32_t {
    load = 1,    // decode the file at the (absolute) path
    save = 2,    // encode the pixels as a file of the given type, or of the type the name's extension gives
    detect = 3,  // the file type DevIL sees in the pixels' bytes
};

// How one request ended. The first four come from the working process itself, the rest from the
// process that watched it.
enum class Outcome : std::uint32_t {
    done = 0,
    refused = 1,        // DevIL could not load or save
    too_large = 2,      // beyond the pixel limit, or negative sizes
    out_of_memory = 3,  // no memory for the pixels, or no process to work in
    crashed = 4,        // killed by a signal, or exited without a proper reply
    timed_out = 5,      // ran past the wall-clock or CPU limit
    broken = 6,         // answered with a malformed message
};

struct Hello {
    std::uint32_t magic = protocol_magic;
    std::uint32_t version = protocol_version;
};

// The fixed part of a request; a path's bytes follow it in the same message (the file to load, or
// for a save by extension the target's name). The library's pixel block (a memfd it keeps mapped)
// travels with it; for a save or a detection it holds the pixels.
struct Request {
    std::uint32_t magic = protocol_magic;
    Task task = Task::load;
    std::uint64_t sequence = 0;
    std::uint32_t wall_ms = 0;
    std::uint32_t cpu_seconds = 0;
    std::uint64_t address_space = 0;
    std::uint32_t path_length = 0;
    std::uint32_t save_type = 0;  // IL_TYPE_UNKNOWN with a path: by the path's extension
    std::int32_t width = 0;       // the image of a save
    std::int32_t height = 0;
    std::uint64_t data_bytes = 0;  // the bytes of a save or a detection, at the start of the block
    DevilSettings settings;
};

// The reply. A load's RGB pixels are either at the start of the pixel block that came with the
// request (`in_block`) or in a shared-memory descriptor that travels with the reply; a save's
// encoded file is always in such a descriptor, `data_bytes` long.
struct Reply {
    std::uint32_t magic = protocol_magic;
    Outcome outcome = Outcome::crashed;
    std::uint64_t sequence = 0;
    std::int32_t signal = 0;        // the signal that ended the worker, when it crashed or timed out
    std::uint32_t devil_error = 0;  // DevIL's error code for a refused save
    std::int32_t detected_type = 0;
    std::uint32_t in_block = 0;
    std::uint64_t data_bytes = 0;
    Properties properties;
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

// Moves a new descriptor above 0, 1 and 2 (close-on-exec), closing the original: those three
// belong to the host's standard streams even when it has closed them, and whatever lands there
// receives what the host prints.
int above_standard_streams(int fd) noexcept;

using Clock = std::chrono::steady_clock;

// Sends `head` and `tail` as one message, with `pass_fd` attached when it is not -1. Never raises
// SIGPIPE. False when the peer is gone or the message could not be sent whole.
bool send_message(int socket, const void* head, std::size_t head_size, const void* tail = nullptr,
                  std::size_t tail_size = 0, int pass_fd = -1) noexcept;

// Receives one message of at most `capacity` bytes. An attached descriptor is stored in `*fd` (it is
// close-on-exec and above 2); any further descriptors are closed. Returns the message's size,
// `capacity + 1` for a longer message (cut short), 0 when the peer has closed its end, -1 on an
// error or a deadline passed.
long receive_message(int socket, void* buffer, std::size_t capacity, UniqueFd* fd, Clock::time_point deadline) noexcept;

// Waits until `socket` has something to read (a message or the peer's close). False when the
// deadline passes first.
bool wait_readable(int socket, Clock::time_point deadline) noexcept;

}  // namespace ombrix::helper
