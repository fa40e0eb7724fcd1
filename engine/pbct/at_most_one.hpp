#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/columns.hpp"

namespace zorv::pbct {

// At most one of `bits` may be true: pairwise or as a ladder, whichever is fewer clauses.
// With `need_or`, also returns a literal that is true when one of them is (forced up,
// never down); otherwise an empty Bit.
Bit at_most_one(const Column& bits, bool need_or, ClauseSink& sink);

// At most one of `lits` (a Column or a vector) as pairwise clauses, whatever their number.
template <class Lits>
void at_most_one_pairwise(const Lits& lits, ClauseSink& sink) {
    for (std::size_t x = 0; x < lits.size(); ++x) {
        for (std::size_t y = x + 1; y < lits.size(); ++y) {
            sink.add({-lits[x], -lits[y]});
        }
    }
}

}  // namespace zorv::pbct
