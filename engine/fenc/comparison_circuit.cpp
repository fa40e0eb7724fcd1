#include "fenc/comparison_circuit.hpp"

#include "pbcircuit/comparison_circuit.hpp"
#include "pbct/int128.hpp"

namespace zorv::fenc {

using bxpr::Arena;
using bxpr::NodeId;
using pbct::i128;

NodeId comparison_circuit(Arena& a, const std::vector<std::pair<NodeId, std::int64_t>>& items,
                          pbct::Comparator comparator, std::int64_t bound) {
    // Instances of one cell are one node, so the merge by node merges by variable.
    const std::vector<std::pair<NodeId, i128>> wide(items.begin(), items.end());
    return pbcircuit::weighted_comparison(a, wide, comparator, bound);
}

}  // namespace zorv::fenc
