#include "pbct/bound_comparison.hpp"

namespace zorv::pbct {

// value(bits) <= bound: the value exceeds the bound exactly when, at the highest
// position where they differ, the bit is 1 and the bound's digit 0. A clause for each
// 0 digit j: not bit j, or not some higher bit under a 1 digit.
std::vector<std::vector<std::int64_t>> at_most_clauses(const std::vector<Bit>& bits, u128 bound) {
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

// The dual of at_most_clauses: the value falls short exactly when, at the highest
// position where it differs from need, the bit is 0 and need's digit 1.
std::vector<std::vector<std::int64_t>> at_least_clauses(const std::vector<Bit>& bits, u128 need) {
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

}  // namespace zorv::pbct
