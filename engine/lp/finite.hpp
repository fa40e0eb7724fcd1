#pragma once
#include <cmath>
#include <string>

#include "common/errors.hpp"

namespace zorv::lp {

// Coefficients, constants and factors must be ordinary numbers: an infinite or NaN value would
// reach the solver as a corrupt model rather than as an error.
inline double require_finite(double value, const char* what) {
    if (!std::isfinite(value)) {
        throw value_error(std::string(what) + " must be a finite number, got " + std::to_string(value));
    }
    return value;
}

}  // namespace zorv::lp
