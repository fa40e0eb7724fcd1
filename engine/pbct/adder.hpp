#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/normal_form.hpp"

namespace zorv::pbct {

// Adder-network encoding of sum <= bound. Only the direction the comparison needs is
// encoded: every auxiliary sum bit is forced up by its inputs, so the network's value
// is at least the true sum, and the comparison caps that value.
void encode_at_most(const AtMost& constraint, ClauseSink& sink);

}  // namespace zorv::pbct
