// AtomicFile: temporary file, checked writes, fsync, rename, fsync of the directory.
#include "files/atomic_file.hpp"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace ombrix::files {
namespace {

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Descriptors 0 to 2 belong to the host's standard streams even when it has closed them: a file
// opened there would receive whatever the host later prints.
int above_standard_streams(int fd) noexcept {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    close(fd);
    errno = saved;
    return moved;
}

}  // namespace

AtomicFile::AtomicFile(const char* target) {
    if (!target || !*target) {
        error_ = ENOENT;
        return;
    }
    target_ = target;
    const auto slash = target_.rfind('/');
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (base.empty()) {
        error_ = EISDIR;
        return;
    }
    std::string name = target_.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".ombrix-XXXXXX-" + base;
    const int fd = above_standard_streams(mkostemps(name.data(), static_cast<int>(base.size() + 1), O_CLOEXEC));
    if (fd < 0) {
        error_ = errno ? errno : EIO;
        return;
    }
    fd_ = fd;
    temporary_ = std::move(name);
    // mkostemps makes the file private to its owner; give it the mode the target has, or the one a
    // freshly created file would get.
    struct stat existing {};
    if (stat(target_.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            set_error(EISDIR);
            return;
        }
        fchmod(fd_, existing.st_mode & 07777);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask);
    }
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::set_error(int error) noexcept {
    if (error_ == 0) error_ = error ? error : EIO;
}

bool AtomicFile::write(const void* bytes, std::size_t n) noexcept {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    while (error_ == 0 && n > 0) {
        const ssize_t done = ::write(fd_, p, n);
        if (done < 0 && errno == EINTR) continue;
        // A write that makes no progress is a full disk as well.
        if (done <= 0) {
            set_error(done < 0 ? errno : ENOSPC);
            break;
        }
        p += done;
        n -= static_cast<std::size_t>(done);
    }
    return error_ == 0;
}

bool AtomicFile::commit() noexcept {
    if (error_ == 0 && fsync(fd_) != 0) set_error(errno);
    if (fd_ >= 0 && close(fd_) != 0 && error_ == 0) set_error(errno);
    fd_ = -1;
    if (error_ == 0 && std::rename(temporary_.c_str(), target_.c_str()) != 0) set_error(errno);
    if (error_ != 0) {
        discard();
        return false;
    }
    temporary_.clear();
    // The rename itself is on disk only once the directory is.
    const int dir = open(directory_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

void AtomicFile::discard() noexcept {
    if (fd_ < 0 && temporary_.empty()) return;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
    set_error(ECANCELED);
}

std::string write_failure_text(const std::string& target, int error) {
    return "Could not write " + target + ": " + std::strerror(error);
}

}  // namespace ombrix::files
