#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/normal_form.hpp"

namespace zorv::pbct {

// Adder-network encoding of sum <= bound. Only the direction the comparison needs is
// encoded: the network's bits are forced up by its inputs, so its value is at least
// the true sum, and the comparison caps that value. The same constraint is also built
// from the other side (the complemented sum at least the slack, a network forced down)
// and the smaller of the two encodings is kept.
void encode_at_most(const AtMost& constraint, ClauseSink& sink);

// What encode_at_most takes at most, from the upper form it keeps unless the other is smaller:
// a unit clause for each term heavier than the bound, then adders that each take one binary
// digit or more away from the coefficients (over their common divisor), a digit that none
// takes away costing less, and a half adder and a comparison clause per digit of the bound.
constexpr std::size_t clauses_per_digit = 7;
constexpr std::size_t clauses_per_bound_digit = 4;
std::size_t at_most_clause_bound(const AtMost& constraint);

}  // namespace zorv::pbct
