#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pbct/normal_form.hpp"

namespace zorv::pbct {

// A range with unit coefficients: lo <= (number of true lits) <= hi. It is read over the
// literals or over their complements, whichever needs the counter cut lower: a counter
// needs to count up to hi + 1, or up to lo when there is no upper bound.
struct Count {
    std::vector<std::int64_t> lits;
    std::size_t lo;
    std::size_t hi;

    std::size_t n() const { return lits.size(); }
    bool upper() const { return hi < n(); }
    bool lower() const { return lo > 0; }
    std::size_t cut() const { return upper() ? hi + 1 : lo; }
};

inline Count count_of(const Range& range) {
    Count c{{}, static_cast<std::size_t>(range.lo), static_cast<std::size_t>(range.hi)};
    for (const Term& t : range.terms) {
        c.lits.push_back(t.lit);
    }
    Count mirrored{{}, c.n() - c.hi, c.n() - c.lo};
    for (const std::int64_t lit : c.lits) {
        mirrored.lits.push_back(-lit);
    }
    const bool lower_cut = mirrored.cut() < c.cut() || (mirrored.cut() == c.cut() && mirrored.lo < c.lo);
    return lower_cut ? mirrored : c;
}

inline bool unit_coefficients(const Range& range) {
    for (const Term& t : range.terms) {
        if (t.coef != 1) {
            return false;
        }
    }
    return true;
}

}  // namespace zorv::pbct
