#pragma once
#include <cstdint>
#include <limits>

namespace zorv::lp {

// Column and row numbers; 64-bit so that no Python integer we accept wraps silently.
using index_t = std::int64_t;

inline constexpr double infinity = std::numeric_limits<double>::infinity();

// The solver numbers columns, rows and non-zeros with 32-bit integers.
inline constexpr index_t max_solver_index = std::numeric_limits<std::int32_t>::max();

}  // namespace zorv::lp
