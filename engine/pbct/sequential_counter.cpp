#include "pbct/sequential_counter.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/errors.hpp"

namespace zorv::pbct {

namespace {

class Counter {
public:
    // A row's registers take consecutive numbers, so a row keeps only its first.
    Counter(const Count& c, ClauseSink& sink) : c_(c), sink_(sink), start_(c.n() + 1) {
        std::size_t registers = 0;
        for (std::int64_t i = 1; i <= n(); ++i) {
            registers += static_cast<std::size_t>(std::max<std::int64_t>(0, high(i) - first(i) + 1));
        }
        // Every register has a clause of its own: refuse before numbering them.
        if (registers > sink.budget_left()) {
            sink.fail();
        }
        for (std::int64_t i = 1; i <= n(); ++i) {
            start_[static_cast<std::size_t>(i)] = sink.end_aux();
            for (std::int64_t k = first(i); k <= high(i); ++k) {
                sink.new_aux();
            }
        }
    }

    void encode() {
        for (std::int64_t i = 1; i <= n(); ++i) {
            const std::int64_t x = c_.lits[static_cast<std::size_t>(i - 1)];
            for (std::int64_t k = std::max<std::int64_t>(1, low(i) - 1); k <= high(i) + 1; ++k) {
                const std::int64_t a = reg(i, k), p = reg(i - 1, k), q = reg(i - 1, k - 1);
                if (c_.upper()) {  // at least k of i - 1, or k - 1 of them and x: at least k of i
                    add_folded(sink_, {-p, a});
                    add_folded(sink_, {-x, -q, a});
                }
                if (c_.lower()) {  // at least k of i: at least k of i - 1, or k - 1 of them and x
                    add_folded(sink_, {-a, p, x});
                    add_folded(sink_, {-a, q});
                }
            }
            for (std::int64_t k = first(i) + 1; k <= high(i); ++k) {
                sink_.add({-reg(i, k), reg(i, k - 1)});
            }
        }
    }

private:
    std::int64_t n() const { return static_cast<std::int64_t>(c_.n()); }
    std::int64_t bound() const { return static_cast<std::int64_t>(c_.upper() ? c_.hi : c_.lo); }
    // Below low(i) a register is true, or no bound reads it: the remaining literals alone
    // can neither reach an upper bound's excess nor fall short of a lower bound.
    std::int64_t low(std::int64_t i) const { return bound() - (n() - i) + 1; }
    std::int64_t high(std::int64_t i) const { return std::min(i, bound()); }
    std::int64_t first(std::int64_t i) const { return std::max<std::int64_t>(1, low(i)); }

    // Registers the bound settles are constants: true (or never read) below the band,
    // false above it.
    std::int64_t reg(std::int64_t i, std::int64_t k) const {
        if (k <= 0 || k < low(i)) return true_literal;
        if (k > high(i)) return false_literal;
        return start_[static_cast<std::size_t>(i)] + (k - first(i));
    }

    const Count& c_;
    ClauseSink& sink_;
    std::vector<std::int64_t> start_;
};

}  // namespace

bool small_bound(const Count& c) {
    // Measured for 8 to 300 literals: from a bound of 4 the totalizer is the fewer clauses.
    constexpr std::size_t largest = 3;
    return c.upper() != c.lower() && (c.upper() ? c.hi : c.lo) <= largest;
}

void encode_sequential_counter(const Range& range, ClauseSink& sink) {
    const Count c = count_of(range);
    if (c.upper() && c.lower() && c.lo != c.hi) {
        throw value_error("sequential counter: a range bounded on both sides must be an equality");
    }
    Counter(c, sink).encode();
}

}  // namespace zorv::pbct
