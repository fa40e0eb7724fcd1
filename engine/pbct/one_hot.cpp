#include "pbct/one_hot.hpp"

#include "pbct/at_most_one.hpp"

#include <algorithm>

namespace zorv::pbct {

namespace {

// Exactly one as the at-most-one chain of groups of three, each group's literal defined both
// ways: seen is true exactly when one of the literals so far is. Solvers branch on it (is
// the true literal among the first ones?), which splits the choice instead of trying the
// literals one by one; the last group's clause is the at-least-one clause.
void exactly_one_chain(const std::vector<std::int64_t>& lits, ClauseSink& sink) {
    std::int64_t seen = lits[0];
    for (std::size_t i = 1; i < lits.size(); i += 2) {
        const std::size_t end = std::min(i + 2, lits.size());
        std::vector<std::int64_t> any{seen};
        for (std::size_t j = i; j < end; ++j) {
            sink.add({-seen, -lits[j]});
            for (std::size_t k = j + 1; k < end; ++k) {
                sink.add({-lits[j], -lits[k]});
            }
            any.push_back(lits[j]);
        }
        if (end == lits.size()) {
            sink.add(any);
            return;
        }
        const std::int64_t next = sink.new_aux();
        for (const std::int64_t x : any) {
            sink.add({-x, next});
        }
        any.push_back(-next);
        sink.add(any);
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
        exactly_one_chain(c.lits, sink);
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
