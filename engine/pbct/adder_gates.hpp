#pragma once
#include <cstdint>

#include "pbct/clause_sink.hpp"

namespace zorv::pbct {

// Outputs of an adder gate: inputs sum to at most sum + 2 * carry.
struct SumCarry {
    std::int64_t sum;
    std::int64_t carry;
};

// Only the upward implications are written (inputs force the outputs up), which is all
// an upper bound on the total needs: 7 clauses, the fewest for a full adder of this kind.
SumCarry full_adder(std::int64_t a, std::int64_t b, std::int64_t c, ClauseSink& sink);

// A full adder whose carry would be worth more than the bound: at most one input may
// be true, and the sum is at least each of them. 6 clauses, no carry variable.
std::int64_t full_adder_without_carry(std::int64_t a, std::int64_t b, std::int64_t c, ClauseSink& sink);

// The same for two inputs: 3 clauses.
SumCarry half_adder(std::int64_t a, std::int64_t b, ClauseSink& sink);

// s + 2 * carry >= a + b + 1: 4 clauses. Read complemented, this is the half adder of a
// network whose value is forced down (outputs at most inputs); a full adder needs no
// such twin, as complementing it maps 3 inputs onto outputs worth 1 + 2.
SumCarry half_adder_plus_one(std::int64_t a, std::int64_t b, ClauseSink& sink);

}  // namespace zorv::pbct
