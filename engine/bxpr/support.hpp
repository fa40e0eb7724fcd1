#pragma once
#include <vector>

#include "bxpr/arena.hpp"

namespace zorv::bxpr {

// The variables a formula mentions, in ascending id (creation) order.
std::vector<NodeId> support(const Arena& a, NodeId root);

}  // namespace zorv::bxpr
