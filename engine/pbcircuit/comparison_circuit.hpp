#pragma once
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "bxpr/arena.hpp"
#include "pbct/comparator.hpp"
#include "pbct/int128.hpp"
#include "pbct/weighted_lit.hpp"

// A pseudo-Boolean comparison as a Boolean circuit over the compared literals.
//
// The comparison of a weighted sum with a bound may stand anywhere in a constraint, negated
// or inside an equivalence too. Clauses with auxiliaries that are only implied by the sum (a
// one-directional encoding) are exact in positive position only: under a negation the solver
// may pick the auxiliaries freely and the constraint is lost. A circuit has no auxiliaries of
// its own; the Tseytin transformation later defines one per gate by a full equivalence, which
// is exact in every position.
//
// The sum is built as an adder network (Warners; Een & Sorensson): the weights' binary digits
// fill one column per bit, full and half adders reduce each column to one sum bit, and the
// bits are compared with the bound from the least significant bit up.
namespace zorv::pbcircuit {

// The literal numbers of `literals` with their coefficients summed, in order of first
// occurrence; coefficients that sum to 0 stay, so that the caller sees every number.
std::vector<std::pair<std::int64_t, pbct::i128>> merge_terms(std::span<const pbct::WeightedLit> literals);

struct circuit_term {
    bxpr::NodeId literal;
    pbct::i128 weight;  // > 0
};

// "sum of weight * literal <comparator> bound" as a node of `arena`; the terms' literals are
// nodes of `arena` too.
bxpr::NodeId comparison(bxpr::Arena& arena, std::span<const circuit_term> terms, pbct::Comparator comparator,
                        pbct::i128 bound);

// The same for any coefficients: repeated literals are merged, and negative coefficients turned
// into complemented literals, before `comparison` is built.
bxpr::NodeId weighted_comparison(bxpr::Arena& arena, std::span<const std::pair<bxpr::NodeId, pbct::i128>> items,
                                 pbct::Comparator comparator, pbct::i128 bound);

}  // namespace zorv::pbcircuit
