#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "inst/aux_keys.hpp"
#include "inst/template_program.hpp"

namespace zorv::inst {

// The flat integer arrays in which Python hands over a compiled template:
//   clauses:   written, weight, first literal, literal count   (4 per clause)
//   literals:  negated, auxiliary, base, first term, term count (5 per literal)
//   terms:     forall, factor, offset, size, stride            (5 per index term)
//   key slots: kind (0 pseudo-Boolean, 1 Tseytin), counter, place (3 per auxiliary key)
// Decoding checks that every reference stays inside its array and throws value_error if not.
template_program decode_program(std::span<const std::int64_t> clauses,
                                std::span<const std::int64_t> literals,
                                std::span<const std::int64_t> terms, std::int64_t forall_count,
                                std::int64_t aux_start, std::int64_t aux_block);

std::vector<aux_key_slot> decode_key_slots(std::span<const std::int64_t> slots);

}  // namespace zorv::inst
