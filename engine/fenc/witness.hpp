#pragma once
#include <cstdint>
#include <span>

#include "fenc/catalog.hpp"
#include "fenc/constraint.hpp"
#include "pbct/int128.hpp"

// A witness read directly against the constraints as written, independent of their clauses.
// `cells` holds one byte per declared cell (cell number - 1): nonzero for true.
namespace zorv::fenc {

// True when every instance of hard constraint `c` holds.
bool holds(const constraint& c, const catalog& variables, std::span<const std::uint8_t> cells);

// The weight of the soft unit clauses of `c` that the witness leaves unsatisfied.
std::uint64_t soft_cost(const constraint& c, const catalog& variables, std::span<const std::uint8_t> cells);

// The value of a term without foralls (a target), which may pass 64 bits.
pbct::i128 term_value(const constraint& c, const catalog& variables, std::span<const std::uint8_t> cells);

}  // namespace zorv::fenc
