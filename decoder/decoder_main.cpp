// ombrix-decode: the process in which libombrix.so's image loads meet DevIL.
//
// The library starts it once, with its channel on fd 3, and sends it one request per load. For
// each request it forks a fresh child from its own clean state (DevIL initialised, no image ever
// loaded), so no file is decoded where another one was, and the library pays for a fork instead of
// an exec. The child sets its limits, takes on the library's DevIL settings, loads the file and
// copies its pixels as RGB into a shared-memory block. This process watches it: a child that
// crashes, runs past its wall-clock or CPU limit, or answers wrongly is killed, always reaped, and
// reported as such. It decodes nothing itself, so its own state never sees a hostile file.
#include <IL/il.h>
#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "store/decoder_core.hpp"
#include "store/decoder_protocol.hpp"
#include "store/memory.hpp"

namespace {

using namespace ombrix;
using namespace ombrix::decoder;

void* devil_allocate(const ILsizei size) { return memory::allocate(static_cast<std::size_t>(size)); }
void devil_release(const void* block) { memory::release(block); }

void set_limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    setrlimit(resource, &limit);
}

// The child: limits first, then DevIL. Never returns.
[[noreturn]] void decode_and_exit(int channel, const Request& request, const char* path, int block, pid_t watcher) {
    const rlim_t cpu = request.cpu_seconds ? request.cpu_seconds : 1;
    set_limit(RLIMIT_CPU, cpu, cpu + 1);
    set_limit(RLIMIT_AS, request.address_space, request.address_space);
    set_limit(RLIMIT_CORE, 0, 0);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (getppid() != watcher) _exit(1);

    apply_load_settings(request.settings);
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    Reply reply;
    // The pixels are copied straight into shared memory: the library's block when they fit, a
    // block of their own otherwise. The mapping is populated at once, so this fresh process takes
    // no page fault per 4 KiB page.
    UniqueFd own_block;
    std::size_t written = 0;
    reply.outcome = decode_with_devil(path, reply.properties, [&](std::size_t bytes) -> std::uint8_t* {
        struct stat info {};
        int fd = block;
        if (fd < 0 || fstat(fd, &info) != 0 || static_cast<std::uint64_t>(info.st_size) < bytes) {
            own_block.reset(memfd_create("ombrix-pixels", MFD_CLOEXEC));
            if (!own_block || ftruncate(own_block.get(), static_cast<off_t>(bytes)) != 0) return nullptr;
            fd = own_block.get();
        }
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (p == MAP_FAILED) return nullptr;
        written = bytes;
        return static_cast<std::uint8_t*>(p);
    });
    if (reply.outcome == Outcome::loaded && written) {
        reply.in_block = own_block ? 0 : 1;
        reply.pixel_bytes = written;
    }
    if (reply.outcome != Outcome::loaded) reply.pixel_bytes = 0;
    send_message(channel, &reply, sizeof reply, nullptr, 0, own_block ? own_block.get() : -1);
    _exit(0);
}

bool cpu_limit_reached(const rusage& usage, std::uint32_t cpu_seconds) {
    const double used = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return used >= static_cast<double>(cpu_seconds ? cpu_seconds : 1) * 0.95;
}

struct Ending {
    int status = 0;
    rusage usage{};
    bool killed = false;  // by this process, at the deadline or for misbehaving
};

// Reaps the child, killing it at once or when it has not exited by the deadline. Its end of the
// channel closes as it exits, so that is waited for first, without spinning.
Ending reap(pid_t child, int channel, Clock::time_point deadline, bool kill_now) {
    Ending e;
    if (!kill_now) {
        char extra;
        while (receive_message(channel, &extra, sizeof extra, nullptr, deadline) > 0) {
        }
        for (;;) {
            const pid_t r = wait4(child, &e.status, WNOHANG, &e.usage);
            if (r == child) return e;
            if (r < 0 && errno != EINTR) return e;
            if (Clock::now() >= deadline) break;
            usleep(100);
        }
    }
    kill(child, SIGKILL);
    e.killed = true;
    while (wait4(child, &e.status, 0, &e.usage) < 0 && errno == EINTR) {
    }
    return e;
}

// Runs one request in a fresh child, watches it and answers the library.
bool serve(const Request& request, const char* path, int block) {
    Reply failed;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        failed.outcome = Outcome::out_of_memory;
        return send_message(channel_fd, &failed, sizeof failed);
    }
    UniqueFd mine(pair[0]);
    UniqueFd theirs(pair[1]);
    const auto deadline = Clock::now() + std::chrono::milliseconds(request.wall_ms);
    const pid_t watcher = getpid();
    const pid_t child = fork();
    if (child < 0) {
        failed.outcome = Outcome::out_of_memory;
        return send_message(channel_fd, &failed, sizeof failed);
    }
    if (child == 0) {
        close(channel_fd);
        mine.reset();
        decode_and_exit(theirs.get(), request, path, block, watcher);
    }
    theirs.reset();

    Reply reply;
    UniqueFd pixels;
    const long got = receive_message(mine.get(), &reply, sizeof reply, &pixels, deadline);
    const bool answered = got == static_cast<long>(sizeof reply) && reply.magic == protocol_magic &&
                          reply.outcome <= Outcome::out_of_memory &&
                          (reply.outcome != Outcome::loaded || reply.pixel_bytes == 0 ||
                           (reply.in_block ? block >= 0 && !pixels : static_cast<bool>(pixels)));
    if (answered) {
        // The reply is the child's last act; the library can have it while the child exits.
        if (reply.outcome != Outcome::loaded) {
            reply.pixel_bytes = 0;
            reply.in_block = 0;
        }
        const bool sent =
            send_message(channel_fd, &reply, sizeof reply, nullptr, 0, reply.pixel_bytes ? pixels.get() : -1);
        pixels.reset();
        reap(child, mine.get(), deadline, false);
        return sent;
    }
    pixels.reset();
    // No proper reply: the child died (its end closed), timed out, or sent something else.
    const Ending e = reap(child, mine.get(), deadline, got != 0);
    failed.signal = WIFSIGNALED(e.status) ? WTERMSIG(e.status) : 0;
    const bool past_deadline = Clock::now() >= deadline;
    if (got > 0) {
        failed.outcome = Outcome::broken;
    } else if ((e.killed && past_deadline) || failed.signal == SIGXCPU ||
               (failed.signal == SIGKILL && cpu_limit_reached(e.usage, request.cpu_seconds))) {
        failed.outcome = Outcome::timed_out;
    } else {
        failed.outcome = Outcome::crashed;
    }
    return send_message(channel_fd, &failed, sizeof failed);
}

}  // namespace

int main(int argc, char** argv) {
    closefrom(channel_fd + 1);
    // Ends with the library's process, even when a copy of the channel lives on in a fork of it.
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (argc < 2 || getppid() != static_cast<pid_t>(std::strtol(argv[1], nullptr, 10))) return 1;
    signal(SIGPIPE, SIG_IGN);

    ilSetMemory(devil_allocate, devil_release);
    ilInit();
    const Hello hello;
    if (!send_message(channel_fd, &hello, sizeof hello)) return 1;

    alignas(Request) char buffer[sizeof(Request) + max_path_length + 1];
    for (;;) {
        UniqueFd block;
        const long got = receive_message(channel_fd, buffer, sizeof buffer - 1, &block, Clock::time_point::max());
        if (got <= 0) return 0;
        Request request;
        bool valid = false;
        if (static_cast<std::size_t>(got) >= sizeof request) {
            std::memcpy(&request, buffer, sizeof request);
            const std::size_t length = static_cast<std::size_t>(got) - sizeof request;
            valid = request.magic == protocol_magic && request.path_length == length && length <= max_path_length;
        }
        if (valid) {
            buffer[got] = 0;
            if (!serve(request, buffer + sizeof request, block.get())) return 0;
        } else {
            Reply reply;
            reply.outcome = Outcome::broken;
            if (!send_message(channel_fd, &reply, sizeof reply)) return 0;
        }
    }
}
