#include "pbct/pb_constraint.hpp"

#include "common/errors.hpp"

namespace zorv::pbct {

PBConstraint::PBConstraint(std::vector<WeightedLit> lits, Comparator cmp,
                           const std::vector<std::int64_t>& bounds)
    : literals(std::move(lits)), comparator(cmp), bound(0) {
    if (bounds.size() != 1) {
        throw type_error("PBConstraint takes exactly one bound after the comparator, got " +
                         std::to_string(bounds.size()));
    }
    bound = bounds.front();
}

std::string PBConstraint::repr() const {
    static constexpr const char* names[] = {"<=", ">=", "=="};
    std::string out = "PBConstraint(";
    for (std::size_t i = 0; i < literals.size(); ++i) {
        out += (i ? " + " : "") + std::to_string(literals[i].coefficient) + "*x" +
               std::to_string(literals[i].literal);
    }
    if (literals.empty()) {
        out += "0";
    }
    return out + " " + names[static_cast<int>(comparator)] + " " + std::to_string(bound) + ")";
}

}  // namespace zorv::pbct
