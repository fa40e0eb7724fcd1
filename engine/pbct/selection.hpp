#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/normal_form.hpp"

namespace zorv::pbct {

// Encodes a range with the construction that suits its shape, within a size budget:
// at-most-one, exactly-one and at-least-one as such, other cardinality constraints
// with a totalizer, weighted sums with a decision diagram, and whatever exceeds the
// budget with the compact adder network.
void encode_selected(const Range& range, ClauseSink& sink);

// The budget: the larger of a fixed allowance and this many times the adder's clauses.
constexpr std::size_t size_allowance = 100000;
constexpr std::size_t size_factor = 3;

}  // namespace zorv::pbct
