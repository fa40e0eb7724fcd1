#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zorv::pbct {

// What an encoded row tells the rows after it about its literals: an at-least-one row is one
// clause over them, an at-most-one row with more than one literal is pairwise clauses or a
// chain, an equality (of more than one) counts them; any other row counts them too, and tells
// no more.
struct RowShape {
    enum class Kind { other, at_least_one, at_most_one, equality };
    Kind kind = Kind::other;
    std::vector<std::int64_t> lits;  // the row's literals, signed, for all but `other`
    const char* construction = "";   // the one that encoded the row; none when it is decided alone
};

// Questions a row's encoding asks about the rows before it; each gets the row's literals. An
// empty one is never asked, and the answer is no.
struct RowContext {
    // For an at-most-one row that takes a chain: define its links as parities (see
    // at_most_one_parity)?
    std::function<bool(std::span<const std::int64_t>)> parity_links;
    // For a cardinality equality: count it with the sequential counter rather than the
    // totalizer (see encode_selected)?
    std::function<bool(std::span<const std::int64_t>)> equality_counter;
};

}  // namespace zorv::pbct
