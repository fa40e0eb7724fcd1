#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "pbct/row_shape.hpp"

namespace zorv::pbct {

// The rows encoded so far with one allocator, by variable number: which variables only
// at-least-one rows have met (and in which sign), and which equalities each is in. It answers
// a new row's questions (RowContext).
class RowHistory {
public:
    // Whether every literal was met before, and only by at-least-one rows holding it in this sign.
    bool parity_links(std::span<const std::int64_t> lits) const;
    // Whether an equality before crosses these literals in one variable, and none in two.
    bool equality_counter(std::span<const std::int64_t> lits) const;
    // A row just encoded: its shape and every variable it has.
    void record(const RowShape& shape, std::span<const std::int64_t> variables);
    // The two questions, asked of this history.
    RowContext context() const;

private:
    enum : std::uint8_t { plain = 1, negated = 2, counted = 4 };
    std::unordered_map<std::int64_t, std::uint8_t> met_;
    std::unordered_map<std::int64_t, std::vector<std::size_t>> equalities_;
    std::size_t equality_count_ = 0;
};

}  // namespace zorv::pbct
