#pragma once
#include <cstdint>

namespace zorv::pbct {

// Hands out fresh variable numbers, counting up from the first one.
class AuxVarManager {
public:
    explicit AuxVarManager(std::int64_t first);
    std::int64_t get_variable();
    // The number get_variable() gives next, drawing nothing.
    std::int64_t peek() const { return next_; }

private:
    std::int64_t next_;
};

}  // namespace zorv::pbct
