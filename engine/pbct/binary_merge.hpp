#pragma once
#include <cstddef>

#include "pbct/construction.hpp"

namespace zorv::pbct {

// Binary merge (Manthey, Philipp & Steinke 2014) for a one-sided range, read as
// sum <= k: one unary counter per binary digit of the coefficients, each holding the
// literals with that digit and the carries of the digit below (every second output of
// its counter). A constant added to both sides (the tare) makes k + 1 a multiple of the
// top digit's weight, so the bound is one output of the top counter. Its size grows
// with the number of digits, not with the number of reachable sums.
void encode_binary_merge(const Range& range, ClauseSink& sink);

// The same with merging networks for counters: O(n log^2 n) clauses per digit of n
// literals where a totalizer takes one per pair of counter values, for rows whose digits
// hold too many literals for the totalizers' budget.
void encode_network_merge(const Range& range, ClauseSink& sink);

// The clause count of either (at most one more), computed without building it.
std::size_t binary_merge_size(const Range& range, bool networks = false);

}  // namespace zorv::pbct
