#include "common/process_memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <limits>

namespace zorv {

memory_limit process_memory_limit() {
    memory_limit limit{std::numeric_limits<std::uint64_t>::max(), false};
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    std::uint64_t physical = 0;
    // A machine that does not say is taken as unlimited: nothing is refused for want of it.
    if (pages > 0 && page_size > 0 &&
        !__builtin_mul_overflow(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size),
                                &physical)) {
        limit.bytes = physical;
    }
    rlimit address_space{};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY &&
        static_cast<std::uint64_t>(address_space.rlim_cur) < limit.bytes) {
        limit = {static_cast<std::uint64_t>(address_space.rlim_cur), true};
    }
    return limit;
}

}  // namespace zorv
