// The library's side of isolated decoding: finding ombrix-decode, starting it with posix_spawn,
// sending it each load with the DevIL settings of this process, and checking everything it sends
// back before a byte of it reaches an image record. The decoder is trusted with nothing: a reply
// is accepted only when it is whole, consistent and within the pixel limit.
#include "store/decoder.hpp"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "store/decoder_core.hpp"
#include "store/devil.hpp"

extern char** environ;

namespace ombrix::decoder {
namespace {

// Time the decoder gets beyond the file's own wall-clock limit to kill, reap and report.
constexpr auto grace = std::chrono::seconds(2);

// Anchors the search for the file this code was loaded from.
const char anchor = 0;

std::string locate_helper() {
    std::string object;
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(&anchor, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) && map && map->l_name &&
        map->l_name[0]) {
        object = map->l_name;
    } else {
        // The main program has no name in the link map: it is linked into an executable.
        char buffer[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
        if (n > 0 && static_cast<std::size_t>(n) < sizeof buffer) object.assign(buffer, static_cast<std::size_t>(n));
    }
    if (object.empty()) return {};
    if (object[0] != '/') {
        // A library opened by a relative path: resolve it now, before the host changes directory.
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return {};
        object = std::string(cwd) + "/" + object;
    }
    return object.substr(0, object.rfind('/') + 1) + helper_name;
}

struct Settings {
    std::string helper = locate_helper();
    Limits limits;
    Outcome last = Outcome::refused;
    int last_signal = 0;
};

Settings& settings() {
    static Settings s;
    return s;
}

// Located while the library loads, so that a relative library path still means what it meant.
[[maybe_unused]] const bool located_at_load = !settings().helper.empty();

bool reap(pid_t pid, bool block) noexcept {
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, block ? 0 : WNOHANG);
        if (r == pid) return true;
        // Someone else reaped it (a host that ignores SIGCHLD or waits for every child).
        if (r < 0 && errno == ECHILD) return true;
        if (r < 0 && errno == EINTR) continue;
        return false;
    }
}

// The running ombrix-decode process and this process's end of its channel.
class Service {
public:
    Service() = default;
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
    ~Service() { stop(false); }

    pid_t pid() const noexcept { return pid_; }
    int channel() const noexcept { return channel_.get(); }

    void ensure_running(const std::string& helper, const Limits& lim) {
        if (pid_ > 0 && owner_ != getpid()) forget();
        // A decoder that has died is found out by the send that follows, which then starts a new one.
        if (pid_ <= 0) start(helper, lim);
    }

    // Ends the decoder: it exits when its channel closes; one that does not is killed. Always reaped.
    void stop(bool kill_now) noexcept {
        if (pid_ <= 0) return;
        channel_.reset();
        if (owner_ == getpid()) {
            bool gone = false;
            if (!kill_now) {
                for (int i = 0; i < 200 && !gone; ++i) {
                    gone = reap(pid_, false);
                    if (!gone) std::this_thread::sleep_for(std::chrono::microseconds(500));
                }
            }
            // A child not yet reaped still owns its pid, so this cannot hit another process.
            if (!gone && !reap(pid_, false)) {
                ::kill(pid_, SIGKILL);
                reap(pid_, true);
            }
        }
        pid_ = -1;
    }

private:
    // A copy inherited through the host's fork: the process is not this one's child.
    void forget() noexcept {
        channel_.reset();
        pid_ = -1;
    }

    void start(const std::string& helper, const Limits& lim) {
        if (helper.empty() || access(helper.c_str(), X_OK) != 0) fail(0, text::decoder_missing);
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) fail(0, text::decoder_not_started);
        UniqueFd mine(pair[0]);
        UniqueFd theirs(pair[1]);
        // dup2 onto itself would keep close-on-exec, so the decoder's end must not already be fd 3.
        if (theirs.get() == channel_fd) theirs.reset(fcntl(theirs.get(), F_DUPFD_CLOEXEC, channel_fd + 1));
        if (!theirs) fail(0, text::decoder_not_started);

        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        // The channel first, then quiet standard streams (the host's own output is its own), and no
        // other descriptor of the host's.
        posix_spawn_file_actions_adddup2(&actions, theirs.get(), channel_fd);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&actions, channel_fd + 1);
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        const std::string parent = std::to_string(getpid());
        char* argv[] = {const_cast<char*>(helper.c_str()), const_cast<char*>(parent.c_str()), nullptr};
        pid_t pid = -1;
        const int error = posix_spawn(&pid, helper.c_str(), &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (error != 0) fail(0, error == ENOENT ? text::decoder_missing : text::decoder_not_started);
        theirs.reset();
        pid_ = pid;
        owner_ = getpid();
        channel_ = std::move(mine);

        Hello hello{};
        hello.magic = 0;
        const auto deadline = Clock::now() + lim.wall;
        const long got = receive_message(channel_.get(), &hello, sizeof hello, nullptr, deadline);
        if (got != static_cast<long>(sizeof hello) || hello.magic != protocol_magic ||
            hello.version != protocol_version) {
            stop(true);
            fail(0, text::decoder_not_started);
        }
    }

    pid_t pid_ = -1;
    pid_t owner_ = -1;
    UniqueFd channel_;
};

Service& service() {
    static Service s;
    return s;
}

// The library's pixel block: shared memory the decoder writes the pixels into, kept mapped here
// from load to load. A fresh block per load would cost the kernel a page allocation per 4 KiB
// twice over (the decoder's write and this process's read); a kept one costs one memcpy. It grows
// to the largest image loaded so far, up to `largest_kept` bytes; larger images come in a block
// of their own. Sealed against shrinking, so the mapping can never lose its pages under a read.
class PixelBlock {
public:
    static constexpr std::size_t largest_kept = std::size_t{48} << 20;

    PixelBlock() = default;
    PixelBlock(const PixelBlock&) = delete;
    PixelBlock& operator=(const PixelBlock&) = delete;
    ~PixelBlock() { unmap(); }

    int fd() const noexcept { return fd_.get(); }
    std::size_t size() const noexcept { return size_; }
    const std::uint8_t* data() const noexcept { return data_; }

    // Makes the block hold at least `bytes` (within the kept size); keeps the old one on failure.
    void grow_to(std::size_t bytes) noexcept {
        if (bytes <= size_ || bytes > largest_kept) return;
        UniqueFd fd(memfd_create("ombrix-pixel-block", MFD_CLOEXEC | MFD_ALLOW_SEALING));
        if (!fd || ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0 ||
            fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
            return;
        void* p = mmap(nullptr, bytes, PROT_READ, MAP_SHARED | MAP_POPULATE, fd.get(), 0);
        if (p == MAP_FAILED) return;
        unmap();
        fd_ = std::move(fd);
        data_ = static_cast<std::uint8_t*>(p);
        size_ = bytes;
    }

    void release() noexcept { unmap(); }

private:
    void unmap() noexcept {
        if (data_) munmap(data_, size_);
        data_ = nullptr;
        size_ = 0;
        fd_.reset();
    }

    UniqueFd fd_;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// The block of this process: a fork of the host must not share its parent's, which the parent's
// decoder writes into.
PixelBlock& pixel_block() {
    static PixelBlock b;
    static pid_t owner = getpid();
    if (owner != getpid()) {
        b.release();
        owner = getpid();
    }
    return b;
}

Outcome finish(Outcome outcome, int signal = 0) noexcept {
    settings().last = outcome;
    settings().last_signal = signal;
    return outcome;
}

bool read_pixels(int fd, std::uint8_t* to, std::size_t size) noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, to + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Hands a decoded image's properties and pixels to the caller's record.
void deliver(DecodedImage& out, const Properties& p, memory::Buffer&& rgb) noexcept {
    static_cast<Properties&>(out) = p;
    out.rgb = std::move(rgb);
}

}  // namespace

const Limits& limits() noexcept { return settings().limits; }
void set_limits(const Limits& l) noexcept { settings().limits = l; }

const std::string& helper_path() { return settings().helper; }

void set_helper_path(std::string path) {
    service().stop(false);
    settings().helper = std::move(path);
}

Outcome last_outcome() noexcept { return settings().last; }
int last_signal() noexcept { return settings().last_signal; }
pid_t service_pid() noexcept { return service().pid(); }
void stop_service() noexcept {
    service().stop(false);
    pixel_block().release();
}

Outcome decode_isolated(const char* path, DecodedImage& out) {
    finish(Outcome::refused);
    if (!path) return Outcome::refused;
    const std::size_t length = std::strlen(path);
    if (length > max_path_length) return Outcome::refused;

    const Limits& lim = settings().limits;
    Request request;
    request.wall_ms = static_cast<std::uint32_t>(lim.wall.count());
    request.cpu_seconds = lim.cpu_seconds;
    request.address_space = lim.address_space;
    request.path_length = static_cast<std::uint32_t>(length);
    request.settings = capture_load_settings();

    Service& svc = service();
    // A decoder that died since the last load is found out here; it is started again once.
    for (int attempt = 0;; ++attempt) {
        svc.ensure_running(settings().helper, lim);
        if (send_message(svc.channel(), &request, sizeof request, path, length, pixel_block().fd())) break;
        svc.stop(true);
        if (attempt == 1) fail(0, text::decoder_not_started);
    }

    Reply reply;
    UniqueFd pixels;
    const auto deadline = Clock::now() + lim.wall + grace;
    const long got = receive_message(svc.channel(), &reply, sizeof reply, &pixels, deadline);
    if (got != static_cast<long>(sizeof reply) || reply.magic != protocol_magic) {
        // The decoder itself failed (died, hung or garbled its reply): end it, start afresh next time.
        svc.stop(true);
        return finish(got == 0 ? Outcome::crashed : got < 0 ? Outcome::timed_out : Outcome::broken);
    }
    if (reply.outcome != Outcome::loaded) {
        const bool known = reply.outcome <= Outcome::broken;
        return finish(known ? reply.outcome : Outcome::broken, reply.signal);
    }

    const Properties& p = reply.properties;
    if (!pixels_fit(p.width, p.height)) return finish(Outcome::broken);
    const std::size_t bytes = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) * 3;
    if (reply.pixel_bytes != bytes) return finish(Outcome::broken);
    PixelBlock& block = pixel_block();
    if (bytes != 0 && (reply.in_block ? pixels || !block.data() || bytes > block.size() : !pixels))
        return finish(Outcome::broken);
    memory::Buffer rgb;
    if (bytes != 0 && reply.in_block) {
        rgb = memory::Buffer(bytes);
        std::memcpy(rgb.data(), block.data(), bytes);
    } else if (bytes != 0) {
        struct stat info {};
        if (fstat(pixels.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            static_cast<std::uint64_t>(info.st_size) < bytes)
            return finish(Outcome::broken);
        rgb = memory::Buffer(bytes);
        if (!read_pixels(pixels.get(), rgb.data(), bytes)) return finish(Outcome::broken);
        block.grow_to(bytes);
    }
    deliver(out, p, std::move(rgb));
    return finish(Outcome::loaded);
}

bool decode_in_process(State& st, const char* path, DecodedImage& out) {
    if (!path) return false;
    ScratchImage scratch(st);
    Properties p;
    memory::Buffer rgb;
    const Outcome outcome = decode_with_devil(path, p, [&](std::size_t bytes) {
        rgb = memory::Buffer(bytes);
        return rgb.data();
    });
    if (outcome != Outcome::loaded) return false;
    deliver(out, p, std::move(rgb));
    return true;
}

}  // namespace ombrix::decoder
