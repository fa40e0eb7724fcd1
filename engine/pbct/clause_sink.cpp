#include "pbct/clause_sink.hpp"

#include <algorithm>
#include <string>

#include "common/errors.hpp"

namespace zorv::pbct {

ClauseSink::ClauseSink(std::int64_t first_aux, std::int64_t max_clauses)
    : next_aux_(first_aux),
      max_clauses_(static_cast<std::size_t>(max_clauses)),
      budget_(static_cast<std::size_t>(max_clauses)) {}

void ClauseSink::add(std::span<const std::int64_t> clause) {
    if (ends_.size() == budget_) {
        fail();
    }
    gate_.tick();
    literals_.insert(literals_.end(), clause.begin(), clause.end());
    ends_.push_back(literals_.size());
}

void ClauseSink::fail() const {
    throw limit_error("pseudo-Boolean encoding needs more than max_clauses_per_constraint = " +
                      std::to_string(max_clauses_) + " clauses");
}

ClauseSink ClauseSink::fork() const {
    ClauseSink out(next_aux_, static_cast<std::int64_t>(max_clauses_));
    out.budget_ = budget_ - ends_.size();
    return out;
}

ClauseSink ClauseSink::fork(std::size_t budget) const {
    ClauseSink out = fork();
    out.budget_ = std::min(out.budget_, budget);
    return out;
}

void ClauseSink::absorb(const ClauseSink& fork) {
    const std::size_t base = literals_.size();
    literals_.insert(literals_.end(), fork.literals_.begin(), fork.literals_.end());
    for (const std::size_t end : fork.ends_) {
        ends_.push_back(base + end);
    }
    next_aux_ = fork.next_aux_;
}

}  // namespace zorv::pbct
