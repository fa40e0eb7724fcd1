#pragma once
#include <cstdint>
#include <vector>

#include "pbct/int128.hpp"
#include "pbct/pb_constraint.hpp"

namespace zorv::pbct {

// coef * lit with coef > 0; lit is a signed local variable number.
struct Term {
    std::int64_t lit;
    i128 coef;
};

// sum of terms <= bound.
struct AtMost {
    std::vector<Term> terms;
    i128 bound;
};

// lo <= sum of terms <= hi, with 0 <= lo <= hi <= total (the sum of the coefficients).
struct Range {
    std::vector<Term> terms;
    i128 total = 0;
    i128 lo = 0;
    i128 hi = 0;

    bool trivial() const { return lo <= 0 && hi >= total; }
};

// A constraint rewritten over distinct local variables 1..n as one two-sided comparison
// with positive coefficients; parts_of reads it as at most two "sum <= bound" parts (no
// part: trivially true).
struct NormalForm {
    std::vector<std::int64_t> variables;  // local number i + 1 -> the caller's variable
    bool impossible = false;
    Range range;
};

i128 gcd(i128 a, i128 b);
i128 floor_div(i128 a, i128 b);

NormalForm normalise(const PBConstraint& constraint);

// The parts of a range: sum <= hi, and sum >= lo read as an upper bound on the complements.
std::vector<AtMost> parts_of(const Range& range);

}  // namespace zorv::pbct
