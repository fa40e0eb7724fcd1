#pragma once
#include <cstdint>
#include <limits>

namespace zorv::bxpr {

// Nodes are referenced by their index in the arena of their context. Operands are
// always created before the node that uses them, so every operand has a smaller id
// than its parent: ascending ids are a topological order of any formula.
using NodeId = std::uint32_t;
inline constexpr NodeId no_node = std::numeric_limits<NodeId>::max();

enum class Kind : std::uint8_t {
    zero,
    one,
    variable,
    complement,  // a negated variable; its one operand is the variable
    not_,        // negation of an operator node
    and_,
    or_,
    xor_,
    equal,
    implies,
    ite,
};

inline constexpr bool is_literal(Kind k) { return k == Kind::variable || k == Kind::complement; }
inline constexpr bool is_constant(Kind k) { return k == Kind::zero || k == Kind::one; }

}  // namespace zorv::bxpr
