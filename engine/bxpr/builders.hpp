#pragma once
#include <span>

#include "bxpr/arena.hpp"

// The expression builders. The `_s` builders simplify as far as is cheap and sure;
// `and_` keeps its operands exactly as given.
namespace zorv::bxpr {

NodeId and_s(Arena& a, std::span<const NodeId> ops);
NodeId or_s(Arena& a, std::span<const NodeId> ops);
NodeId xor_s(Arena& a, std::span<const NodeId> ops);   // odd parity
NodeId eq_s(Arena& a, std::span<const NodeId> ops);    // all operands equal
NodeId impl_s(Arena& a, NodeId premise, NodeId conclusion);
NodeId ite_s(Arena& a, NodeId cond, NodeId then_, NodeId else_);
NodeId and_(Arena& a, std::span<const NodeId> ops);

}  // namespace zorv::bxpr
