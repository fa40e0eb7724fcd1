#include "cnf/literal.hpp"

#include <string>

#include "common/errors.hpp"

namespace zorv::cnf {

void check_literal(std::int64_t lit) {
    if (lit == 0) {
        throw value_error("literal 0 is not allowed: 0 ends a DIMACS clause");
    }
    if (lit > max_variable || lit < -max_variable) {
        throw value_error("literal " + std::to_string(lit) +
                          " is out of range: variable numbers go up to " +
                          std::to_string(max_variable));
    }
}

}  // namespace zorv::cnf
