#include "pbct/adder.hpp"

#include <deque>
#include <optional>

#include "pbct/adder_gates.hpp"
#include "pbct/shared_sums.hpp"

namespace zorv::pbct {

namespace {

using Column = std::deque<std::int64_t>;
using Bit = std::optional<std::int64_t>;  // empty: the constant 0

std::int64_t take(Column& col) {
    const std::int64_t lit = col.front();
    col.pop_front();
    return lit;
}

// Columns 0 .. top-1 down to one bit each, oldest bits first (Wallace order); their
// carries join the next column, so the top column receives everything left over.
std::vector<Bit> reduce_below_top(std::vector<Column>& columns, ClauseSink& sink) {
    std::vector<Bit> bits;
    for (std::size_t j = 0; j + 1 < columns.size(); ++j) {
        Column& here = columns[j];
        while (here.size() >= 2) {
            const std::int64_t a = take(here), b = take(here);
            const SumCarry sc = here.empty() ? half_adder(a, b, sink) : full_adder(a, b, take(here), sink);
            here.push_back(sc.sum);
            columns[j + 1].push_back(sc.carry);
        }
        bits.push_back(here.empty() ? Bit{} : Bit{here.front()});
    }
    return bits;
}

// The bits of the top column are worth 2^(width-1) > bound / 2: at most one may be true.
// With `need_or`, also a literal that is true when one is (forced up, never down).
Bit at_most_one(const Column& top, bool need_or, ClauseSink& sink) {
    const std::size_t m = top.size();
    if (m <= 1) {
        return m == 0 ? Bit{} : Bit{top.front()};
    }
    const std::size_t pairwise = m * (m - 1) / 2 + (need_or ? m : 0);
    const std::size_t ladder = 3 * (m - 1) - (need_or ? 0 : 2);
    if (pairwise <= ladder) {
        for (std::size_t x = 0; x < m; ++x) {
            for (std::size_t y = x + 1; y < m; ++y) {
                sink.add({-top[x], -top[y]});
            }
        }
        if (!need_or) {
            return Bit{};
        }
        const std::int64_t any = sink.new_aux();
        for (const std::int64_t t : top) {
            sink.add({-t, any});
        }
        return any;
    }
    // Ladder: seen_i is true once any of the first i bits is.
    std::int64_t seen = top[0];
    for (std::size_t i = 1; i < m; ++i) {
        sink.add({-top[i], -seen});
        if (i + 1 < m || need_or) {
            const std::int64_t next = sink.new_aux();
            sink.add({-top[i], next});
            sink.add({-seen, next});
            seen = next;
        }
    }
    return seen;
}

// value(bits) <= bound: the value exceeds the bound exactly when, at the highest
// position where they differ, the bit is 1 and the bound's digit 0. A clause for each
// 0 digit j: not bit j, or not some higher bit under a 1 digit.
std::vector<std::vector<std::int64_t>> comparison(const std::vector<Bit>& bits, u128 bound) {
    std::vector<std::vector<std::int64_t>> clauses;
    for (std::size_t j = 0; j < bits.size(); ++j) {
        if (!bits[j] || test_bit(bound, static_cast<int>(j))) {
            continue;
        }
        std::vector<std::int64_t> clause{-*bits[j]};
        bool satisfied = false;
        for (std::size_t i = j + 1; i < bits.size() && !satisfied; ++i) {
            if (test_bit(bound, static_cast<int>(i))) {
                satisfied = !bits[i];  // that bit is 0 below a 1 of the bound
                if (bits[i]) {
                    clause.push_back(-*bits[i]);
                }
            }
        }
        if (!satisfied) {
            clauses.push_back(std::move(clause));
        }
    }
    return clauses;
}

// Placeholder for the top column's literal until it is known whether one is needed.
constexpr std::int64_t top_marker = 0;

}  // namespace

void encode_at_most(const AtMost& constraint, ClauseSink& sink) {
    i128 bound = constraint.bound;
    // A term heavier than the bound can never be true.
    std::vector<Term> terms;
    i128 total = 0;
    for (const Term& t : constraint.terms) {
        if (t.coef > bound) {
            sink.add({-t.lit});
        } else {
            terms.push_back(t);
            total += t.coef;
        }
    }
    if (total <= bound) {
        return;
    }
    i128 g = 0;
    for (const Term& t : terms) {
        g = gcd(g, t.coef);
    }
    bound /= g;
    const int width = bit_width(static_cast<u128>(bound));

    std::vector<Item> items;
    items.reserve(terms.size());
    for (const Term& t : terms) {
        items.push_back({t.lit, static_cast<u128>(t.coef / g)});
    }
    std::vector<Column> columns(static_cast<std::size_t>(width));
    for (const Item& it : share_sums(std::move(items), static_cast<u128>(bound), sink)) {
        for (int j = 0; j < width; ++j) {
            if (test_bit(it.mask, j)) {
                columns[static_cast<std::size_t>(j)].push_back(it.lit);
            }
        }
    }

    std::vector<Bit> bits = reduce_below_top(columns, sink);
    // The bound's top digit is 1, so every comparison clause mentions the top bit.
    bits.push_back(columns.back().empty() ? Bit{} : Bit{top_marker});
    const auto clauses = comparison(bits, static_cast<u128>(bound));
    const Bit top = at_most_one(columns.back(), !clauses.empty(), sink);
    for (std::vector<std::int64_t> clause : clauses) {
        for (std::int64_t& lit : clause) {
            if (lit == -top_marker) {
                lit = -*top;
            }
        }
        sink.add(clause);
    }
}

}  // namespace zorv::pbct
