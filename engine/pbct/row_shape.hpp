#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zorv::pbct {

// What an encoded row tells the rows after it about its literals: an at-least-one row is one
// clause over them, an at-most-one row with more than one literal is pairwise clauses or a
// chain; any other row counts them.
struct RowShape {
    enum class Kind { other, at_least_one, at_most_one };
    Kind kind = Kind::other;
    std::vector<std::int64_t> lits;  // at least / at most one of these, as signed literals
};

// Asked, for an at-most-one row that takes a chain, whether to define its links as parities
// (see at_most_one_parity); it gets the row's literals.
using LinkChoice = std::function<bool(std::span<const std::int64_t>)>;

}  // namespace zorv::pbct
