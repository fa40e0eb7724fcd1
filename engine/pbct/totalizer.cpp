#include "pbct/totalizer.hpp"

#include <algorithm>
#include <map>
#include <span>

namespace zorv::pbct {

Lits unary_merge(const Lits& a, const Lits& b, std::size_t len, bool up, bool down, ClauseSink& sink) {
    Lits out(len);
    for (std::int64_t& o : out) {
        o = sink.new_aux();
    }
    for (std::size_t i = 0; i <= a.size(); ++i) {
        for (std::size_t j = 0; j <= b.size() && i + j <= len; ++j) {
            if (up && i + j >= 1) {  // a >= i and b >= j: out >= i + j
                Lits clause;
                if (i > 0) clause.push_back(-a[i - 1]);
                if (j > 0) clause.push_back(-b[j - 1]);
                clause.push_back(out[i + j - 1]);
                sink.add(clause);
            }
            if (down && i + j < len) {  // a <= i and b <= j: out <= i + j
                Lits clause;
                if (i < a.size()) clause.push_back(a[i]);
                if (j < b.size()) clause.push_back(b[j]);
                clause.push_back(-out[i + j]);
                sink.add(clause);
            }
        }
    }
    return out;
}

namespace {

struct Plan {
    std::size_t cut;
    bool up;    // true inputs force counters up (needed for an upper bound)
    bool down;  // false inputs force them down (needed for a lower bound)
    // Each output implies the one below it. A one-sided counter has only half its
    // definitions, so nothing else ties its outputs together; on pigeonhole rows of
    // at most five, CaDiCaL needed 0.6 times the conflicts with them.
    bool ordered;
};

// Pairs (i, j), 0 <= i <= a, 0 <= j <= b, with lo <= i + j <= hi.
std::size_t pairs(std::size_t a, std::size_t b, std::size_t lo, std::size_t hi) {
    std::size_t n = 0;
    for (std::size_t i = 0; i <= a && i <= hi; ++i) {
        const std::size_t from = lo > i ? lo - i : 0;
        const std::size_t to = std::min(b, hi - i);
        n += to >= from ? to - from + 1 : 0;
    }
    return n;
}

Lits count(std::span<const std::int64_t> lits, const Plan& plan, ClauseSink& sink) {
    if (lits.size() == 1) {
        return {lits[0]};
    }
    const std::size_t half = lits.size() / 2;
    const Lits a = count(lits.first(half), plan, sink);
    const Lits b = count(lits.subspan(half), plan, sink);
    Lits out = unary_merge(a, b, std::min(lits.size(), plan.cut), plan.up, plan.down, sink);
    if (plan.ordered) {
        for (std::size_t s = 1; s < out.size(); ++s) {
            sink.add({-out[s], out[s - 1]});
        }
    }
    return out;
}

std::size_t count_size(std::size_t n, const Plan& plan, std::map<std::size_t, std::size_t>& memo) {
    if (n <= 1) {
        return 0;
    }
    if (auto it = memo.find(n); it != memo.end()) {
        return it->second;
    }
    const std::size_t half = n / 2;
    const std::size_t a = std::min(half, plan.cut), b = std::min(n - half, plan.cut);
    const std::size_t len = std::min(n, plan.cut);
    std::size_t own = 0;
    if (plan.up) own += pairs(a, b, 1, len);
    if (plan.down) own += pairs(a, b, 0, len - 1);
    if (plan.ordered && len > 0) own += len - 1;
    const std::size_t total = own + count_size(half, plan, memo) + count_size(n - half, plan, memo);
    memo[n] = total;
    return total;
}

Plan plan_of(const Count& c) { return {c.cut(), c.upper(), c.lower(), c.upper() != c.lower()}; }

}  // namespace

Lits unary_count(std::span<const std::int64_t> lits, std::size_t cut, ClauseSink& sink) {
    return lits.empty() ? Lits{} : count(lits, {cut, true, false, false}, sink);
}

std::size_t unary_merge_size(std::size_t a, std::size_t b, std::size_t len) { return pairs(a, b, 1, len); }

std::size_t unary_count_size(std::size_t n, std::size_t cut) {
    std::map<std::size_t, std::size_t> memo;
    return count_size(n, {cut, true, false, false}, memo);
}

void encode_totalizer(const Range& range, ClauseSink& sink) {
    const Count c = count_of(range);
    const Plan plan = plan_of(c);
    const std::size_t half = c.n() / 2;
    const std::span<const std::int64_t> lits(c.lits);
    const Lits a = count(lits.first(half), plan, sink);
    const Lits b = count(lits.subspan(half), plan, sink);
    // The root's counter is not built: its two bounds become clauses over the children.
    for (std::size_t i = 0; i <= a.size(); ++i) {
        for (std::size_t j = 0; j <= b.size(); ++j) {
            if (c.upper() && i + j == c.hi + 1) {  // not a >= i and b >= j
                Lits clause;
                if (i > 0) clause.push_back(-a[i - 1]);
                if (j > 0) clause.push_back(-b[j - 1]);
                sink.add(clause);
            }
            if (c.lower() && i + j + 1 == c.lo) {  // not a <= i and b <= j
                Lits clause;
                if (i < a.size()) clause.push_back(a[i]);
                if (j < b.size()) clause.push_back(b[j]);
                sink.add(clause);
            }
        }
    }
}

std::size_t totalizer_size(const Count& c) {
    const Plan plan = plan_of(c);
    std::map<std::size_t, std::size_t> memo;
    const std::size_t half = c.n() / 2;
    const std::size_t a = std::min(half, plan.cut), b = std::min(c.n() - half, plan.cut);
    std::size_t root = 0;
    if (c.upper()) root += pairs(a, b, c.hi + 1, c.hi + 1);
    if (c.lower()) root += pairs(a, b, c.lo - 1, c.lo - 1);
    return root + count_size(half, plan, memo) + count_size(c.n() - half, plan, memo);
}

}  // namespace zorv::pbct

