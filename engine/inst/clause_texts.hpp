#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "bxpr/arena.hpp"

namespace zorv::inst {

// The clause template of a formula in clause form (as the Tseytin transformation gives it): per
// clause (an And's operand, or the whole formula), the texts of its literals (an Or's operands,
// or the clause itself). A text that holds a call, "x(1,i)" or "~x(1,i)", keeps it with every "~"
// turned into "-", so that it evaluates to a signed variable number; any other text, an
// auxiliary's name, is quoted. Texts are the nodes' own (bxpr/text.hpp), cut at `limit`.
std::vector<std::vector<std::string>> clause_texts(const bxpr::Arena& arena, bxpr::NodeId root, std::size_t limit);

}  // namespace zorv::inst
