#include "pbct/sequential_counter.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace zorv::pbct {

namespace {

// Registers fixed by the bounds stand in clauses as these two constants.
constexpr std::int64_t fixed_true = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t fixed_false = -fixed_true;

// Where the live registers lie: level i keeps c in [first(i), last(i)].
struct Band {
    std::int64_t n, lo, hi;
    bool upper, lower;

    // Below: true (lower bound), or unable to reach the upper bound with every literal
    // left (no lower bound), so never read.
    std::int64_t low(std::int64_t i) const { return (lower ? lo : hi) - (n - i) + 1; }
    // Above: false (upper bound), or past what the lower bound reads.
    std::int64_t high() const { return upper ? hi : lo; }
    std::int64_t first(std::int64_t i) const { return std::max<std::int64_t>(1, low(i)); }
    std::int64_t last(std::int64_t i) const { return std::min(i, high()); }
};

Band band_of(const Range& r) {
    const auto n = static_cast<std::int64_t>(r.terms.size());
    const auto lo = static_cast<std::int64_t>(r.lo), hi = static_cast<std::int64_t>(r.hi);
    return {n, lo, hi, hi < n, lo > 0};
}

// Visits every clause of the counter, registers given by `reg`, as a list of literals in
// which the constants may still stand; stops early once `more` says so.
template <typename Reg, typename Emit, typename More>
void walk(const Band& b, const std::vector<std::int64_t>& lits, const Reg& reg, const Emit& emit,
          const More& more) {
    for (std::int64_t i = 1; i <= b.n && more(); ++i) {
        const std::int64_t x = lits[static_cast<std::size_t>(i - 1)];
        for (std::int64_t c = std::max<std::int64_t>(1, b.low(i) - 1); c <= b.last(i) + 1; ++c) {
            const std::int64_t s = reg(i, c), left = reg(i - 1, c), diag = reg(i - 1, c - 1);
            if (b.upper) {
                emit({-left, s});  // s(i-1, c) -> s(i, c)
                emit({-x, -diag, s});  // x_i and s(i-1, c-1) -> s(i, c)
            }
            if (b.lower) {
                emit({-s, left, x});  // s(i, c) -> s(i-1, c) or x_i
                emit({-s, diag});  // s(i, c) -> s(i-1, c-1)
            }
        }
    }
}

// The clause without its false constants; false when a true constant satisfies it.
bool reduce(std::initializer_list<std::int64_t> clause, std::vector<std::int64_t>& out) {
    out.clear();
    for (const std::int64_t lit : clause) {
        if (lit == fixed_true) {
            return false;
        }
        if (lit != fixed_false) {
            out.push_back(lit);
        }
    }
    return true;
}

std::int64_t constant(const Band& b, std::int64_t i, std::int64_t c) {
    if (c <= 0 || c < b.low(i)) {
        return fixed_true;
    }
    if (c > i || c > b.high()) {
        return fixed_false;
    }
    return 0;
}

}  // namespace

void encode_sequential_counter(const Range& range, ClauseSink& sink) {
    const Band b = band_of(range);
    std::vector<std::int64_t> lits;
    lits.reserve(range.terms.size());
    for (const Term& t : range.terms) {
        lits.push_back(t.lit);
    }
    // Level i's registers start at offset[i] in `regs`.
    std::vector<std::size_t> offset(static_cast<std::size_t>(b.n) + 2, 0);
    std::vector<std::int64_t> regs;
    for (std::int64_t i = 1; i <= b.n; ++i) {
        offset[static_cast<std::size_t>(i)] = regs.size();
        for (std::int64_t c = b.first(i); c <= b.last(i); ++c) {
            regs.push_back(sink.new_aux());
        }
    }
    const auto reg = [&](std::int64_t i, std::int64_t c) {
        if (const std::int64_t k = constant(b, i, c); k != 0) {
            return k;
        }
        return regs[offset[static_cast<std::size_t>(i)] + static_cast<std::size_t>(c - b.first(i))];
    };
    std::vector<std::int64_t> clause;
    walk(
        b, lits, reg,
        [&](std::initializer_list<std::int64_t> raw) {
            if (reduce(raw, clause)) {
                sink.add(clause);
            }
        },
        [] { return true; });
}

std::size_t sequential_counter_size(const Range& range, std::size_t limit) {
    const Band b = band_of(range);
    // Only which literals are constants matters here; any live register will do.
    const std::vector<std::int64_t> lits(range.terms.size(), 1);
    const auto reg = [&](std::int64_t i, std::int64_t c) {
        const std::int64_t k = constant(b, i, c);
        return k != 0 ? k : std::int64_t{1};
    };
    std::size_t size = 0;
    std::vector<std::int64_t> clause;
    walk(
        b, lits, reg, [&](std::initializer_list<std::int64_t> raw) { size += reduce(raw, clause) ? 1 : 0; },
        [&] { return size <= limit; });
    return size;
}

}  // namespace zorv::pbct
