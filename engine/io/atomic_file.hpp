#pragma once
#include <filesystem>
#include <string_view>

namespace zorv::io {

// A file that appears under its name complete or not at all: bytes go to a fresh
// temporary file in the same directory, and commit() renames it over the target.
// Until commit() succeeds, destruction removes the temporary file.
class atomic_file {
public:
    explicit atomic_file(std::filesystem::path target);
    ~atomic_file();
    atomic_file(const atomic_file&) = delete;
    atomic_file& operator=(const atomic_file&) = delete;

    void write(std::string_view bytes);
    void commit();

private:
    [[noreturn]] void fail(int code);
    void discard() noexcept;

    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
};

}  // namespace zorv::io
