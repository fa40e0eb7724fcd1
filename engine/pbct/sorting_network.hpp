#pragma once
#include <cstddef>
#include <span>

#include "pbct/construction.hpp"
#include "pbct/count.hpp"
#include "pbct/totalizer.hpp"

namespace zorv::pbct {

// Odd-even merging networks (Batcher 1968) as clauses (Eén & Sörensson 2006), cut to the
// outputs a bound needs (Asín, Nieuwenhuis, Oliveras & Rodríguez-Carbonell 2011). They count
// as a totalizer does, with the same propagation, in O(n log^2 n) clauses instead of one
// clause per pair of counter values: the construction for counts too large for a totalizer.
// Outputs read as for the totalizer: out[k] stands for "at least k + 1 inputs are true".

// The first `len` outputs of two counters merged.
Lits network_merge(const Lits& a, const Lits& b, std::size_t len, bool up, bool down, ClauseSink& sink);
// The first `len` outputs of a counter of `lits`.
Lits network_count(std::span<const std::int64_t> lits, std::size_t len, bool up, bool down, ClauseSink& sink);

// Their clause counts, forced up only, computed without building them.
std::size_t network_merge_size(std::size_t a, std::size_t b, std::size_t len);
std::size_t network_count_size(std::size_t n, std::size_t len);

// A cardinality range, either side or both, as one network cut at its bound; a one-sided
// weighted range as a binary merge of networks.
void encode_sorting_network(const Range& range, ClauseSink& sink);
// Its clause count for a cardinality range, computed without building it.
std::size_t sorting_network_size(const Count& count);

}  // namespace zorv::pbct
