// ombrix-decode: the process in which libombrix.so's loads, saves and type detections meet DevIL.
//
// The library starts it once, with its channel on fd 3, and sends it one request at a time. For
// each request it forks a fresh child from its own clean state (DevIL initialised, no image ever
// touched), so no file is decoded or encoded where another one was, and the library pays for a
// fork instead of an exec. The child sets its limits, takes on the library's DevIL settings, does
// the work and answers through shared memory. This process watches it: a child that crashes, runs
// past its wall-clock or CPU limit, or answers wrongly is killed, always reaped, and reported as
// such. It does no DevIL work itself, so its own state never sees a hostile file. It ends when its
// channel closes or when the library's process ends, whichever thread of it started this one.
#include <IL/il.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "helper/core.hpp"
#include "helper/protocol.hpp"

namespace {

using namespace ombrix;
using namespace ombrix::helper;

void set_limit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    setrlimit(resource, &limit);
}

// The block of a save or a detection, mapped read-only; null when it does not hold `bytes`.
const std::uint8_t* map_block(int block, std::uint64_t bytes) {
    struct stat info {};
    if (block < 0 || bytes == 0 || fstat(block, &info) != 0 || static_cast<std::uint64_t>(info.st_size) < bytes)
        return nullptr;
    void* p = mmap(nullptr, static_cast<std::size_t>(bytes), PROT_READ, MAP_SHARED | MAP_POPULATE, block, 0);
    return p == MAP_FAILED ? nullptr : static_cast<const std::uint8_t*>(p);
}

void load(const Request& request, const char* path, int block, Reply& reply, UniqueFd& own_block) {
    ILuint image = 0;
    ilGenImages(1, &image);
    ilBindImage(image);
    // The pixels are copied straight into shared memory: the library's block when they fit, a
    // block of their own otherwise. The mapping is populated at once, so this fresh process takes
    // no page fault per 4 KiB page.
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
    (void)request;
    if (reply.outcome == Outcome::done) {
        reply.in_block = written && !own_block ? 1 : 0;
        reply.data_bytes = written;
    } else {
        own_block.reset();
    }
}

// Encodes into a file in a fresh private directory and copies it into `into`.
ILenum encode_through_directory(const std::uint8_t* rgb, const Request& request, ILenum type, int into) {
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/ombrix-XXXXXX";
    if (!mkdtemp(dir.data())) return IL_COULD_NOT_OPEN_FILE;
    const std::string path = dir + "/image.h";
    ILenum error = encode_with_devil(rgb, request.width, request.height, type, path.c_str());
    const int from = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    unlink(path.c_str());
    rmdir(dir.c_str());
    if (from < 0) return error != IL_NO_ERROR ? error : IL_COULD_NOT_OPEN_FILE;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (write(into, buffer, static_cast<std::size_t>(n)) != n) {
            error = IL_FILE_WRITE_ERROR;
            break;
        }
    }
    close(from);
    return error;
}

void save(const Request& request, const char* name, int block, Reply& reply, UniqueFd& file) {
    const std::uint8_t* rgb = map_block(block, request.data_bytes);
    const auto side = [](std::int32_t n) { return static_cast<std::uint64_t>(n > 0 ? n : 0); };
    const std::uint64_t expected = side(request.width) * side(request.height) * 3;
    if (!rgb || request.data_bytes != expected) {
        reply.outcome = Outcome::refused;
        reply.devil_error = IL_INVALID_PARAM;
        return;
    }
    const ILenum type =
        request.save_type != IL_TYPE_UNKNOWN ? static_cast<ILenum>(request.save_type) : save_type_of_name(name);
    // DevIL writes to a path: the memfd's own, so that the file never touches a disk here. The C
    // header writer insists on a name ending in ".h", so it writes into a private directory and
    // the file is moved into the memfd.
    file.reset(memfd_create("ombrix-encoded", MFD_CLOEXEC));
    ILenum error = IL_OUT_OF_MEMORY;
    if (file && type == IL_CHEAD) {
        error = encode_through_directory(rgb, request, type, file.get());
    } else if (file) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", file.get());
        error = encode_with_devil(rgb, request.width, request.height, type, path);
    }
    struct stat info {};
    if (error != IL_NO_ERROR || fstat(file.get(), &info) != 0) {
        file.reset();
        reply.outcome = Outcome::refused;
        reply.devil_error = error != IL_NO_ERROR ? error : IL_COULD_NOT_OPEN_FILE;
        return;
    }
    reply.outcome = Outcome::done;
    reply.data_bytes = static_cast<std::uint64_t>(info.st_size);
}

void detect(const Request& request, int block, Reply& reply) {
    const std::uint8_t* bytes = map_block(block, request.data_bytes);
    reply.outcome = Outcome::done;
    reply.detected_type = bytes ? static_cast<std::int32_t>(detect_with_devil(bytes, request.data_bytes)) : 0;
}

// The child: limits first, then DevIL. Never returns.
[[noreturn]] void work_and_exit(int channel, const Request& request, const char* path, int block, pid_t watcher) {
    const rlim_t cpu = request.cpu_seconds ? request.cpu_seconds : 1;
    set_limit(RLIMIT_CPU, cpu, cpu + 1);
    set_limit(RLIMIT_AS, request.address_space, request.address_space);
    set_limit(RLIMIT_CORE, 0, 0);
    // The encoded file and the pixels live in memfds, which count against the file-size limit the
    // host may have lowered; the files themselves are written by the host, under its own limit.
    rlimit fsize{};
    if (getrlimit(RLIMIT_FSIZE, &fsize) == 0) set_limit(RLIMIT_FSIZE, fsize.rlim_max, fsize.rlim_max);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (getppid() != watcher) _exit(1);

    apply_settings(request.settings);
    Reply reply;
    reply.sequence = request.sequence;
    UniqueFd attached;
    switch (request.task) {
        case Task::load:
            load(request, path, block, reply, attached);
            break;
        case Task::save:
            save(request, path, block, reply, attached);
            break;
        case Task::detect:
            detect(request, block, reply);
            break;
    }
    send_message(channel, &reply, sizeof reply, nullptr, 0, attached ? attached.get() : -1);
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
    failed.sequence = request.sequence;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        failed.outcome = Outcome::out_of_memory;
        return send_message(channel_fd, &failed, sizeof failed);
    }
    UniqueFd mine(pair[0]);
    UniqueFd theirs(pair[1]);
    // The library's clock started before the request reached this process: a little is kept back
    // so that a child past its time is reported as timed out before the library stops waiting.
    const auto wall = std::chrono::milliseconds(request.wall_ms);
    const auto deadline =
        Clock::now() + wall - std::min<std::chrono::milliseconds>(wall / 10, std::chrono::milliseconds(200));
    const pid_t watcher = getpid();
    const pid_t child = fork();
    if (child < 0) {
        failed.outcome = Outcome::out_of_memory;
        return send_message(channel_fd, &failed, sizeof failed);
    }
    if (child == 0) {
        close(channel_fd);
        mine.reset();
        work_and_exit(theirs.get(), request, path, block, watcher);
    }
    theirs.reset();

    Reply reply;
    UniqueFd attached;
    const long got = receive_message(mine.get(), &reply, sizeof reply, &attached, deadline);
    const bool answered = got == static_cast<long>(sizeof reply) && reply.magic == protocol_magic &&
                          reply.sequence == request.sequence && reply.outcome <= Outcome::out_of_memory;
    if (answered) {
        // The reply is the child's last act; the library can have it while the child exits. The
        // library judges it in full.
        const bool sent = send_message(channel_fd, &reply, sizeof reply, nullptr, 0, attached ? attached.get() : -1);
        attached.reset();
        reap(child, mine.get(), deadline, false);
        return sent;
    }
    attached.reset();
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

// Waits for the next request; false when the library's process has ended. A pidfd tells at once;
// without one the parent is looked at once a second (when the process ends, this one is adopted
// by another; when only the thread that started it ends, it is not).
bool wait_for_request(pid_t host, int host_fd) {
    for (;;) {
        pollfd p[2] = {{channel_fd, POLLIN, 0}, {host_fd, POLLIN, 0}};
        const int n = poll(p, host_fd >= 0 ? 2 : 1, 1000);
        if (n < 0 && errno != EINTR) return false;
        if (getppid() != host) return false;
        if (n > 0 && host_fd >= 0 && (p[1].revents & POLLIN)) return false;
        if (n > 0 && p[0].revents) return true;
    }
}

}  // namespace

int main(int argc, char** argv) {
    closefrom(channel_fd + 1);
    if (argc < 2) return 1;
    const auto host = static_cast<pid_t>(std::strtol(argv[1], nullptr, 10));
    if (getppid() != host) return 1;
    signal(SIGPIPE, SIG_IGN);
#ifdef SYS_pidfd_open
    const int host_fd = static_cast<int>(syscall(SYS_pidfd_open, host, 0));
#else
    const int host_fd = -1;
#endif

    install_devil_memory();
    ilInit();
    const Hello hello;
    if (!send_message(channel_fd, &hello, sizeof hello)) return 1;

    alignas(Request) char buffer[sizeof(Request) + max_path_length + 1];
    while (wait_for_request(host, host_fd)) {
        UniqueFd block;
        const long got = receive_message(channel_fd, buffer, sizeof buffer - 1, &block, Clock::time_point::max());
        if (got <= 0) return 0;
        Request request;
        bool valid = false;
        if (static_cast<std::size_t>(got) >= sizeof request && static_cast<std::size_t>(got) < sizeof buffer) {
            std::memcpy(&request, buffer, sizeof request);
            const std::size_t length = static_cast<std::size_t>(got) - sizeof request;
            valid = request.magic == protocol_magic && request.path_length == length && length <= max_path_length &&
                    (request.task == Task::load || request.task == Task::save || request.task == Task::detect);
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
    return 0;
}
