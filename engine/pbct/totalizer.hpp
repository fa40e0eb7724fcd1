#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "pbct/count.hpp"
#include "pbct/construction.hpp"

namespace zorv::pbct {

// Totalizer (Bailleux & Boufkhad 2003) with every counter cut at the range's cut:
// unary counters summed pairwise up a balanced tree. Counters are forced up by true
// inputs when there is an upper bound and down by false ones when there is a lower
// bound, so an equality is one tree bounded from both sides. Arc-consistent.
void encode_totalizer(const Range& range, ClauseSink& sink);

// Its clause count, computed without building it.
std::size_t totalizer_size(const Count& count);

using Lits = std::vector<std::int64_t>;

// The parts it is built from, for other unary constructions. A counter is a list of
// outputs, out[k] standing for "at least k + 1 inputs are true"; merging two counters
// gives the first len outputs of their sum, forced up by true inputs (up) and down by
// false ones (down).
Lits unary_merge(const Lits& a, const Lits& b, std::size_t len, bool up, bool down, ClauseSink& sink);
// A counter of `lits` up to `cut`, forced up only.
Lits unary_count(std::span<const std::int64_t> lits, std::size_t cut, ClauseSink& sink);
// Their clause counts, forced up only.
std::size_t unary_merge_size(std::size_t a, std::size_t b, std::size_t len);
std::size_t unary_count_size(std::size_t n, std::size_t cut);

}  // namespace zorv::pbct
