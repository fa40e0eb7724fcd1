#include "lp/var_block.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

#include "common/errors.hpp"

namespace zorv::lp {

var_block_shape::var_block_shape(std::vector<index_t> dims) : dims_(std::move(dims)) {
    for (index_t d : dims_) {
        if (d < 0) {
            throw value_error("a dimension size cannot be negative, got " + std::to_string(d));
        }
        if (__builtin_mul_overflow(item_count_, d, &item_count_) || item_count_ > max_solver_index) {
            throw limit_error("a variable block cannot have more than " +
                              std::to_string(max_solver_index) + " columns");
        }
    }
}

namespace {

// A binary column lives in {0, 1} whatever wider bounds it was declared with.
std::pair<double, double> checked_bounds(var_type type, double lower, double upper) {
    if (std::isnan(lower) || std::isnan(upper)) {
        throw value_error("variable bounds must be numbers, not NaN");
    }
    if (type == var_type::binary) {
        lower = std::max(lower, 0.0);
        upper = std::min(upper, 1.0);
    }
    if (lower == infinity || upper == -infinity || lower > upper) {
        throw value_error("variable bounds [" + std::to_string(lower) + ", " +
                          std::to_string(upper) + "] leave no feasible value");
    }
    return {lower, upper};
}

}  // namespace

var_block_info::var_block_info(std::string name, var_block_shape shape, var_type type,
                               double lower, double upper, index_t initial_shift)
    : name_(std::move(name)),
      shape_(std::move(shape)),
      type_(type),
      initial_shift_(initial_shift) {
    std::tie(lower_, upper_) = checked_bounds(type, lower, upper);
}

}  // namespace zorv::lp
