#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

namespace zorv::io {

// A file that appears under its name complete or not at all: bytes go to a fresh
// temporary file in the same directory, and commit() renames it over the target. Where the
// file system allows, that file has no name until it is complete and synced, so a process
// killed while writing leaves nothing behind.
// A symbolic link at the given path is followed: the file it points to is replaced and the
// link stays. A replaced file's mode and owner carry over to the new one.
// Until commit() renames, destruction removes the temporary file.
class atomic_file {
public:
    explicit atomic_file(std::filesystem::path target);
    ~atomic_file();
    atomic_file(const atomic_file&) = delete;
    atomic_file& operator=(const atomic_file&) = delete;

    void write(std::string_view bytes);
    // Syncs the file, runs `before_rename` (which may throw to cancel the save, leaving the
    // target as it was), renames, then syncs the directory. Once the rename is done the file is
    // saved, and nothing after it reports a failure.
    void commit(const std::function<void()>& before_rename = {});

private:
    [[noreturn]] void fail(int code);
    void write_back();
    void discard() noexcept;

    std::filesystem::path shown_;   // as the caller named it, for error messages
    std::filesystem::path target_;  // with links followed
    std::filesystem::path temp_;   // empty when writing directly or while the file has no name
    int fd_ = -1;
    bool direct_ = false;
    bool unnamed_ = false;
    // Bytes written, sent to the disk and known to be on it (see write_back).
    std::uint64_t written_ = 0;
    std::uint64_t sent_ = 0;
    std::uint64_t waited_ = 0;
};

}  // namespace zorv::io
