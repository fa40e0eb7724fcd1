#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pbct/comparator.hpp"
#include "pbct/weighted_lit.hpp"

namespace zorv::pbct {

// A weighted sum compared with one bound.
struct PBConstraint {
    std::vector<WeightedLit> literals;
    Comparator comparator;
    std::int64_t bound;

    // `bounds` are the values given after the comparator; exactly one is accepted.
    PBConstraint(std::vector<WeightedLit> literals, Comparator comparator,
                 const std::vector<std::int64_t>& bounds);
    std::string repr() const;
};

}  // namespace zorv::pbct
