#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "pbct/clause_sink.hpp"
#include "pbct/columns.hpp"

namespace zorv::pbct {

// At most one of `bits` may be true: pairwise or as a chain of groups of three, whichever is
// fewer clauses. Without `need_or`, each group's literal is defined both ways, as for
// exactly-one below. With `need_or`, also returns a literal that is true when one of them is
// (forced up, never down); otherwise an empty Bit.
Bit at_most_one(const Column& bits, bool need_or, ClauseSink& sink);
Bit at_most_one(std::span<const std::int64_t> bits, bool need_or, ClauseSink& sink);

// Whether at_most_one over m literals (without `need_or`) takes the chain.
bool at_most_one_chains(std::size_t m);

// at_most_one without `need_or`, each group's literal of the chain defined as the group's
// parity: the same clauses in number, but no literal alone implies a link. For a row whose
// literals other rows meet only in at-least-one clauses (the holes of the pigeonhole
// principle): there CDCL refutes it in fewer conflicts, as it does with a chain of adders;
// where other counting rows share the literals (the diagonals of n queens), a link that a
// literal implies directly is worth far more.
void at_most_one_parity(std::span<const std::int64_t> lits, ClauseSink& sink);

// Exactly one of `lits`: pairwise and the at-least-one clause while that is no more clauses,
// otherwise the same chain with each group's literal defined both ways: it is true exactly
// when one of the literals so far is. Solvers branch on it (is the true literal among the
// first ones?), which splits the choice instead of trying the literals one by one; the last
// group's clause is the at-least-one clause.
void exactly_one(std::span<const std::int64_t> lits, ClauseSink& sink);

}  // namespace zorv::pbct
