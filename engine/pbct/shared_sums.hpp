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

// Adds up literals that share two or more digit columns once, instead of once per
// column: a full adder over three items with common digits J yields a sum worth J and a
// carry worth 2J, which replace the three items' J digits (3|J| bits become 2|J|).
// Each item is worth at most `bound`; a carry worth more can only be false and is left out.
std::vector<Item> share_sums(std::vector<Item> items, u128 bound, ClauseSink& sink);

}  // namespace zorv::pbct
