#include "pbct/binary_merge.hpp"

#include "pbct/sorting_network.hpp"
#include "pbct/totalizer.hpp"

namespace zorv::pbct {

namespace {

// min(value * 2^shift, limit) without overflow.
std::size_t scaled_cap(u128 value, int shift, std::size_t limit) {
    for (int s = 0; s < shift && value <= limit; ++s) {
        value <<= 1;
    }
    return value < limit ? static_cast<std::size_t>(value) : limit;
}

// The part read as sum <= k, its digits and the tare.
struct Digits {
    AtMost part;
    int top;
    u128 tare;
    u128 m;  // the top counter must stay below m

    explicit Digits(const Range& range) : part(parts_of(range).front()) {  // one-sided: one part
        u128 widest = 0;
        for (const Term& t : part.terms) {
            widest |= static_cast<u128>(t.coef);
        }
        top = bit_width(widest) - 1;
        // sum + tare <= k + tare, with k + 1 + tare = m * 2^top.
        const u128 limit = static_cast<u128>(part.bound) + 1;
        const u128 step = u128{1} << top;
        tare = (step - limit % step) % step;
        m = (limit + tare) >> top;
    }

    std::size_t count(int j) const {
        std::size_t n = test_bit(tare, j) ? 1 : 0;
        for (const Term& t : part.terms) {
            n += test_bit(static_cast<u128>(t.coef), j) ? 1 : 0;
        }
        return n;
    }
};

// The counters as totalizers, or as merging networks for digits too wide for them.
void merge_digits(const Range& range, bool networks, ClauseSink& sink) {
    const Digits d(range);
    std::int64_t one = 0;  // a literal fixed true, for the tare's digits
    if (d.tare != 0) {
        one = sink.new_aux();
        sink.add({one});
    }
    Lits carried;
    std::size_t inputs = 0;  // how many inputs the counters so far have, at most
    for (int j = 0; j <= d.top; ++j) {
        Lits digit;
        for (const Term& t : d.part.terms) {
            if (test_bit(static_cast<u128>(t.coef), j)) {
                digit.push_back(t.lit);
            }
        }
        const std::size_t tared = test_bit(d.tare, j) ? 1 : 0;
        inputs = inputs / 2 + digit.size() + tared;
        const std::size_t cut = scaled_cap(d.m, d.top - j, inputs);
        // The tare's true input heads the counter of the others, cut one lower, so the
        // literals' own tree is the same whatever the bound.
        Lits here;
        if (cut > tared) {
            const std::size_t rest = cut - tared;
            here = networks ? network_count(digit, rest, true, false, sink) : unary_count(digit, rest, sink);
        }
        if (tared != 0) {
            here.insert(here.begin(), one);
        }
        if (!carried.empty() && here.empty()) {
            here = carried;
        } else if (!carried.empty()) {
            const std::size_t len = std::min(here.size() + carried.size(), cut);
            here = networks ? network_merge(here, carried, len, true, false, sink)
                            : unary_merge(here, carried, len, true, false, sink);
        }
        if (j == d.top) {
            if (here.size() >= d.m) {
                sink.add({-here[static_cast<std::size_t>(d.m - 1)]});
            }
            return;
        }
        carried.clear();
        for (std::size_t k = 1; k < here.size(); k += 2) {
            carried.push_back(here[k]);
        }
    }
}

}  // namespace

void encode_binary_merge(const Range& range, ClauseSink& sink) { merge_digits(range, false, sink); }

void encode_network_merge(const Range& range, ClauseSink& sink) { merge_digits(range, true, sink); }

std::size_t binary_merge_size(const Range& range, bool networks) {
    const Digits d(range);
    std::size_t clauses = d.tare != 0 ? 2 : 1;
    std::size_t carried = 0;
    std::size_t inputs = 0;
    for (int j = 0; j <= d.top; ++j) {
        const std::size_t digit = d.count(j);
        const std::size_t tared = test_bit(d.tare, j) ? 1 : 0;
        inputs = inputs / 2 + digit;
        const std::size_t cut = scaled_cap(d.m, d.top - j, inputs);
        std::size_t here = std::min(digit, cut);
        if (cut > tared) {
            const std::size_t own = digit - tared, rest = cut - tared;
            clauses += networks ? network_count_size(own, rest) : unary_count_size(own, rest);
        }
        if (carried != 0 && here != 0) {
            const std::size_t len = std::min(here + carried, cut);
            clauses += networks ? network_merge_size(here, carried, len) : unary_merge_size(here, carried, len);
        }
        if (carried != 0) {
            here = here == 0 ? carried : std::min(here + carried, cut);
        }
        carried = here / 2;
    }
    return clauses;
}

}  // namespace zorv::pbct
