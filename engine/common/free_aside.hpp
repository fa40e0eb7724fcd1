#pragma once
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <utility>

#include "common/interrupt.hpp"

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

// Frees what `held` holds on another thread when the scope is left by Ctrl-C (poll_interrupt
// throwing) and `bytes(held)` (by default `held.held_bytes()`) is large; `held` is left empty
// and valid. A call that fails otherwise, out of memory above all, frees in place, so that the
// memory is back before the caller tries again.
template <class T>
class free_aside_when_stopped {
public:
    using measure = std::size_t (*)(const T&) noexcept;

    explicit free_aside_when_stopped(T& held,
                                     measure bytes = [](const T& t) noexcept { return t.held_bytes(); })
        : held_(held), bytes_(bytes), exceptions_(std::uncaught_exceptions()) {
        interrupt_thrown = false;
    }
    ~free_aside_when_stopped() {
        if (std::uncaught_exceptions() > exceptions_ && interrupt_thrown && bytes_(held_) > freed_inline_bytes) {
            try {
                run_aside([doomed = std::exchange(held_, T{})] {});
            } catch (...) {
                // no memory even for an empty T: freed in place
            }
        }
    }
    free_aside_when_stopped(const free_aside_when_stopped&) = delete;
    free_aside_when_stopped& operator=(const free_aside_when_stopped&) = delete;

private:
    T& held_;
    measure bytes_;
    int exceptions_;
};

}  // namespace zorv
