#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/columns.hpp"

namespace zorv::pbct {

// At most one of `bits` may be true: pairwise or as a chain of groups of three, whichever is fewer clauses.
// With `need_or`, also returns a literal that is true when one of them is (forced up,
// never down); otherwise an empty Bit.
Bit at_most_one(const Column& bits, bool need_or, ClauseSink& sink);

}  // namespace zorv::pbct
