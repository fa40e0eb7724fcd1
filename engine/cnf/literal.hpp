#pragma once
#include <cstdint>
#include <limits>
#include <string>

namespace zorv::cnf {

// A signed variable number; DIMACS reserves 0 as the clause terminator.
using literal = std::int32_t;
// Soft-clause weight; 0 marks a hard clause inside the storage.
using weight = std::uint64_t;

inline constexpr std::int64_t max_variable = std::numeric_limits<literal>::max();
// top = 1 + sum of soft weights must stay a signed 64-bit value: most MaxSAT readers parse it so.
inline constexpr weight max_top = static_cast<weight>(std::numeric_limits<std::int64_t>::max());

[[noreturn]] void throw_bad_literal(std::int64_t lit);
// Refuses `number`, given as decimal text (it may not fit 64 bits), as past the variable numbers.
[[noreturn]] void throw_past_variables(const std::string& what, const std::string& number);

// Throws value_error for 0 and for values whose variable is out of range.
inline void check_literal(std::int64_t lit) {
    if (lit == 0 || lit > max_variable || lit < -max_variable) [[unlikely]] {
        throw_bad_literal(lit);
    }
}

}  // namespace zorv::cnf
