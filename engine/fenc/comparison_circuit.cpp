#include "fenc/comparison_circuit.hpp"

#include <unordered_map>

#include "pbcircuit/comparison_circuit.hpp"
#include "pbct/int128.hpp"

namespace zorv::fenc {

using bxpr::Arena;
using bxpr::NodeId;
using pbct::i128;

NodeId comparison_circuit(Arena& a, const std::vector<std::pair<NodeId, std::int64_t>>& items,
                          pbct::Comparator comparator, std::int64_t bound) {
    // Instances of one cell are one node, so merging by node merges by variable.
    std::unordered_map<NodeId, std::size_t> place;
    std::vector<std::pair<NodeId, i128>> merged;
    for (const auto& [literal, coefficient] : items) {
        auto [it, fresh] = place.try_emplace(literal, merged.size());
        if (fresh) {
            merged.emplace_back(literal, coefficient);
        } else {
            merged[it->second].second += coefficient;
        }
    }
    std::vector<pbcircuit::circuit_term> terms;
    i128 shifted = bound;
    for (const auto& [literal, coefficient] : merged) {
        if (coefficient > 0) {
            terms.push_back({literal, coefficient});
        } else if (coefficient < 0) {
            terms.push_back({a.negate(literal), -coefficient});
            shifted -= coefficient;  // c * x == c + |c| * ~x
        }
    }
    return pbcircuit::comparison(a, terms, comparator, shifted);
}

}  // namespace zorv::fenc
