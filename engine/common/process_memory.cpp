#include "common/process_memory.hpp"
#include "common/thread_state.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <limits>

namespace zorv {

namespace {

constexpr std::uint64_t unknown = std::numeric_limits<std::uint64_t>::max();

std::uint64_t page_bytes(long pages) {
    const long page_size = sysconf(_SC_PAGESIZE);
    std::uint64_t bytes = 0;
    if (pages < 0 || page_size <= 0 ||
        __builtin_mul_overflow(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size), &bytes)) {
        return unknown;
    }
    return bytes;
}

// The address space this process holds: what the address-space limit is counted against.
std::uint64_t held_address_space() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    long pages = 0;
    const bool read = std::fscanf(statm, "%ld", &pages) == 1;
    std::fclose(statm);
    return read ? page_bytes(pages) : 0;
}

// Physical memory that can still be had without pushing other data out: the kernel's estimate
// where it gives one, else free memory. A machine that says neither is taken as unlimited, so
// that nothing is refused for want of it.
std::uint64_t available_memory() {
    if (std::FILE* info = std::fopen("/proc/meminfo", "r")) {
        char line[128];
        unsigned long long kib = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, info) != nullptr) {
            found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
        }
        std::fclose(info);
        std::uint64_t bytes = 0;
        if (found && !__builtin_mul_overflow(static_cast<std::uint64_t>(kib), std::uint64_t{1024}, &bytes)) {
            return bytes;
        }
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    return pages > 0 ? page_bytes(pages) : unknown;
}

}  // namespace

memory_limit process_memory_limit() {
    // Every large work asks this first, on the thread that will do it.
    ready_thread_state();
    memory_limit limit{available_memory(), false, 0, 0};
    // Asked every time: the process may set it, and take or give back memory, at any moment.
    rlimit address_space{};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY) {
        const auto cap = static_cast<std::uint64_t>(address_space.rlim_cur);
        const std::uint64_t held = held_address_space();
        const std::uint64_t room = cap > held ? cap - held : 0;
        if (room < limit.bytes) limit = {room, true, cap, held};
    }
    return limit;
}

}  // namespace zorv
