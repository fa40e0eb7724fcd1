#include "pbct/one_hot.hpp"

#include "pbct/at_most_one.hpp"

namespace zorv::pbct {

bool is_one_hot(const Count& c) { return (c.hi == 1 && c.lo <= 1) || (c.lo == 1 && !c.upper()); }

void encode_one_hot(const Range& range, ClauseSink& sink) {
    const Count c = count_of(range);
    if (c.upper()) {
        at_most_one(Column(c.lits.begin(), c.lits.end()), false, sink);
    }
    if (c.lower()) {
        sink.add(c.lits);
    }
}

}  // namespace zorv::pbct
