#pragma once
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <utility>

namespace zorv {

// Giving back hundreds of megabytes (memory or a file's blocks) takes the kernel tens of
// milliseconds without a break. A call stopped by Ctrl-C hands that work to another thread,
// so that KeyboardInterrupt reaches the caller at once; less than this is freed in place.
inline constexpr std::uint64_t freed_inline_bytes = std::uint64_t{8} << 20;

// Runs `work` on a detached thread, or here when no thread can be had.
template <class Work>
void run_aside(Work work) noexcept {
    try {
        std::thread(std::move(work)).detach();
        return;
    } catch (...) {
        // No thread: what was moved into it is freed as it fails; the rest is done here.
    }
    work();
}

// Frees what `held` holds on another thread when an exception leaves the guard's scope and
// `bytes(held)` (by default `held.held_bytes()`) is large; `held` is left empty and valid. A
// plain return frees nothing.
template <class T>
class free_aside_on_unwind {
public:
    using measure = std::size_t (*)(const T&) noexcept;

    explicit free_aside_on_unwind(T& held, measure bytes = [](const T& t) noexcept { return t.held_bytes(); })
        : held_(held), bytes_(bytes), exceptions_(std::uncaught_exceptions()) {}
    ~free_aside_on_unwind() {
        if (std::uncaught_exceptions() > exceptions_ && bytes_(held_) > freed_inline_bytes) {
            try {
                run_aside([doomed = std::exchange(held_, T{})] {});
            } catch (...) {
                // no memory even for an empty T: freed in place
            }
        }
    }
    free_aside_on_unwind(const free_aside_on_unwind&) = delete;
    free_aside_on_unwind& operator=(const free_aside_on_unwind&) = delete;

private:
    T& held_;
    measure bytes_;
    int exceptions_;
};

}  // namespace zorv
