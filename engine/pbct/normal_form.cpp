#include "pbct/normal_form.hpp"

#include <algorithm>
#include <utility>

namespace zorv::pbct {

namespace {

// Repeated variables merged; a complemented literal c * ~x is c - c * x. The terms go in
// the order of their variables, whatever order the caller wrote them in: numbering follows
// the model's own indices, so rows over the same variables then list them alike, and a
// counter's partial counts cover neighbouring cells, which rows crossing the same region
// share.
struct Merged {
    std::vector<std::int64_t> variables;
    std::vector<i128> coefs;
    i128 constant = 0;
};

Merged merge(const std::vector<WeightedLit>& literals) {
    Merged m;
    std::vector<std::pair<std::int64_t, i128>> terms;  // (variable, coefficient of x)
    terms.reserve(literals.size());
    for (const WeightedLit& wl : literals) {
        const i128 c = wl.coefficient;
        if (wl.literal < 0) {
            m.constant += c;
            terms.emplace_back(-wl.literal, -c);
        } else {
            terms.emplace_back(wl.literal, c);
        }
    }
    std::sort(terms.begin(), terms.end());
    for (const auto& [var, c] : terms) {
        if (!m.variables.empty() && m.variables.back() == var) {
            m.coefs.back() += c;
        } else {
            m.variables.push_back(var);
            m.coefs.push_back(c);
        }
    }
    return m;
}

// sum of terms >= bound  <=>  sum of coef * ~lit <= total - bound.
AtMost flip(const std::vector<Term>& terms, i128 total, i128 bound) {
    AtMost part{{}, total - bound};
    part.terms.reserve(terms.size());
    for (const Term& t : terms) {
        part.terms.push_back({-t.lit, t.coef});
    }
    return part;
}

}  // namespace

i128 gcd(i128 a, i128 b) {
    while (b != 0) {
        const i128 r = a % b;
        a = b;
        b = r;
    }
    return a < 0 ? -a : a;
}

i128 floor_div(i128 a, i128 b) {
    const i128 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

NormalForm normalise(const PBConstraint& constraint) {
    Merged m = merge(constraint.literals);
    NormalForm nf;
    nf.variables = std::move(m.variables);

    // Negative coefficients become complemented literals: c * x = c - c * ~x.
    std::vector<Term> terms;
    i128 total = 0;
    for (std::size_t i = 0; i < nf.variables.size(); ++i) {
        const std::int64_t local = static_cast<std::int64_t>(i) + 1;
        const i128 c = m.coefs[i];
        if (c > 0) {
            terms.push_back({local, c});
            total += c;
        } else if (c < 0) {
            m.constant += c;
            terms.push_back({-local, -c});
            total -= c;
        }
    }

    // The sum now ranges over 0..total in steps of g; compare it with the bound minus
    // the constant, rounded to those steps.
    i128 g = 0;
    for (Term& t : terms) {
        g = gcd(g, t.coef);
    }
    if (g > 1) {
        for (Term& t : terms) {
            t.coef /= g;
        }
        total /= g;
    }
    const i128 bound = static_cast<i128>(constraint.bound) - m.constant;
    const bool upper = constraint.comparator != Comparator::GEQ;
    const bool lower = constraint.comparator != Comparator::LEQ;
    const i128 hi = g > 1 ? floor_div(bound, g) : bound;
    const i128 lo = g > 1 ? -floor_div(-bound, g) : bound;
    if ((upper && hi < 0) || (lower && lo > total) || (upper && lower && lo > hi)) {
        nf.impossible = true;
        return nf;
    }
    nf.range = {std::move(terms), total, lower && lo > 0 ? lo : 0, upper && hi < total ? hi : total};
    return nf;
}

std::vector<AtMost> parts_of(const Range& range) {
    std::vector<AtMost> parts;
    if (range.hi < range.total) {
        parts.push_back({range.terms, range.hi});
    }
    if (range.lo > 0) {
        parts.push_back(flip(range.terms, range.total, range.lo));
    }
    return parts;
}

}  // namespace zorv::pbct
