#pragma once
#include <cstddef>

#include "pbct/construction.hpp"

namespace zorv::pbct {

// Sequential counter (Sinz 2005) over a count lo <= (number of true literals) <= hi:
// register s(i, c) stands for "at least c of the first i literals are true", forced up by
// true literals for an upper bound and down by false ones for a lower bound. Only the
// registers a bound can still read get a variable: at level i, c above the upper bound
// is false, and c at most lo - (n - i) is true (the literals left cannot make up for it);
// the cells of a reduced decision diagram of the count. Arc-consistent.
void encode_sequential_counter(const Range& range, ClauseSink& sink);

// Its clause count, computed without building it; counting stops once it passes `limit`.
std::size_t sequential_counter_size(const Range& range, std::size_t limit);

}  // namespace zorv::pbct
