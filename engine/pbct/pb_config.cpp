#include "pbct/pb_config.hpp"

#include <string>

#include "common/errors.hpp"

namespace zorv::pbct {

void PBConfig::set_max_clauses_per_constraint(std::int64_t limit) {
    if (limit < 0) {
        throw value_error("max_clauses_per_constraint must be >= 0, got " + std::to_string(limit));
    }
    max_clauses_ = limit;
}

}  // namespace zorv::pbct
