#include "io/atomic_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

#include "common/errors.hpp"

namespace zorv::io {

namespace {

std::filesystem::path temp_name_for(const std::filesystem::path& target, unsigned salt) {
    // A hidden sibling of the target: same directory, so rename() is atomic.
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", salt);
    std::string name(".");
    name.append(target.filename().native());
    name.append(suffix);
    return target.parent_path() / name;
}

}  // namespace

atomic_file::atomic_file(std::filesystem::path target) : target_(std::move(target)) {
    if (target_.filename().empty()) {
        throw os_error(target_.empty() ? ENOENT : EISDIR, target_.string());
    }
    std::random_device entropy;
    for (int attempt = 0; attempt < 64; ++attempt) {
        temp_ = temp_name_for(target_, entropy());
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            return;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    const int code = errno;
    temp_.clear();
    throw os_error(code, target_.string());
}

atomic_file::~atomic_file() { discard(); }

void atomic_file::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

void atomic_file::fail(int code) {
    discard();
    throw os_error(code, target_.string());
}

void atomic_file::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void atomic_file::commit() {
    // close() can report a delayed write error (NFS, quota): a file is kept only if it is clean.
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fail(errno);
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        fail(errno);
    }
    temp_.clear();
}

}  // namespace zorv::io
