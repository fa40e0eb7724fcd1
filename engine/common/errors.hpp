#pragma once
#include <stdexcept>
#include <string>

// Engine errors map onto Python exceptions in the bindings:
// TypeError-like misuse, ValueError-like bad values, and limits exceeded.
namespace zorv {

struct type_error : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

struct value_error : std::domain_error {
    using std::domain_error::domain_error;
};

struct limit_error : std::length_error {
    using std::length_error::length_error;
};

}  // namespace zorv
