#include "pbct/adder.hpp"

#include <deque>
#include <numeric>
#include <optional>

namespace zorv::pbct {

namespace {

using Column = std::deque<std::int64_t>;

int bit_width(i128 v) {
    int w = 0;
    while (v > 0) {
        ++w;
        v >>= 1;
    }
    return w;
}

// s + 2 * carry >= a + b + c.
void full_adder(std::int64_t a, std::int64_t b, std::int64_t c, ClauseSink& sink, Column& here,
                Column& next) {
    const std::int64_t s = sink.new_aux();
    const std::int64_t co = sink.new_aux();
    sink.add({-a, -b, co});
    sink.add({-a, -c, co});
    sink.add({-b, -c, co});
    sink.add({-a, -b, -c, s});
    sink.add({-a, co, s});
    sink.add({-b, co, s});
    sink.add({-c, co, s});
    here.push_back(s);
    next.push_back(co);
}

// s + 2 * carry >= a + b.
void half_adder(std::int64_t a, std::int64_t b, ClauseSink& sink, Column& here, Column& next) {
    const std::int64_t s = sink.new_aux();
    const std::int64_t co = sink.new_aux();
    sink.add({-a, -b, co});
    sink.add({-a, co, s});
    sink.add({-b, co, s});
    here.push_back(s);
    next.push_back(co);
}

std::int64_t take(Column& col) {
    const std::int64_t lit = col.front();
    col.pop_front();
    return lit;
}

// Reduces every column to at most one bit; an empty column is the constant 0.
std::vector<std::optional<std::int64_t>> reduce(std::vector<Column> columns, ClauseSink& sink) {
    std::vector<std::optional<std::int64_t>> bits;
    for (std::size_t j = 0; j < columns.size(); ++j) {
        while (columns[j].size() >= 2) {
            if (j + 1 == columns.size()) {
                columns.emplace_back();
            }
            Column& here = columns[j];
            Column& next = columns[j + 1];
            if (here.size() >= 3) {
                const std::int64_t a = take(here), b = take(here), c = take(here);
                full_adder(a, b, c, sink, here, next);
            } else {
                const std::int64_t a = take(here), b = take(here);
                half_adder(a, b, sink, here, next);
            }
        }
        bits.push_back(columns[j].empty() ? std::nullopt : std::optional(columns[j].front()));
    }
    return bits;
}

bool bit_of(i128 v, std::size_t j) { return j < 127 && ((v >> j) & 1) != 0; }

// value(bits) <= bound: the value exceeds the bound exactly when, at the highest
// position where they differ, the bit is 1 and the bound's digit 0.
void compare(const std::vector<std::optional<std::int64_t>>& bits, i128 bound, ClauseSink& sink) {
    std::vector<std::int64_t> clause;
    for (std::size_t j = 0; j < bits.size(); ++j) {
        if (!bits[j] || bit_of(bound, j)) {
            continue;
        }
        clause.assign(1, -*bits[j]);
        bool satisfied = false;
        for (std::size_t i = j + 1; i < bits.size() && !satisfied; ++i) {
            if (bit_of(bound, i)) {
                if (bits[i]) {
                    clause.push_back(-*bits[i]);
                } else {
                    satisfied = true;  // that bit is 0 below a 1 of the bound
                }
            }
        }
        if (!satisfied) {
            sink.add(clause);
        }
    }
}

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

    std::vector<Column> columns(static_cast<std::size_t>(bit_width(total / g)));
    for (const Term& t : terms) {
        const i128 c = t.coef / g;
        for (std::size_t j = 0; j < columns.size(); ++j) {
            if (bit_of(c, j)) {
                columns[j].push_back(t.lit);
            }
        }
    }
    compare(reduce(std::move(columns), sink), bound, sink);
}

}  // namespace zorv::pbct
