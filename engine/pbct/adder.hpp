#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/normal_form.hpp"

namespace zorv::pbct {

// Adder-network encoding of sum <= bound. Only the direction the comparison needs is
// encoded: the network's bits are forced up by its inputs, so its value is at least
// the true sum, and the comparison caps that value. The same constraint is also built
// from the other side (the complemented sum at least the slack, a network forced down)
// and the smaller of the two encodings is kept.
void encode_at_most(const AtMost& constraint, ClauseSink& sink);

}  // namespace zorv::pbct
