// The library's side of the helper: finding ombrix-decode, starting it with posix_spawn, sending
// it each request with the DevIL settings of this process, and judging everything it sends back
// (helper/reply_check.hpp) before a byte of it reaches an image record or a file.
#include "helper/client.hpp"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "helper/core.hpp"
#include "helper/reply_check.hpp"

extern char** environ;

namespace ombrix::helper {
namespace {

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

    Unavailable ensure_running(const std::string& helper, const Limits& lim) {
        if (pid_ > 0 && owner_ != getpid()) forget();
        // A helper that has died is found out by the send that follows, which then starts a new one.
        return pid_ <= 0 ? start(helper, lim) : Unavailable::none;
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

    Unavailable start(const std::string& helper, const Limits& lim) {
        if (helper.empty() || access(helper.c_str(), X_OK) != 0) return Unavailable::missing;
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return Unavailable::not_started;
        // Neither end may sit on a standard stream's number: the host's prints would go into it.
        UniqueFd mine(above_standard_streams(pair[0]));
        UniqueFd theirs(above_standard_streams(pair[1]));
        // dup2 onto itself would keep close-on-exec, so the helper's end must not already be fd 3.
        if (theirs.get() == channel_fd) theirs.reset(fcntl(theirs.get(), F_DUPFD_CLOEXEC, channel_fd + 1));
        if (!mine || !theirs) return Unavailable::not_started;

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
        if (error != 0) return error == ENOENT ? Unavailable::missing : Unavailable::not_started;
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
            return Unavailable::not_started;
        }
        return Unavailable::none;
    }

    pid_t pid_ = -1;
    pid_t owner_ = -1;
    UniqueFd channel_;
};

Service& service() {
    static Service s;
    return s;
}

// Whether a file of `bytes` may be made without the kernel raising SIGXFSZ: sizing a memfd counts
// against RLIMIT_FSIZE like any file, and the host may have lowered it.
bool file_size_allowed(std::size_t bytes) noexcept {
    rlimit limit{};
    return getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
           static_cast<std::uint64_t>(bytes) <= static_cast<std::uint64_t>(limit.rlim_cur);
}

// A shared-memory block of `bytes`, mapped for reading and writing, sealed against shrinking so
// that the mapping can never lose its pages under a read.
struct SharedBlock {
    UniqueFd fd;
    std::uint8_t* data = nullptr;
    std::size_t size = 0;

    SharedBlock() = default;
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;
    SharedBlock(SharedBlock&& other) noexcept
        : fd(std::move(other.fd)), data(std::exchange(other.data, nullptr)), size(std::exchange(other.size, 0)) {}
    SharedBlock& operator=(SharedBlock&& other) noexcept {
        if (this != &other) {
            unmap();
            fd = std::move(other.fd);
            data = std::exchange(other.data, nullptr);
            size = std::exchange(other.size, 0);
        }
        return *this;
    }
    ~SharedBlock() { unmap(); }

    static SharedBlock make(std::size_t bytes) noexcept {
        SharedBlock b;
        if (bytes == 0 || !file_size_allowed(bytes)) return b;
        UniqueFd fd(above_standard_streams(memfd_create("ombrix-pixel-block", MFD_CLOEXEC | MFD_ALLOW_SEALING)));
        if (!fd || ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0 ||
            fcntl(fd.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
            return b;
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd.get(), 0);
        if (p == MAP_FAILED) return b;
        b.fd = std::move(fd);
        b.data = static_cast<std::uint8_t*>(p);
        b.size = bytes;
        return b;
    }

    void unmap() noexcept {
        if (data) munmap(data, size);
        data = nullptr;
        size = 0;
        fd.reset();
    }
};

// The library's pixel block: the shared memory that pixels cross in, kept mapped here from request
// to request. A fresh block per request would cost the kernel a page allocation per 4 KiB twice over
// (one process's write and the other's read); a kept one costs one memcpy. It grows to the largest
// image seen so far, up to `largest_kept` bytes (one 4096 × 4096 image); larger images cross in a
// block of their own.
class PixelBlock {
public:
    static constexpr std::size_t largest_kept = std::size_t{48} << 20;

    int fd() const noexcept { return block_.fd.get(); }
    std::size_t size() const noexcept { return block_.size; }
    std::uint8_t* data() const noexcept { return block_.data; }

    // Makes the block hold at least `bytes` (within the kept size); keeps the old one on failure.
    void grow_to(std::size_t bytes) noexcept {
        if (bytes <= block_.size || bytes > largest_kept) return;
        SharedBlock bigger = SharedBlock::make(bytes);
        if (bigger.data) block_ = std::move(bigger);
    }

    void release() noexcept { block_.unmap(); }

private:
    SharedBlock block_;
};

// The block of this process: a fork of the host must not share its parent's, which the parent's
// helper writes into.
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

std::uint64_t next_sequence() noexcept {
    static std::uint64_t sequence = 0;
    return ++sequence;
}

// What came back for one request: the reply as judged, and the descriptor that came with it.
struct Answer {
    Verdict verdict = Verdict::broken;
    Reply reply;
    UniqueFd fd;
};

// Sends `request` (with `tail` and the block `block_fd`) to the helper, starting it when it is not
// running, and judges the reply. A helper that fails to answer properly is stopped: the next
// request starts a fresh one.
Outcome ask(Request& request, const void* tail, std::size_t tail_length, int block_fd, std::size_t block_size,
            Answer& answer, Unavailable& unavailable) {
    unavailable = Unavailable::none;
    const Limits& lim = settings().limits;
    // The whole request, start-up included, is within the wall-clock limit.
    const auto deadline = Clock::now() + lim.wall;
    request.sequence = next_sequence();
    request.wall_ms = static_cast<std::uint32_t>(lim.wall.count());
    request.cpu_seconds = lim.cpu_seconds;
    request.address_space = lim.address_space;
    Service& svc = service();
    // A helper that died since the last request is found out here; it is started again once.
    for (int attempt = 0;; ++attempt) {
        unavailable = svc.ensure_running(settings().helper, lim);
        if (unavailable != Unavailable::none) return finish(Outcome::refused);
        if (send_message(svc.channel(), &request, sizeof request, tail, tail_length, block_fd)) break;
        svc.stop(true);
        if (attempt == 1) {
            unavailable = Unavailable::not_started;
            return finish(Outcome::refused);
        }
    }

    alignas(Reply) unsigned char received[sizeof(Reply) + 1];
    const long got = receive_message(svc.channel(), received, sizeof(Reply), &answer.fd, deadline);
    Expectation expected;
    expected.task = request.task;
    expected.sequence = request.sequence;
    expected.block_size = block_size;
    expected.has_fd = static_cast<bool>(answer.fd);
    expected.largest_file = std::uint64_t{1} << 32;
    if (answer.fd) {
        struct stat info {};
        if (fstat(answer.fd.get(), &info) == 0 && S_ISREG(info.st_mode))
            expected.fd_size = static_cast<std::uint64_t>(info.st_size);
    }
    answer.verdict = got > 0 ? check_reply(received, got, expected, answer.reply) : Verdict::broken;
    if (answer.verdict == Verdict::broken) {
        // The helper itself failed (died, hung or lied): end it, start afresh next time.
        svc.stop(true);
        answer.fd.reset();
        return finish(got == 0 ? Outcome::crashed : got < 0 ? Outcome::timed_out : Outcome::broken);
    }
    if (answer.verdict == Verdict::failed) return finish(answer.reply.outcome, answer.reply.signal);
    return finish(Outcome::done);
}

// The pixels of a save or a detection, in the kept block when they fit there and in a block of
// their own otherwise.
struct PixelsOut {
    SharedBlock own;
    int fd = -1;
    std::size_t size = 0;
};

bool put_pixels(const std::uint8_t* bytes, std::size_t size, PixelsOut& out) noexcept {
    PixelBlock& block = pixel_block();
    block.grow_to(size);
    if (block.data() && block.size() >= size) {
        std::memcpy(block.data(), bytes, size);
        out.fd = block.fd();
        out.size = block.size();
        return true;
    }
    out.own = SharedBlock::make(size);
    if (!out.own.data) return false;
    std::memcpy(out.own.data, bytes, size);
    out.fd = out.own.fd.get();
    out.size = out.own.size;
    return true;
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
std::size_t pixel_block_size() noexcept { return pixel_block().size(); }

Outcome load(const char* path, Loaded& out, Unavailable& unavailable) {
    unavailable = Unavailable::none;
    finish(Outcome::refused);
    if (!path || !*path) return Outcome::refused;
    // The helper has a working directory of its own: a relative path means the host's, now.
    std::string absolute;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return Outcome::refused;
        absolute = std::string(cwd) + (cwd[1] ? "/" : "") + path;
        path = absolute.c_str();
    }
    const std::size_t length = std::strlen(path);
    if (length > max_path_length) return Outcome::refused;

    Request request;
    request.task = Task::load;
    request.path_length = static_cast<std::uint32_t>(length);
    request.settings = capture_settings({});
    PixelBlock& block = pixel_block();
    Answer answer;
    const Outcome outcome = ask(request, path, length, block.fd(), block.size(), answer, unavailable);
    if (outcome != Outcome::done) return outcome;

    const Properties& p = answer.reply.properties;
    const std::size_t bytes = static_cast<std::size_t>(answer.reply.data_bytes);
    memory::Buffer rgb;
    if (answer.verdict == Verdict::pixels_in_block) {
        rgb = memory::Buffer(bytes);
        std::memcpy(rgb.data(), block.data(), bytes);
    } else if (answer.verdict == Verdict::pixels_in_fd) {
        rgb = memory::Buffer(bytes);
        if (!read_pixels(answer.fd.get(), rgb.data(), bytes)) return finish(Outcome::broken);
        block.grow_to(bytes);
    }
    static_cast<Properties&>(out) = p;
    out.rgb = std::move(rgb);
    return Outcome::done;
}

Outcome save(const std::uint8_t* rgb, std::int32_t width, std::int32_t height, ILenum type, const char* name,
             const KeyColour& key_colour, Encoded& out, Unavailable& unavailable) {
    unavailable = Unavailable::none;
    finish(Outcome::refused);
    out.devil_error = IL_NO_ERROR;
    if (width <= 0 || height <= 0 || !pixels_fit(width, height) || !rgb) {
        out.devil_error = IL_INVALID_PARAM;
        return Outcome::refused;
    }
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    const std::size_t length = name ? std::strlen(name) : 0;
    if (type == IL_TYPE_UNKNOWN && (length == 0 || length > max_path_length)) {
        out.devil_error = name ? IL_INVALID_EXTENSION : IL_INVALID_ENUM;
        return Outcome::refused;
    }
    PixelsOut pixels;
    if (!put_pixels(rgb, bytes, pixels)) return finish(Outcome::out_of_memory);

    Request request;
    request.task = Task::save;
    request.save_type = type;
    request.width = width;
    request.height = height;
    request.data_bytes = bytes;
    request.path_length = type == IL_TYPE_UNKNOWN ? static_cast<std::uint32_t>(length) : 0;
    request.settings = capture_settings(key_colour);
    Answer answer;
    const Outcome outcome = ask(request, name, request.path_length, pixels.fd, pixels.size, answer, unavailable);
    if (outcome != Outcome::done) {
        if (answer.verdict == Verdict::failed) out.devil_error = answer.reply.devil_error;
        return outcome;
    }
    const std::size_t file_bytes = static_cast<std::size_t>(answer.reply.data_bytes);
    memory::Buffer file(file_bytes);
    if (file_bytes && !read_pixels(answer.fd.get(), file.data(), file_bytes)) return finish(Outcome::broken);
    out.file = std::move(file);
    return Outcome::done;
}

Outcome detect(const std::uint8_t* bytes, std::size_t size, ILenum& type, Unavailable& unavailable) {
    unavailable = Unavailable::none;
    finish(Outcome::refused);
    type = IL_TYPE_UNKNOWN;
    if (!bytes || size == 0) return Outcome::done;
    PixelsOut pixels;
    if (!put_pixels(bytes, size, pixels)) return finish(Outcome::out_of_memory);
    Request request;
    request.task = Task::detect;
    request.data_bytes = size;
    request.settings = capture_settings({});
    Answer answer;
    const Outcome outcome = ask(request, nullptr, 0, pixels.fd, pixels.size, answer, unavailable);
    if (outcome == Outcome::done) type = static_cast<ILenum>(answer.reply.detected_type);
    return outcome;
}

}  // namespace ombrix::helper
