#pragma once
#include <cstddef>

#include "pbct/construction.hpp"

namespace zorv::pbct {

// Reduced ordered decision diagram of the range (Een & Sorensson 2006), built by
// intervals of equivalent partial sums (Abio et al. 2012), largest coefficients first,
// one auxiliary per node. A one-sided bound is a monotone function: two clauses per node
// make it arc-consistent, and two more define each node both ways, which gives the solver
// nodes it can learn from in either direction. A two-sided one takes three.
void encode_decision_diagram(const Range& range, ClauseSink& sink);

// Above this many terms the diagram is not tried: it is built recursively, one level per term.
constexpr std::size_t decision_diagram_max_terms = 4096;

}  // namespace zorv::pbct
