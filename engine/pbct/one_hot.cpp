#include "pbct/one_hot.hpp"

#include "pbct/at_most_one.hpp"

namespace zorv::pbct {

namespace {

// Exactly one as a ladder of prefix disjunctions defined both ways: seen_i is true
// exactly when one of the first i + 1 literals is. Solvers branch on the seen_i (is the
// true literal among the first i + 1?), which splits the choice in halves instead of
// trying the literals one by one; the ladder's last step is the at-least-one clause.
void exactly_one_ladder(const std::vector<std::int64_t>& lits, ClauseSink& sink) {
    std::int64_t seen = lits[0];
    for (std::size_t i = 1; i < lits.size(); ++i) {
        const std::int64_t x = lits[i];
        sink.add({-x, -seen});
        if (i + 1 == lits.size()) {
            sink.add({seen, x});
            return;
        }
        const std::int64_t next = sink.new_aux();
        sink.add({-x, next});
        sink.add({-seen, next});
        sink.add({-next, seen, x});
        seen = next;
    }
}

// Up to this many literals, pairwise clauses and one at-least-one clause are fewest.
constexpr std::size_t pairwise_up_to = 4;

}  // namespace

bool is_one_hot(const Count& c) { return (c.hi == 1 && c.lo <= 1) || (c.lo == 1 && !c.upper()); }

void encode_one_hot(const Range& range, ClauseSink& sink) {
    const Count c = count_of(range);
    if (c.upper() && c.lower() && c.n() > pairwise_up_to) {
        exactly_one_ladder(c.lits, sink);
        return;
    }
    // An at-most-one is pairwise only while that is also the fewest clauses: pairwise rows
    // whose literals other rows share (the pigeonhole principle) take CDCL exponentially many
    // conflicts, already from 7 or 8 literals on.
    if (c.upper()) {
        at_most_one(Column(c.lits.begin(), c.lits.end()), false, sink);
    }
    if (c.lower()) {
        sink.add(c.lits);
    }
}

}  // namespace zorv::pbct
