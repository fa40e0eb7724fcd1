#include "pbct/selection.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "common/errors.hpp"
#include "pbct/adder.hpp"
#include "pbct/at_most_one.hpp"
#include "pbct/binary_merge.hpp"
#include "pbct/count.hpp"
#include "pbct/decision_diagram.hpp"
#include "pbct/generalized_totalizer.hpp"
#include "pbct/one_hot.hpp"
#include "pbct/sequential_counter.hpp"
#include "pbct/sorting_network.hpp"
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

std::size_t unary_budget(const Range& r) {
    const auto bits = static_cast<std::size_t>(bit_width(static_cast<u128>(r.terms.size())));
    const std::size_t factor = std::max<std::size_t>(3, bits * bits);
    return std::max(size_allowance, std::min(size_cap, factor * adder_estimate(r)));
}

const char* name_of(Construction construction) {
    static constexpr std::pair<Construction, const char*> names[] = {
        {encode_binary_merge, "binary_merge"},
        {encode_network_merge, "network_merge"},
        {encode_generalized_totalizer, "generalized_totalizer"},
        {encode_decision_diagram, "decision_diagram"},
        {encode_sorting_network, "sorting_network"},
        {encode_totalizer, "totalizer"},
        {encode_sequential_counter, "sequential_counter"},
        {encode_one_hot, "one_hot"},
        {encode_one_hot_parity, "one_hot_parity"},
    };
    for (const auto& [known, name] : names) {
        if (known == construction) return name;
    }
    return "";
}

std::optional<ClauseSink> attempt(Construction construction, const Range& r, const ClauseSink& sink,
                                  std::size_t budget) {
    ClauseSink trial = sink.fork(budget);
    try {
        construction(r, trial);
    } catch (const limit_error&) {
        return std::nullopt;
    }
    trial.set_made_by(name_of(construction));
    return trial;
}

std::optional<ClauseSink> weighted(const Range& r, const ClauseSink& sink, std::size_t budget) {
    // The diagram refuses rows too long for it on its own. Beyond it, a two-sided row takes
    // the adder: merges on both sides took solvers no less time on the equalities measured.
    if (r.lo > 0 && r.hi < r.total) {
        return attempt(encode_decision_diagram, r, sink, std::min(budget, diagram_allowance));
    }
    // The arc-consistent constructions propagate more, but solvers gain from them only
    // while they stay near the size of the merge.
    const std::size_t merge_size = binary_merge_size(r);
    const std::size_t sums_budget = merge_size > budget / totalizer_factor ? budget : totalizer_factor * merge_size;
    if (auto sums = attempt(encode_generalized_totalizer, r, sink, sums_budget)) {
        return sums;
    }
    std::optional<ClauseSink> merge;
    if (merge_size <= budget) {
        merge = attempt(encode_binary_merge, r, sink, budget);
    }
    const std::size_t near =
        std::min({budget, diagram_allowance, merge ? merge_factor * merge->size() : diagram_allowance});
    if (auto diagram = attempt(encode_decision_diagram, r, sink, near)) {
        return diagram;
    }
    if (merge) {
        return merge;
    }
    // Digits too wide for totalizers still count in networks, before the adder.
    if (binary_merge_size(r, true) <= budget) {
        return attempt(encode_network_merge, r, sink, budget);
    }
    return std::nullopt;
}

std::optional<ClauseSink> cardinality(const Count& c, const Range& r, const ClauseSink& sink, std::size_t budget) {
    // A bound of 2 or 3 takes the sequential counter: on pigeonhole rows of that many to a
    // hole Glucose needed 0.25 to 0.45 times the totalizer's conflicts (CaDiCaL 0.69 to 1.40).
    if (small_bound(c)) {
        if (auto counter = attempt(encode_sequential_counter, r, sink, budget)) {
            return counter;
        }
    }
    if (totalizer_size(c) <= budget) {
        return attempt(encode_totalizer, r, sink, budget);
    }
    if (sorting_network_size(c) <= budget) {
        return attempt(encode_sorting_network, r, sink, budget);
    }
    return std::nullopt;
}

void encode_by_adder(const Range& r, ClauseSink& sink) {
    for (const AtMost& part : parts_of(r)) {
        encode_at_most(part, sink);
    }
}

}  // namespace

RowShape encode_selected(const Range& range, ClauseSink& sink, Construction forced,
                         const RowContext& context) {
    const Tightened t = tighten(range);
    if (t.impossible) {
        sink.add({});
        return {};
    }
    for (const std::int64_t lit : t.forced) {
        sink.add({lit});
    }
    const Range& r = t.range;
    if (r.trivial()) {
        return {};
    }
    const std::size_t budget = unary_budget(r);
    const bool one_sided = r.lo == 0 || r.hi == r.total;
    RowShape shape;
    std::optional<ClauseSink> chosen;
    if (forced != nullptr && (one_sided || (forced == encode_sorting_network && unit_coefficients(r)))) {
        chosen = attempt(forced, r, sink, budget);
    } else if (!unit_coefficients(r)) {
        chosen = weighted(r, sink, budget);
    } else if (Count c = count_of(r); is_one_hot(c)) {
        const bool at_most = c.upper() && !c.lower();
        const bool parity =
            at_most && context.parity_links && at_most_one_chains(c.n()) && context.parity_links(c.lits);
        chosen = attempt(parity ? encode_one_hot_parity : encode_one_hot, r, sink, budget);
        if (at_most || !c.upper()) {
            shape.kind = at_most ? RowShape::Kind::at_most_one : RowShape::Kind::at_least_one;
            shape.lits = std::move(c.lits);
        }
    } else {
        // An equality that equalities before it cross, each in one literal (the lines of discrete
        // tomography), takes the counter, whose registers over neighbouring cells the crossing
        // lines share; where they overlap more (random rows), or none crosses it, the totalizer.
        if (c.upper() && c.lower() && c.lo == c.hi) {
            shape.kind = RowShape::Kind::equality;
            shape.lits = c.lits;
            if (context.equality_counter && context.equality_counter(c.lits)) {
                chosen = attempt(encode_sequential_counter, r, sink, budget);
            }
        }
        if (!chosen) {
            chosen = cardinality(c, r, sink, budget);
        }
    }
    if (!chosen) {
        chosen = sink.fork();
        encode_by_adder(r, *chosen);
    }
    shape.construction = chosen->made_by();
    sink.absorb(*chosen);
    return shape;
}

}  // namespace zorv::pbct
