#pragma once
#include <cstddef>

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

}  // namespace zorv::pbct
