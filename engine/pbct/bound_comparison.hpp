#pragma once
#include <cstdint>
#include <vector>

#include "pbct/columns.hpp"
#include "pbct/int128.hpp"

namespace zorv::pbct {

// Clauses for value(bits) <= bound, bits least significant first.
std::vector<std::vector<std::int64_t>> at_most_clauses(const std::vector<Bit>& bits, u128 bound);

// Clauses for value >= need, where each present bit stands for its negation (the bits of
// a network over complemented literals) and an empty one for 0.
std::vector<std::vector<std::int64_t>> at_least_clauses(const std::vector<Bit>& bits, u128 need);

}  // namespace zorv::pbct
