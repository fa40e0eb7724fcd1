#include "pbct/weighted_lit.hpp"

#include <limits>

#include "common/errors.hpp"

namespace zorv::pbct {

WeightedLit::WeightedLit(std::int64_t lit, std::int64_t coef) : literal(lit), coefficient(coef) {
    if (lit == 0) {
        throw value_error("WeightedLit: literal 0 is not a variable");
    }
    if (lit == std::numeric_limits<std::int64_t>::min()) {
        throw value_error("WeightedLit: literal out of range");
    }
}

std::string WeightedLit::repr() const {
    return "WeightedLit(" + std::to_string(literal) + ", " + std::to_string(coefficient) + ")";
}

}  // namespace zorv::pbct
