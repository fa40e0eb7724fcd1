#pragma once
#include "pbct/construction.hpp"

namespace zorv::pbct {

// Generalised totalizer (Joshi, Martins & Manquinho 2015) for a one-sided range, read
// as sum <= k: a balanced tree over the terms, lightest first, in which every node has
// one output per partial sum its terms can reach up to k, standing for "the partial sum
// is at least this". The outputs of a node are ordered by clauses (each implies the
// one below it), so a pair of children whose sums exceed k is refused by one clause
// per value of the first child. Arc-consistent; its size grows with the number of
// reachable sums, so it suits rows whose coefficients are few and close together.
void encode_generalized_totalizer(const Range& range, ClauseSink& sink);

}  // namespace zorv::pbct
