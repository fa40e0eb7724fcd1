#include "io/atomic_file.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "common/errors.hpp"
#include "common/free_aside.hpp"
#include "common/interrupt.hpp"

namespace zorv::io {

namespace {

// Part of the target's name kept in the temporary name: enough to tell whose it is, short
// enough that a legal name (up to 255 bytes) still gives a legal temporary name.
constexpr std::size_t kept_name_bytes = 64;

std::filesystem::path temp_name_for(const std::filesystem::path& target, unsigned salt) {
    // A hidden sibling of the target: same directory, so rename() is atomic.
    std::string name(".");
    std::string base = target.filename().native();
    if (base.size() > kept_name_bytes) {
        std::size_t cut = kept_name_bytes;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a UTF-8 character
        }
        base.resize(cut);
    }
    name.append(base);
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", salt);
    name.append(suffix);
    return target.parent_path() / name;
}

// Tries `create` (0 or an errno) with fresh temporary names for `target` until one is free;
// `name` holds the name taken, or is empty when the last errno is returned.
template <class Create>
int claim_temp_name(const std::filesystem::path& target, std::filesystem::path& name, Create create) {
    std::random_device entropy;
    int code = EEXIST;
    for (int attempt = 0; attempt < 64 && code == EEXIST; ++attempt) {
        name = temp_name_for(target, entropy());
        code = create(name);
    }
    if (code != 0) {
        name.clear();
    }
    return code;
}

// The file that `path` names once symbolic links at its end are followed (a dangling link
// names the file it would point to).
std::filesystem::path follow_links(std::filesystem::path path) {
    for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return path;
        }
        std::error_code ec;
        const std::filesystem::path link = std::filesystem::read_symlink(path, ec);
        if (ec) {
            throw os_error(ec.value(), path.string());
        }
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    throw os_error(ELOOP, path.string());
}

// Gives the new file the owner and mode of the regular file it replaces; 0 or an errno.
int keep_owner_and_mode(int fd, const std::filesystem::path& target) {
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) {
        return 0;  // nothing is replaced
    }
    struct stat fresh {};
    if (::fstat(fd, &fresh) != 0) {
        return errno;
    }
    if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        return errno;  // a file is not silently handed to another owner
    }
    // After fchown, which may clear the set-user-ID and set-group-ID bits.
    return ::fchmod(fd, old.st_mode & 07777) != 0 ? errno : 0;
}

std::filesystem::path directory_of(const std::filesystem::path& target) {
    return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

// Makes the rename durable. The file is saved by then, so a failure here (some file systems
// cannot sync a directory) is not reported.
void sync_directory(const std::filesystem::path& dir) noexcept {
    int fd = -1;
    do {
        fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return;
    }
    while (::fsync(fd) != 0 && errno == EINTR) {
    }
    ::close(fd);
}

// A FIFO with no reader yet, or with a full pipe, is waited for in slices of this many
// milliseconds with a look for Ctrl-C after each: the signal ends a slice at once when it
// reaches this thread, and the slice bounds the delay when it reaches another thread or comes
// just before the wait begins.
constexpr int stream_wait_ms = 1;

// Waits one slice for `fd` to be ready for `events` (just waits when `fd` is -1).
void wait_for_stream(int fd, short events) {
    pollfd watched{fd, events, 0};
    ::poll(&watched, fd < 0 ? 0 : 1, stream_wait_ms);  // EINTR, a timeout or readiness alike
    poll_interrupt();
}

// Opens a FIFO or a character device for writing, without blocking: a blocked open() or
// write() would hold a Ctrl-C up until a stalled reader reads or exits. -1 when the path is
// not one (any more).
int open_stream(const std::filesystem::path& target, const std::filesystem::path& shown) {
    int fd = -1;
    while ((fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)) < 0) {
        const int code = errno;
        struct stat st {};
        if (code == ENXIO && ::stat(target.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
            wait_for_stream(-1, 0);  // a FIFO with no reader yet: waits for one
        } else if (code == EINTR) {
            poll_interrupt();
        } else {
            throw os_error(code, shown.string());
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);  // replaced since it was looked at: take the atomic way
        return -1;
    }
    return fd;
}

// A file in the target's directory that has no name yet, so that a process killed while
// writing leaves nothing behind; -1 where the file system or the kernel has no such files.
int open_unnamed(const std::filesystem::path& target) {
#ifdef O_TMPFILE
    return ::open(directory_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)target;
    return -1;
#endif
}

// Gives the unnamed file `fd` the name `name`; 0 or an errno (EEXIST when the name is taken).
int name_unnamed(int fd, const std::filesystem::path& name) {
#ifdef O_TMPFILE
    char proc[32];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return 0;
    }
    if (errno != ENOENT) {
        return errno;
    }
    // No /proc: linking the descriptor itself, which needs the right to search any directory.
    return ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
#else
    (void)fd;
    (void)name;
    return ENOTSUP;
#endif
}

// A reference to the file a rename is about to replace: were the rename to drop the last
// one, the kernel would free the file's blocks inside rename() without a break for Ctrl-C
// (tens of milliseconds for hundreds of megabytes). -1 when there is none.
int hold_replaced(const std::filesystem::path& target) {
#ifdef O_PATH
    return ::open(target.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
#else
    (void)target;
    return -1;
#endif
}

// Closes `fd`, the last reference to a file of `bytes` with no name left: closing frees its
// blocks, on another thread for a large file.
void close_freeing(int fd, std::uint64_t bytes) noexcept {
    if (bytes > freed_inline_bytes) {
        run_aside([fd] { ::close(fd); });
    } else {
        ::close(fd);
    }
}

void release_replaced(int fd) noexcept {
    if (fd < 0) {
        return;
    }
    struct stat st {};
    const bool unlinked = ::fstat(fd, &st) == 0 && st.st_nlink == 0;
    close_freeing(fd, unlinked ? static_cast<std::uint64_t>(st.st_blocks) * 512 : 0);
}

}  // namespace

atomic_file::atomic_file(std::filesystem::path target)
    : shown_(std::move(target)), target_(follow_links(shown_)) {
    if (target_.filename().empty()) {
        throw os_error(target_.empty() ? ENOENT : EISDIR, shown_.string());
    }
    // A rename would put a regular file in the place of a FIFO or a device.
    struct stat st {};
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            throw os_error(EISDIR, shown_.string());
        }
        if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode)) {
            throw value_error("'" + shown_.string() +
                              "' is neither a regular file, a FIFO nor a character device: it is not written");
        }
        fd_ = open_stream(target_, shown_);
        if (fd_ >= 0) {
            direct_ = true;
            return;
        }
    }
    fd_ = open_unnamed(target_);
    unnamed_ = fd_ >= 0;
    if (!unnamed_) {
        // A named temporary file instead; its failure is the one reported.
        const int code = claim_temp_name(target_, temp_, [this](const std::filesystem::path& name) {
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return fd_ >= 0 ? 0 : errno;
        });
        if (code != 0) {
            // The system's text would speak of the directory: "not found" for a file that exists.
            throw os_error(code, shown_.string(),
                           exists ? "the file cannot be replaced: no new file can be made beside it" : "");
        }
    }
    if (const int code = keep_owner_and_mode(fd_, target_); code != 0) {
        fail(code);
    }
}

atomic_file::~atomic_file() { discard(); }

void atomic_file::discard() noexcept {
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    if (fd_ >= 0) {
        close_freeing(std::exchange(fd_, -1), written_);
    }
}

void atomic_file::fail(int code) {
    discard();
    throw os_error(code, shown_.string());
}

// Bytes a file takes before they are sent to the disk (see write_back).
constexpr std::uint64_t write_back_bytes = std::uint64_t{8} << 20;

void atomic_file::write_back() {
#ifdef __linux__
    // The closing fsync waits for all that is still unwritten, and cannot be interrupted: so
    // the bytes go to the disk a slice at a time as they come, each slice waited for while
    // the next is written, and Ctrl-C is asked between. Failures here are the fsync's to report.
    if (written_ - sent_ < write_back_bytes) return;
    if (sent_ > waited_) {
        ::sync_file_range(fd_, static_cast<off_t>(waited_), static_cast<off_t>(sent_ - waited_),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        waited_ = sent_;
        poll_interrupt();
    }
    ::sync_file_range(fd_, static_cast<off_t>(sent_), static_cast<off_t>(written_ - sent_), SYNC_FILE_RANGE_WRITE);
    sent_ = written_;
#endif
}

void atomic_file::write(std::string_view bytes) {
    if (!direct_) {
        written_ += bytes.size();
    }
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                wait_for_stream(fd_, POLLOUT);  // a reader that does not read must not hold Ctrl-C up
                continue;
            }
            if (errno == EINTR) {
                poll_interrupt();
                continue;
            }
            fail(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (!direct_) {
        write_back();
    }
}

void atomic_file::commit(const std::function<void()>& before_rename) {
    if (direct_) {
        // Written as it went: nothing to sync or rename.
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR) {
            fail(errno);
        }
        if (before_rename) {
            before_rename();
        }
        return;
    }
#ifdef __linux__
    // The last slices, waited for before the fsync that cannot be interrupted.
    ::sync_file_range(fd_, static_cast<off_t>(waited_), static_cast<off_t>(written_ - waited_),
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    poll_interrupt();
#endif
    if (::fsync(fd_) != 0) {
        fail(errno);
    }
    if (before_rename) {
        before_rename();  // a throw leaves the temporary file to the destructor
    }
    if (unnamed_) {
        // Named only now that it is complete and synced, and only until the rename.
        if (const int code = claim_temp_name(target_, temp_, [this](const std::filesystem::path& name) {
                return name_unnamed(fd_, name);
            });
            code != 0) {
            fail(code);
        }
    }
    // close() can report a delayed write error (NFS, quota): a file is kept only if it is clean.
    // The descriptor is gone whatever it returns; EINTR leaves the synced data intact.
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        fail(errno);
    }
    const int replaced = hold_replaced(target_);
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        const int code = errno;
        release_replaced(replaced);
        fail(code);
    }
    temp_.clear();
    release_replaced(replaced);
    sync_directory(directory_of(target_));
}

}  // namespace zorv::io
