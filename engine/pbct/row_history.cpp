#include "pbct/row_history.hpp"

#include <unordered_set>

namespace zorv::pbct {

namespace {

std::int64_t variable(std::int64_t lit) { return lit < 0 ? -lit : lit; }

}  // namespace

bool RowHistory::parity_links(std::span<const std::int64_t> lits) const {
    for (const std::int64_t lit : lits) {
        const auto found = met_.find(variable(lit));
        if (found == met_.end() || found->second != (lit > 0 ? plain : negated)) {
            return false;
        }
    }
    return true;
}

bool RowHistory::equality_counter(std::span<const std::int64_t> lits) const {
    std::unordered_set<std::size_t> crossed;
    for (const std::int64_t lit : lits) {
        const auto found = equalities_.find(variable(lit));
        if (found == equalities_.end()) {
            continue;
        }
        for (const std::size_t row : found->second) {
            if (!crossed.insert(row).second) {
                return false;
            }
        }
    }
    return !crossed.empty();
}

void RowHistory::record(const RowShape& shape, std::span<const std::int64_t> variables) {
    if (shape.kind == RowShape::Kind::at_least_one) {
        for (const std::int64_t lit : shape.lits) {
            met_[variable(lit)] |= lit > 0 ? plain : negated;
        }
        return;
    }
    for (const std::int64_t var : variables) {
        met_[var] |= counted;
    }
    if (shape.kind == RowShape::Kind::equality) {
        for (const std::int64_t lit : shape.lits) {
            equalities_[variable(lit)].push_back(equality_count_);
        }
        ++equality_count_;
    }
}

RowContext RowHistory::context() const {
    return {[this](std::span<const std::int64_t> lits) { return parity_links(lits); },
            [this](std::span<const std::int64_t> lits) { return equality_counter(lits); }};
}

}  // namespace zorv::pbct
