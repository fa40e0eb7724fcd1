#include "pbct/generalized_totalizer.hpp"

#include <algorithm>
#include <span>
#include <vector>

namespace zorv::pbct {

namespace {

// The partial sums of a subtree: values[i] ascending, outs[i] for "sum >= values[i]".
struct Node {
    std::vector<i128> values;
    std::vector<std::int64_t> outs;
};

class Builder {
public:
    Builder(const AtMost& part, ClauseSink& sink) : k_(part.bound), sink_(sink), terms_(part.terms) {
        // Neighbours of like weight share sums, which keeps the nodes small.
        std::stable_sort(terms_.begin(), terms_.end(), [](const Term& x, const Term& y) { return x.coef < y.coef; });
    }

    void encode() {
        const std::span<const Term> all(terms_);
        if (all.size() < 2) {
            refuse_excess(build(all), Node{});
            return;
        }
        const std::size_t half = all.size() / 2;
        refuse_excess(build(all.first(half)), build(all.subspan(half)));
    }

private:
    Node build(std::span<const Term> terms) {
        if (terms.size() <= 1) {
            if (terms.empty()) {
                return {};
            }
            return {{terms[0].coef}, {terms[0].lit}};
        }
        const std::size_t half = terms.size() / 2;
        const Node a = build(terms.first(half));
        const Node b = build(terms.subspan(half));
        refuse_excess(a, b);
        return sum(a, b);
    }

    // Value i of a node counted from 0, where 0 is the empty sum (always reached).
    static i128 value(const Node& n, std::size_t i) { return i == 0 ? 0 : n.values[i - 1]; }

    // For each value of a, the least value of b that takes the pair over k: the two
    // cannot hold together. Larger values of b imply that one.
    void refuse_excess(const Node& a, const Node& b) {
        for (std::size_t i = 0; i <= a.values.size(); ++i) {
            const i128 room = k_ - value(a, i);
            const auto over = std::upper_bound(b.values.begin(), b.values.end(), room);
            if (over == b.values.end()) {
                continue;
            }
            const std::int64_t lb = -b.outs[static_cast<std::size_t>(over - b.values.begin())];
            if (i == 0) {
                sink_.add({lb});
            } else {
                sink_.add({-a.outs[i - 1], lb});
            }
        }
    }

    // The node over both children: every pair of values within k gives its sum.
    Node sum(const Node& a, const Node& b) {
        // A clause per pair of values within k (both sorted): give up before the work when
        // they would not fit.
        std::size_t pairs = 0;
        for (std::size_t i = 0; i <= a.values.size(); ++i) {
            const i128 room = k_ - value(a, i);
            pairs += static_cast<std::size_t>(std::upper_bound(b.values.begin(), b.values.end(), room) -
                                              b.values.begin()) + (i > 0 ? 1 : 0);
        }
        if (pairs > sink_.budget_left()) {
            sink_.fail();
        }
        // b's values ascend: past the first sum over k, every later one is over k too.
        Node out;
        for (std::size_t i = 0; i <= a.values.size(); ++i) {
            for (std::size_t j = 0; j <= b.values.size(); ++j) {
                const i128 s = value(a, i) + value(b, j);
                if (s > k_) {
                    break;
                }
                if (s > 0) {
                    out.values.push_back(s);
                }
            }
        }
        std::sort(out.values.begin(), out.values.end());
        out.values.erase(std::unique(out.values.begin(), out.values.end()), out.values.end());
        out.outs.resize(out.values.size());
        for (std::size_t v = 0; v < out.outs.size(); ++v) {
            out.outs[v] = sink_.new_aux();
            if (v > 0) {
                sink_.add({-out.outs[v], out.outs[v - 1]});
            }
        }
        for (std::size_t i = 0; i <= a.values.size(); ++i) {
            for (std::size_t j = 0; j <= b.values.size(); ++j) {
                const i128 s = value(a, i) + value(b, j);
                if (s > k_) {
                    break;
                }
                if (s == 0) {
                    continue;
                }
                const auto at = std::lower_bound(out.values.begin(), out.values.end(), s) - out.values.begin();
                const std::int64_t o = out.outs[static_cast<std::size_t>(at)];
                if (i == 0) {
                    sink_.add({-b.outs[j - 1], o});
                } else if (j == 0) {
                    sink_.add({-a.outs[i - 1], o});
                } else {
                    sink_.add({-a.outs[i - 1], -b.outs[j - 1], o});
                }
            }
        }
        return out;
    }

    i128 k_;
    ClauseSink& sink_;
    std::vector<Term> terms_;
};

}  // namespace

void encode_generalized_totalizer(const Range& range, ClauseSink& sink) {
    Builder(parts_of(range).front(), sink).encode();
}

}  // namespace zorv::pbct
