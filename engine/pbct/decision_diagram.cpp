#include "pbct/decision_diagram.hpp"

#include <algorithm>
#include <map>
#include <utility>

namespace zorv::pbct {

namespace {

// A node is an auxiliary (a positive local number) or one of the two constants, which
// no local literal reaches and which only ever appear unnegated.
constexpr std::int64_t true_node = true_literal;
constexpr std::int64_t false_node = false_literal;
constexpr i128 plus_infinity = i128{1} << 120;
constexpr i128 minus_infinity = -plus_infinity;
constexpr std::size_t max_terms = 4096;

// The node for partial sums beta..gamma, all of which leave the same function of the
// remaining terms.
struct Interval {
    i128 beta;
    i128 gamma;
    std::int64_t node;
};

class Builder {
public:
    // Sums that no subset reaches are told apart only by following them down, so the
    // steps are bounded as well as the clauses.
    Builder(const Range& range, ClauseSink& sink)
        : range_(range), sink_(sink), steps_left_(steps_per_clause * sink.budget_left()) {
        terms_ = range.terms;
        std::stable_sort(terms_.begin(), terms_.end(),
                         [](const Term& x, const Term& y) { return x.coef > y.coef; });
        rest_.assign(terms_.size() + 1, 0);
        for (std::size_t i = terms_.size(); i-- > 0;) {
            rest_[i] = rest_[i + 1] + terms_[i].coef;
        }
        levels_.resize(terms_.size());
        unique_.resize(terms_.size());
    }

    void encode() {
        const std::int64_t root = build(0, 0).node;
        if (root == false_node) {
            sink_.add({});
        } else if (root != true_node) {
            sink_.add({root});
        }
    }

private:
    // The function "lo <= s + (sum of terms i..) <= hi" of the terms from i on, low branch
    // before high as the recursion over the terms would go, on a stack of our own: the
    // depth is the number of terms.
    Interval build(std::size_t i, i128 s) {
        struct Frame {
            std::size_t i;
            i128 s;
            Interval low;
            bool high;  // the low branch is done, the high one is being built
        };
        std::vector<Frame> stack;
        Interval done{};
        for (;;) {
            if (!known(i, s, done)) {
                stack.push_back({i, s, {}, false});
                ++i;
                continue;
            }
            for (;;) {
                if (stack.empty()) {
                    return done;
                }
                Frame& f = stack.back();
                const i128 c = terms_[f.i].coef;
                if (!f.high) {
                    f.low = done;
                    f.high = true;
                    i = f.i + 1;
                    s = f.s + c;
                    break;
                }
                const Interval& low = f.low;
                const Interval& high = done;
                const Interval here{std::max(low.beta, high.beta - c), std::min(low.gamma, high.gamma - c),
                                    low.node == high.node ? low.node : node(f.i, high.node, low.node)};
                levels_[f.i].emplace(here.beta, here);
                done = here;
                stack.pop_back();
            }
        }
    }

    // The interval of (i, s) when it is a constant or already built; otherwise false, and
    // one step of the budget is taken for building it.
    bool known(std::size_t i, i128 s, Interval& out) {
        if (s > range_.hi) {
            out = {range_.hi + 1, plus_infinity, false_node};
            return true;
        }
        if (s + rest_[i] < range_.lo) {
            out = {minus_infinity, range_.lo - rest_[i] - 1, false_node};
            return true;
        }
        if (s >= range_.lo && s + rest_[i] <= range_.hi) {
            out = {range_.lo, range_.hi - rest_[i], true_node};
            return true;
        }
        const auto& level = levels_[i];
        auto it = level.upper_bound(s);
        if (it != level.begin() && std::prev(it)->second.gamma >= s) {
            out = std::prev(it)->second;
            return true;
        }
        if (steps_left_-- == 0) {
            sink_.fail();
        }
        return false;
    }

    std::int64_t node(std::size_t i, std::int64_t high, std::int64_t low) {
        auto [it, fresh] = unique_[i].try_emplace({high, low}, 0);
        if (!fresh) {
            return it->second;
        }
        const std::int64_t v = sink_.new_aux();
        it->second = v;
        const std::int64_t x = terms_[i].lit;
        if (range_.lo == 0) {  // at most: the high branch implies the low one
            add({-v, low});
            add({-v, -x, high});
            add({v, -high});
            add({v, x, -low});
        } else if (range_.hi == range_.total) {  // at least: the low branch implies the high one
            add({-v, high});
            add({-v, x, low});
            add({v, -low});
            add({v, -x, -high});
        } else {
            add({-v, -x, high});
            add({-v, x, low});
            add({-v, high, low});
        }
        return v;
    }

    template <std::size_t N>
    void add(const std::int64_t (&lits)[N]) {
        add_folded(sink_, lits);
    }

    static constexpr std::size_t steps_per_clause = 1;

    const Range& range_;
    ClauseSink& sink_;
    std::size_t steps_left_;
    std::vector<Term> terms_;
    std::vector<i128> rest_;
    std::vector<std::map<i128, Interval>> levels_;
    std::vector<std::map<std::pair<std::int64_t, std::int64_t>, std::int64_t>> unique_;
};

}  // namespace

void encode_decision_diagram(const Range& range, ClauseSink& sink) {
    if (range.terms.size() > max_terms) {
        sink.fail();
    }
    Builder(range, sink).encode();
}

}  // namespace zorv::pbct
