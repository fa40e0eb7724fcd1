#pragma once

namespace zorv::lp {

// The comparison a constraint row was last given; `unknown` until one is.
enum class ineq_type { unknown, equality, greater_equal, less_equal };

}  // namespace zorv::lp
