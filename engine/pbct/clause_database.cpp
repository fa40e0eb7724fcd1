#include "pbct/clause_database.hpp"

#include <stdexcept>

namespace zorv::pbct {

void VectorClauseDatabase::add_clause(std::span<const std::int64_t> clause) {
    literals_.insert(literals_.end(), clause.begin(), clause.end());
    ends_.push_back(literals_.size());
}

void VectorClauseDatabase::add_clauses(std::span<const std::int64_t> literals,
                                       std::span<const std::size_t> ends) {
    const std::size_t base = literals_.size();
    literals_.insert(literals_.end(), literals.begin(), literals.end());
    ends_.reserve(ends_.size() + ends.size());
    for (const std::size_t end : ends) {
        ends_.push_back(base + end);
    }
}

std::span<const std::int64_t> VectorClauseDatabase::clause(std::size_t i) const {
    if (i >= ends_.size()) {
        throw std::out_of_range("clause index out of range");
    }
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return {literals_.data() + begin, ends_[i] - begin};
}

}  // namespace zorv::pbct
