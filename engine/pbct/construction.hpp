#pragma once
#include "pbct/clause_sink.hpp"
#include "pbct/normal_form.hpp"

namespace zorv::pbct {

// The one interface of the constructions: clauses for a range that is neither trivial
// nor impossible and has no term that is decided on its own (see tighten). A
// construction raises limit_error once the sink's budget runs out, and the caller then
// falls back to the next.
using Construction = void (*)(const Range&, ClauseSink&);

}  // namespace zorv::pbct
