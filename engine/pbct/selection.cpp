#include "pbct/selection.hpp"

#include <algorithm>
#include <vector>

#include "common/errors.hpp"
#include "pbct/adder.hpp"
#include "pbct/count.hpp"
#include "pbct/decision_diagram.hpp"
#include "pbct/one_hot.hpp"
#include "pbct/tighten.hpp"
#include "pbct/totalizer.hpp"

namespace zorv::pbct {

namespace {

// About 7 clauses per full adder, one full adder per binary digit of a coefficient.
std::size_t adder_estimate(const Range& r) {
    std::size_t digits = 0;
    for (const Term& t : r.terms) {
        digits += static_cast<std::size_t>(popcount(static_cast<u128>(t.coef)));
    }
    return 7 * digits * ((r.lo > 0 && r.hi < r.total) ? 2 : 1);
}

std::vector<Construction> candidates(const Range& r, std::size_t budget) {
    if (unit_coefficients(r)) {
        const Count c = count_of(r);
        if (is_one_hot(c)) {
            return {encode_one_hot};
        }
        if (totalizer_size(c) <= budget) {
            return {encode_totalizer};
        }
        return {};
    }
    if (r.terms.size() <= decision_diagram_max_terms) {
        return {encode_decision_diagram};
    }
    return {};
}

void encode_by_adder(const Range& r, ClauseSink& sink) {
    for (const AtMost& part : parts_of(r)) {
        encode_at_most(part, sink);
    }
}

}  // namespace

void encode_selected(const Range& range, ClauseSink& sink) {
    const Tightened t = tighten(range);
    if (t.impossible) {
        sink.add({});
        return;
    }
    for (const std::int64_t lit : t.forced) {
        sink.add({lit});
    }
    const Range& r = t.range;
    if (r.trivial()) {
        return;
    }
    const std::size_t budget = std::max(size_allowance, size_factor * adder_estimate(r));
    for (const Construction construction : candidates(r, budget)) {
        ClauseSink trial = sink.fork(budget);
        try {
            construction(r, trial);
        } catch (const limit_error&) {
            continue;
        }
        sink.absorb(trial);
        return;
    }
    ClauseSink trial = sink.fork();
    encode_by_adder(r, trial);
    sink.absorb(trial);
}

}  // namespace zorv::pbct
