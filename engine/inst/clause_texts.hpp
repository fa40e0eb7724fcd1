#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bxpr/arena.hpp"

namespace zorv::inst {

// The clause template of a formula in clause form (as the Tseytin transformation gives it): per
// clause (an And's operand, or the whole formula), the texts of its literals (an Or's operands,
// or the clause itself). A text that holds a call, "x(1,i)" or "~x(1,i)", keeps it with every "~"
// turned into "-", so that it evaluates to a signed variable number; any other text, an
// auxiliary's name, is quoted. Texts are the nodes' own (bxpr/text.hpp), cut at `limit`.
//
// Each literal node's text is made once: `texts` holds them in order of first occurrence,
// `literals` the text of every literal in clause order, and `ends` where each clause ends in it.
struct clause_template {
    std::vector<std::string> texts;
    std::vector<std::uint32_t> literals;
    std::vector<std::size_t> ends;
};

clause_template clause_texts(const bxpr::Arena& arena, bxpr::NodeId root, std::size_t limit);

}  // namespace zorv::inst
