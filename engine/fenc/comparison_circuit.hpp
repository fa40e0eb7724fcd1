#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "bxpr/arena.hpp"
#include "pbct/comparator.hpp"

namespace zorv::fenc {

// "sum of coefficient * literal <comparator> bound" as a Boolean circuit over the literals,
// with no auxiliary of its own, so that it is exact wherever it stands (negated, inside an
// equivalence, ...); the Tseytin transformation later defines one auxiliary per gate.
// The sum is an adder network (Warners; Een & Sorensson): the weights' binary digits fill one
// column per bit, full and half adders reduce each column to one sum bit, and the bits are
// compared with the bound from the least significant bit up. Repeated literals are merged
// first. Throws value_error when the sum of the weights overflows.
bxpr::NodeId comparison_circuit(bxpr::Arena& a, const std::vector<std::pair<bxpr::NodeId, std::int64_t>>& items,
                                pbct::Comparator comparator, std::int64_t bound);

}  // namespace zorv::fenc
