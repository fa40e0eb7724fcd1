#pragma once
#include <cstdint>
#include <vector>

#include "pbct/clause_sink.hpp"
#include "pbct/int128.hpp"

namespace zorv::pbct {

// A literal worth 2^j for every bit j of its mask.
struct Item {
    std::int64_t lit;
    u128 mask;
};

// What becomes of a carry worth more than the cap.
enum class Overflow {
    forbidden,  // the sum is at most the cap: it can only be false, so none is made
    satisfies,  // it leaves the network for `satisfied` (in a network over complemented
                // literals, its negation alone satisfies an at-least constraint)
};

struct Cap {
    u128 cap;
    Overflow overflow;
    std::vector<std::int64_t>* satisfied;  // for Overflow::satisfies
};

// Adds up literals that share two or more digit columns once, instead of once per
// column: a full adder over three items with common digits J yields a sum worth J and a
// carry worth 2J, which replace the three items' J digits (3|J| bits become 2|J|).
// Every item is worth at most the cap.
std::vector<Item> share_sums(std::vector<Item> items, const Cap& cap, ClauseSink& sink);

}  // namespace zorv::pbct
