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
// Repeated literals are merged and negative coefficients turned into complemented literals,
// then the container road's adder circuit (pbcircuit/comparison_circuit.hpp) is built.
bxpr::NodeId comparison_circuit(bxpr::Arena& a, const std::vector<std::pair<bxpr::NodeId, std::int64_t>>& items,
                                pbct::Comparator comparator, std::int64_t bound);

}  // namespace zorv::fenc
