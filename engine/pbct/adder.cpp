#include "pbct/adder.hpp"

#include <optional>

#include "common/errors.hpp"
#include "pbct/at_most_one.hpp"
#include "pbct/bound_comparison.hpp"
#include "pbct/columns.hpp"
#include "pbct/shared_sums.hpp"

namespace zorv::pbct {

namespace {

// Placeholder for the top column's literal until it is known whether one is needed.
constexpr std::int64_t top_marker = 0;

i128 gcd_of(const std::vector<Term>& terms) {
    i128 g = 0;
    for (const Term& t : terms) {
        g = gcd(g, t.coef);
    }
    return g;
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
    const auto clauses = at_most_clauses(bits, static_cast<u128>(bound));
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

// The same constraint read from the other side: sum of coef * ~lit >= need, with
// need = total - bound. A term worth need or more satisfies it alone (saturation). The
// rest go through the same kind of network as in upper_form, built over the lit
// themselves: read complemented, its gates add up the ~lit with a value forced down to
// at most their sum (half adders need a gate of their own for that). A carry worth need
// or more satisfies the constraint as well.
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
        clauses = at_least_clauses(bits, static_cast<u128>(scaled));
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

std::size_t at_most_clause_bound(const AtMost& constraint) {
    std::size_t heavy = 0;
    i128 g = 0;
    i128 total = 0;
    for (const Term& t : constraint.terms) {
        if (t.coef > constraint.bound) {
            ++heavy;
        } else {
            g = gcd(g, t.coef);
            total += t.coef;
        }
    }
    if (total <= constraint.bound) {
        return heavy;
    }
    std::size_t digits = 0;
    for (const Term& t : constraint.terms) {
        if (t.coef <= constraint.bound) {
            digits += static_cast<std::size_t>(popcount(static_cast<u128>(t.coef / g)));
        }
    }
    const auto width = static_cast<std::size_t>(bit_width(static_cast<u128>(constraint.bound / g)));
    return heavy + clauses_per_digit * digits + clauses_per_bound_digit * width;
}

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
