#pragma once
#include <cstdint>
#include <vector>

#include "cnf/literal.hpp"

namespace zorv::inst {

// One index of a model-variable literal. Its value in an instance is
// factor * (value of forall number `forall`) + offset, or offset alone when `forall` is negative;
// it must lie in [0, size) and adds value * stride to the variable's number.
struct index_term {
    std::int32_t forall = -1;
    std::int64_t factor = 0;
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::int64_t stride = 0;
};

// One literal of the template: a model variable (first number plus its index terms) or an
// auxiliary (its place inside the instance's block of auxiliary numbers).
struct literal_op {
    bool negated = false;
    bool auxiliary = false;
    std::int64_t base = 0;
    std::uint32_t first_term = 0;
    std::uint32_t term_count = 0;
};

// One clause of the template: its literals and its weight (0 for a hard clause). A clause that
// is not written still has its model variables numbered, so that an index out of range is
// found wherever it stands.
struct clause_op {
    bool written = true;
    cnf::weight weight = 0;
    std::uint32_t first_literal = 0;
    std::uint32_t literal_count = 0;
};

// A clause template compiled for instantiation: instance n numbers its auxiliaries from
// aux_start + n * aux_block.
struct template_program {
    std::vector<clause_op> clauses;
    std::vector<literal_op> literals;
    std::vector<index_term> terms;
    std::int64_t aux_start = 0;
    std::int64_t aux_block = 0;
};

}  // namespace zorv::inst
