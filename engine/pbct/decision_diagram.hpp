#pragma once
#include "pbct/construction.hpp"

namespace zorv::pbct {

// Reduced ordered decision diagram of the range (Een & Sorensson 2006), built by
// intervals of equivalent partial sums (Abio et al. 2012), largest coefficients first,
// one auxiliary per node. A one-sided bound is a monotone function: two clauses per node
// make it arc-consistent, and two more define each node both ways, which gives the solver
// nodes it can learn from in either direction. A two-sided one takes three. It refuses
// (limit_error) a range of over 4096 terms.
void encode_decision_diagram(const Range& range, ClauseSink& sink);

}  // namespace zorv::pbct
