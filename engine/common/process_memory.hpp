#pragma once
#include <cstdint>

namespace zorv {

// The memory this process can still get: its address-space limit less the address space it
// already holds, where such a limit is set; else the machine's physical memory still
// available. The same work may then be refused after other work that still holds its memory.
struct memory_limit {
    std::uint64_t bytes = 0;
    bool address_space = false;  // the room left under the address-space limit, not physical memory
    std::uint64_t limit = 0;     // that limit, for the message: its room is the limit less `held`
    std::uint64_t held = 0;      // the address space the process holds
};

memory_limit process_memory_limit();

}  // namespace zorv
