#include "pbct/adder.hpp"

#include <deque>
#include <optional>

#include "common/errors.hpp"
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
using HalfAdder = SumCarry (*)(std::int64_t, std::int64_t, ClauseSink&);

std::vector<Bit> reduce_below_top(std::vector<Column>& columns, HalfAdder half, ClauseSink& sink) {
    std::vector<Bit> bits;
    for (std::size_t j = 0; j + 1 < columns.size(); ++j) {
        Column& here = columns[j];
        while (here.size() >= 2) {
            const std::int64_t a = take(here), b = take(here);
            const SumCarry sc = here.empty() ? half(a, b, sink) : full_adder(a, b, take(here), sink);
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

i128 gcd_of(const std::vector<Term>& terms) {
    i128 g = 0;
    for (const Term& t : terms) {
        g = gcd(g, t.coef);
    }
    return g;
}

std::vector<Column> fill_columns(const std::vector<Item>& items, int width) {
    std::vector<Column> columns(static_cast<std::size_t>(width));
    for (const Item& it : items) {
        for (int j = 0; j < width; ++j) {
            if (test_bit(it.mask, j)) {
                columns[static_cast<std::size_t>(j)].push_back(it.lit);
            }
        }
    }
    return columns;
}

std::vector<Item> items_of(const std::vector<Term>& terms, i128 g) {
    std::vector<Item> items;
    items.reserve(terms.size());
    for (const Term& t : terms) {
        items.push_back({t.lit, static_cast<u128>(t.coef / g)});
    }
    return items;
}

// sum <= bound, with a network whose value is forced up to at least the sum.
void upper_form(const AtMost& constraint, ClauseSink& sink) {
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
    const i128 g = gcd_of(terms);
    bound /= g;
    const int width = bit_width(static_cast<u128>(bound));
    const Cap cap{static_cast<u128>(bound), Overflow::forbidden, nullptr};
    std::vector<Column> columns = fill_columns(share_sums(items_of(terms, g), cap, sink), width);

    std::vector<Bit> bits = reduce_below_top(columns, half_adder, sink);
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

// value >= need, for bits of a network over complemented literals (see lower_form): a
// bit stands for its negation there, and an empty column for 0. Dual of `comparison`.
std::vector<std::vector<std::int64_t>> at_least_comparison(const std::vector<Bit>& bits, u128 need) {
    std::vector<std::vector<std::int64_t>> clauses;
    for (std::size_t j = 0; j < bits.size(); ++j) {
        if (!test_bit(need, static_cast<int>(j))) {
            continue;
        }
        std::vector<std::int64_t> clause;
        for (std::size_t i = j; i < bits.size(); ++i) {
            if (bits[i] && (i == j || !test_bit(need, static_cast<int>(i)))) {
                clause.push_back(-*bits[i]);
            }
        }
        clauses.push_back(std::move(clause));
    }
    return clauses;
}

// The same constraint read the other way: sum of coef * ~lit >= total - bound =: need.
// A term worth need or more satisfies it alone (saturation); the rest are added by a
// network over the complemented terms, i.e. the lit themselves, whose gates, read
// complemented, force the value of ~lit's network down to at most their sum. Carries
// worth need or more satisfy the constraint too.
void lower_form(const AtMost& constraint, ClauseSink& sink) {
    i128 total = 0;
    for (const Term& t : constraint.terms) {
        total += t.coef;
    }
    const i128 need = total - constraint.bound;
    std::vector<std::int64_t> enough;  // literals that alone satisfy the constraint
    std::vector<Term> rest;
    i128 rest_total = 0;
    for (const Term& t : constraint.terms) {
        if (t.coef >= need) {
            enough.push_back(-t.lit);
        } else {
            rest.push_back(t);
            rest_total += t.coef;
        }
    }
    std::vector<std::vector<std::int64_t>> clauses{{}};
    if (rest_total >= need) {
        const i128 g = gcd_of(rest);
        const i128 scaled = (need + g - 1) / g;
        std::vector<std::int64_t> over;  // network literals whose negation satisfies
        const Cap cap{static_cast<u128>(scaled - 1), Overflow::satisfies, &over};
        const int width = bit_width(static_cast<u128>(scaled));
        std::vector<Column> columns = fill_columns(share_sums(items_of(rest, g), cap, sink), width + 1);
        const std::vector<Bit> bits = reduce_below_top(columns, half_adder_plus_one, sink);
        over.insert(over.end(), columns.back().begin(), columns.back().end());
        for (const std::int64_t lit : over) {
            enough.push_back(-lit);
        }
        clauses = at_least_comparison(bits, static_cast<u128>(scaled));
    }
    if (clauses.size() > 1 && enough.size() > 1) {
        const std::int64_t any = sink.new_aux();  // true only if one of them is
        std::vector<std::int64_t> def{-any};
        def.insert(def.end(), enough.begin(), enough.end());
        sink.add(def);
        enough.assign(1, any);
    }
    for (std::vector<std::int64_t>& clause : clauses) {
        clause.insert(clause.end(), enough.begin(), enough.end());
        sink.add(clause);
    }
}

}  // namespace

void encode_at_most(const AtMost& constraint, ClauseSink& sink) {
    // Both readings are exact; keep the one with fewer clauses.
    std::optional<ClauseSink> best;
    for (auto form : {upper_form, lower_form}) {
        ClauseSink trial = sink.fork();
        try {
            form(constraint, trial);
        } catch (const limit_error&) {
            continue;
        }
        if (!best || trial.size() < best->size()) {
            best = std::move(trial);
        }
    }
    if (!best) {
        sink.fork().fail();
    }
    sink.absorb(*best);
}

}  // namespace zorv::pbct
