#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "pbct/pb_config.hpp"

namespace zorv::pbct {

// Clauses kept flat: all literals in one array, clause ends in another.
class VectorClauseDatabase {
public:
    explicit VectorClauseDatabase(const PBConfig& config) : config_(config) {}

    void add_clause(std::span<const std::int64_t> clause);
    // Many clauses at once: all their literals, and where each clause ends in them.
    void add_clauses(std::span<const std::int64_t> literals, std::span<const std::size_t> ends);
    std::size_t size() const { return ends_.size(); }
    std::span<const std::int64_t> clause(std::size_t i) const;
    const PBConfig& config() const { return config_; }
    // Forgets every clause, keeping the room they took.
    void clear() {
        literals_.clear();
        ends_.clear();
    }

private:
    PBConfig config_;
    std::vector<std::int64_t> literals_;
    std::vector<std::size_t> ends_;
};

}  // namespace zorv::pbct
