#include "pbct/tighten.hpp"

namespace zorv::pbct {

namespace {

// Takes out the terms decided alone; false once the range is empty.
bool take_forced(Tightened& t, bool& changed) {
    Range& r = t.range;
    std::vector<Term> kept;
    kept.reserve(r.terms.size());
    for (const Term& term : r.terms) {
        if (term.coef > r.hi) {
            t.forced.push_back(-term.lit);
        } else if (r.total - term.coef < r.lo) {
            t.forced.push_back(term.lit);
            r.lo -= term.coef;
            r.hi -= term.coef;
        } else {
            kept.push_back(term);
            continue;
        }
        r.total -= term.coef;
        changed = true;
    }
    r.terms = std::move(kept);
    if (r.hi < 0 || r.lo > r.total) {
        return false;
    }
    r.lo = r.lo < 0 ? 0 : r.lo;
    r.hi = r.hi > r.total ? r.total : r.hi;
    return true;
}

// sum >= lo: any coefficient above lo counts as lo. sum <= hi is sum of complements >=
// total - hi, capped the same way.
void saturate(Range& r, bool& changed) {
    const bool at_least = r.hi == r.total;
    const i128 need = at_least ? r.lo : r.total - r.hi;
    if (r.lo > 0 && r.hi < r.total) {
        return;
    }
    for (Term& term : r.terms) {
        if (term.coef > need) {
            r.total -= term.coef - need;
            term.coef = need;
            changed = true;
        }
    }
    if (at_least) {
        r.hi = r.total;
    } else {
        r.hi = r.total - need;
    }
}

void divide_out(Range& r, bool& changed) {
    i128 g = 0;
    for (const Term& term : r.terms) {
        g = gcd(g, term.coef);
    }
    if (g <= 1) {
        return;
    }
    for (Term& term : r.terms) {
        term.coef /= g;
    }
    r.total /= g;
    r.hi = floor_div(r.hi, g);
    r.lo = -floor_div(-r.lo, g);
    changed = true;
}

}  // namespace

Tightened tighten(Range range) {
    Tightened t{std::move(range), {}, false};
    for (bool changed = true; changed && !t.range.trivial();) {
        changed = false;
        if (!take_forced(t, changed) || t.range.lo > t.range.hi) {
            t.impossible = true;
            return t;
        }
        if (t.range.trivial()) {
            break;
        }
        saturate(t.range, changed);
        divide_out(t.range, changed);
        if (t.range.lo > t.range.hi) {
            t.impossible = true;
            return t;
        }
    }
    return t;
}

}  // namespace zorv::pbct
