#include "common/process_memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <limits>

namespace zorv {

namespace {

// The machine's memory, asked once: it does not change while the process runs. A machine that
// does not say is taken as unlimited, so that nothing is refused for want of it.
std::uint64_t physical_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    std::uint64_t bytes = 0;
    if (pages <= 0 || page_size <= 0 ||
        __builtin_mul_overflow(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size), &bytes)) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return bytes;
}

}  // namespace

memory_limit process_memory_limit() {
    static const std::uint64_t physical = physical_memory();
    memory_limit limit{physical, false};
    // Asked every time: the process may set it at any moment.
    rlimit address_space{};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY &&
        static_cast<std::uint64_t>(address_space.rlim_cur) < limit.bytes) {
        limit = {static_cast<std::uint64_t>(address_space.rlim_cur), true};
    }
    return limit;
}

}  // namespace zorv
