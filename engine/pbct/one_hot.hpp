#pragma once
#include "pbct/count.hpp"
#include "pbct/construction.hpp"

namespace zorv::pbct {

// Whether a cardinality range is one of the shapes below.
bool is_one_hot(const Count& count);

// At most one (pairwise for a few literals, a chain of groups of three otherwise), exactly one
// (the same and one clause), or at least one (one clause); arc-consistent.
void encode_one_hot(const Range& range, ClauseSink& sink);
// The same, an at-most-one's chain with parity links (see at_most_one_parity).
void encode_one_hot_parity(const Range& range, ClauseSink& sink);

}  // namespace zorv::pbct
