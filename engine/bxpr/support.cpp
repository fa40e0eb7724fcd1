#include "bxpr/support.hpp"

#include <cstdint>

namespace zorv::bxpr {

std::vector<NodeId> support(const Arena& a, NodeId root) {
    // Operands have smaller ids than their parents, so marks over [0, root] suffice.
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(root) + 1, 0);
    a.mark_reachable(root, seen);
    std::vector<NodeId> vars;
    for (NodeId x = 0; x <= root; ++x) {
        if (seen[x] && a.kind(x) == Kind::variable) vars.push_back(x);
    }
    return vars;
}

}  // namespace zorv::bxpr
