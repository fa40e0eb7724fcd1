#pragma once
#include <string_view>

#include "bxpr/arena.hpp"

namespace zorv::bxpr {

// Clause form of `root`: Zero, One, a literal, one Or of literals, or an And whose
// operands are such clauses. Each operator occurrence that needs a literal gets an
// auxiliary variable named prefix + "_" + k, k counting on per prefix in the context
// (from 0 in a fresh context, so one call there numbers its auxiliaries 0 to B-1), defined by
// full equivalence (the auxiliary is a function of the inputs, so solution counts
// are kept). The top of the formula is asserted directly: conjunctions are split
// and a top-level Or, Implies, Xor, ... costs no auxiliary of its own. Input that is
// already in clause form is returned unchanged.
NodeId tseytin(Arena& a, NodeId root, std::string_view prefix);

bool is_clause_form(const Arena& a, NodeId root);

}  // namespace zorv::bxpr
