#include "cnf/literal.hpp"

#include <string>

#include "common/errors.hpp"

namespace zorv::cnf {

void throw_bad_literal(std::int64_t lit) {
    if (lit == 0) {
        throw value_error("literal 0 is not allowed: 0 ends a DIMACS clause");
    }
    throw_past_variables("literal", std::to_string(lit));
}

void throw_past_variables(const std::string& what, const std::string& number) {
    throw value_error(what + " " + number + " is out of range: variable numbers go up to " +
                      std::to_string(max_variable));
}

}  // namespace zorv::cnf
