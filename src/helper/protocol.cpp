// The channel between the library and its helper process: DevIL settings captured on one side
// and applied on the other, and whole messages with an optional descriptor over a seqpacket socket.
#include "helper/protocol.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstring>

namespace ombrix::helper {

DevilSettings capture_settings(const KeyColour& key_colour) noexcept {
    DevilSettings s;
    for (std::size_t i = 0; i < devil_switches.size(); ++i) s.switches[i] = ilIsEnabled(devil_switches[i]) ? 1 : 0;
    for (std::size_t i = 0; i < devil_integers.size(); ++i) s.integers[i] = ilGetInteger(devil_integers[i]);
    s.key_colour = key_colour.rgba;
    s.key_colour_set = key_colour.set ? 1 : 0;
    for (std::size_t i = 0; i < devil_strings.size(); ++i) {
        const char* text = ilGetString(devil_strings[i]);
        s.string_set[i] = text ? 1 : 0;
        const std::size_t n = text ? strnlen(text, max_string_length) : 0;
        if (n) std::memcpy(s.strings[i].data(), text, n);
        s.strings[i][n] = 0;
    }
    return s;
}

void apply_settings(const DevilSettings& s) noexcept {
    for (std::size_t i = 0; i < devil_switches.size(); ++i) {
        if (s.switches[i])
            ilEnable(devil_switches[i]);
        else
            ilDisable(devil_switches[i]);
    }
    for (std::size_t i = 0; i < devil_integers.size(); ++i) {
        // The compression mode has a setter of its own.
        if (devil_integers[i] == IL_COMPRESS_MODE)
            ilCompressFunc(static_cast<ILenum>(s.integers[i]));
        else
            ilSetInteger(devil_integers[i], s.integers[i]);
    }
    if (s.key_colour_set) ilKeyColour(s.key_colour[0], s.key_colour[1], s.key_colour[2], s.key_colour[3]);
    for (std::size_t i = 0; i < devil_strings.size(); ++i) {
        if (!s.string_set[i]) continue;
        // Whatever arrives, the text ends within its field.
        std::array<char, max_string_length + 1> text = s.strings[i];
        text[max_string_length] = 0;
        ilSetString(devil_strings[i], text.data());
    }
}

int above_standard_streams(int fd) noexcept {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return moved;
}

bool send_message(int socket, const void* head, std::size_t head_size, const void* tail, std::size_t tail_size,
                  int pass_fd) noexcept {
    iovec parts[2] = {{const_cast<void*>(head), head_size}, {const_cast<void*>(tail), tail_size}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = tail_size ? 2 : 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (pass_fd >= 0) {
        std::memset(control, 0, sizeof control);
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &pass_fd, sizeof(int));
    }
    ssize_t sent;
    do {
        sent = sendmsg(socket, &msg, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0 && static_cast<std::size_t>(sent) == head_size + tail_size;
}

bool wait_readable(int socket, Clock::time_point deadline) noexcept {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) return false;
        pollfd p{socket, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(left > 1'000'000 ? 1'000'000 : left));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return true;  // let the read report the error
        if (n == 0 && Clock::now() >= deadline) return false;
    }
}

long receive_message(int socket, void* buffer, std::size_t capacity, UniqueFd* fd,
                     Clock::time_point deadline) noexcept {
    if (fd) fd->reset();
    if (!wait_readable(socket, deadline)) return -1;
    iovec part{buffer, capacity};
    msghdr msg{};
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    // Room for a few descriptors, so that a misbehaving peer's extra ones arrive and can be closed.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 8)];
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    bool kept = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
            received = above_standard_streams(received);
            if (!kept && fd) {
                fd->reset(received);
                kept = true;
            } else {
                ::close(received);
            }
        }
    }
    if (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) {
        if (fd) fd->reset();
        return static_cast<long>(capacity) + 1;
    }
    return static_cast<long>(got);
}

}  // namespace ombrix::helper
