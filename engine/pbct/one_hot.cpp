#include "pbct/one_hot.hpp"

#include "pbct/at_most_one.hpp"

namespace zorv::pbct {

bool is_one_hot(const Count& c) { return (c.hi == 1 && c.lo <= 1) || (c.lo == 1 && !c.upper()); }

namespace {

void one_hot(const Range& range, bool parity, ClauseSink& sink) {
    const Count c = count_of(range);
    if (c.upper() && c.lower()) {
        exactly_one(c.lits, sink);
        return;
    }
    // An at-most-one is pairwise only while that is no more clauses than the chain: pairwise
    // rows whose literals other rows share (the pigeonhole principle) take CDCL exponentially
    // many conflicts, already from 7 or 8 literals on.
    if (c.upper() && parity) {
        at_most_one_parity(c.lits, sink);
    } else if (c.upper()) {
        at_most_one(c.lits, false, sink);
    }
    if (c.lower()) {
        sink.add(c.lits);
    }
}

}  // namespace

void encode_one_hot(const Range& range, ClauseSink& sink) { one_hot(range, false, sink); }

void encode_one_hot_parity(const Range& range, ClauseSink& sink) { one_hot(range, true, sink); }

}  // namespace zorv::pbct
