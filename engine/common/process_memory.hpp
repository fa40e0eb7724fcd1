#pragma once
#include <cstdint>

namespace zorv {

// The memory this process can get: the machine's physical memory, or the soft limit on its
// address space where one is set below that. What the process already holds is not taken off:
// the same work is then refused or taken whatever ran before it.
struct memory_limit {
    std::uint64_t bytes = 0;
    bool address_space = false;  // the limit is the address-space limit, not physical memory
};

memory_limit process_memory_limit();

}  // namespace zorv
