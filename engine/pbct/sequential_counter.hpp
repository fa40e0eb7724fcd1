#pragma once
#include "pbct/construction.hpp"
#include "pbct/count.hpp"

namespace zorv::pbct {

// Sequential counter (Sinz 2005) of a one-sided cardinality range or an equality: registers
// "at least c of the first i literals", only those the bound can still read (the cells of the
// range's reduced decision diagram), and a clause by which each implies the register below it.
// A one-sided range's registers are forced one way only (two clauses each), an equality's
// both ways (four). Arc-consistent.
void encode_sequential_counter(const Range& range, ClauseSink& sink);

// Bounds small enough that the counter is no more clauses than the totalizer.
bool small_bound(const Count& count);

}  // namespace zorv::pbct
