#pragma once
#include <string>

#include "bxpr/arena.hpp"

namespace zorv::bxpr {

// Readable prefix form: a variable's own name, "~" + name for a complement, "0" and
// "1" for the constants, "~" before a negated operator, And(a, b) and so on. The
// text of a formula that shares subformulas can grow exponentially, so it stops at
// `limit` characters and ends in "..." when cut.
std::string to_text(const Arena& a, NodeId root, std::size_t limit);

}  // namespace zorv::bxpr
