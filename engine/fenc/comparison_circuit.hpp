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
// The container road's adder circuit (pbcircuit/comparison_circuit.hpp), which merges repeated
// literals and turns negative coefficients into complemented literals first.
bxpr::NodeId comparison_circuit(bxpr::Arena& a, const std::vector<std::pair<bxpr::NodeId, std::int64_t>>& items,
                                pbct::Comparator comparator, std::int64_t bound);

}  // namespace zorv::fenc
