#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/construction.hpp"
#include "pbct/normal_form.hpp"
#include "pbct/row_shape.hpp"

namespace zorv::pbct {

// Encodes a range with the construction that suits its shape, within a size budget:
// at-most-one, exactly-one and at-least-one as such, other cardinality constraints
// with a totalizer or else a sorting network, weighted sums with a generalised
// totalizer, a decision diagram or a binary merge, and whatever exceeds the budget with
// the compact adder.
// With `forced`, a one-sided range takes that construction whatever its shape, within
// the budget; the sorting network takes cardinality ranges of both sides too.
// `context` is asked about an at-most-one row's chain and about a cardinality equality's
// counter. Returns the shape of the range left once the literals it decides alone are out
// (over the range's numbers).
RowShape encode_selected(const Range& range, ClauseSink& sink, Construction forced = nullptr,
                         const RowContext& context = {});

// The budget of the unary constructions (the totalizers, binary merge), whose size is known
// before they are built, or node by node. Each conflict they let unit propagation find can
// spare the solver a search that costs far more than reading their clauses, so they may be
// larger than the compact adder by the factor their construction costs in the literature:
// the square of the number of bits of the term count (a merge of n inputs takes
// O(n log^2 n) clauses, an adder O(n)). At least a fixed allowance, at most a fixed cap on
// the clauses of one row.
constexpr std::size_t size_allowance = 100000;
constexpr std::size_t size_cap = 1000000;

// A decision diagram's size is known only as it is built, and it can grow with the number
// of reachable sums: it is tried within this many clauses (and steps) at most.
constexpr std::size_t diagram_allowance = 100000;
// A one-sided weighted sum takes a generalised totalizer while it has at most this many
// times the binary merge's clauses: its nodes' partial sums over halves of the row give
// the solver more to learn from than the diagram's prefixes.
constexpr std::size_t totalizer_factor = 4;
// Failing that, it takes a decision diagram rather than the binary merge while the
// diagram has at most this many times the merge's clauses.
constexpr std::size_t merge_factor = 2;

}  // namespace zorv::pbct
