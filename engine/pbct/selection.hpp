#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/normal_form.hpp"

namespace zorv::pbct {

// Encodes a range with the construction that suits its shape, within a size budget:
// at-most-one, exactly-one and at-least-one as such, other cardinality constraints
// with a totalizer, weighted sums with a decision diagram or (one-sided) a binary merge,
// and whatever exceeds the budget with the compact adder network.
// With `merge_only`, a one-sided range takes the binary merge whatever its shape.
void encode_selected(const Range& range, ClauseSink& sink, bool merge_only = false);

// The budget: the larger of a fixed allowance and this many times the adder's clauses.
constexpr std::size_t size_allowance = 100000;
constexpr std::size_t size_factor = 3;
// A one-sided weighted sum takes a decision diagram rather than the binary merge while the
// diagram has at most this many times the merge's clauses.
constexpr std::size_t merge_factor = 2;

}  // namespace zorv::pbct
