#pragma once
#include <cstdint>
#include <vector>

#include "pbct/normal_form.hpp"

namespace zorv::pbct {

// A range with the literals that it decides on its own taken out.
struct Tightened {
    Range range;
    std::vector<std::int64_t> forced;  // literals that must be true, in the order found
    bool impossible = false;
};

// Repeats until nothing changes: a term heavier than hi must be false, a term without
// which lo is out of reach must be true; a one-sided bound caps every coefficient at the
// amount it needs (saturation); the coefficients' common divisor divides out. Each step
// keeps the set of solutions, and what is left is often a cardinality constraint.
Tightened tighten(Range range);

}  // namespace zorv::pbct
