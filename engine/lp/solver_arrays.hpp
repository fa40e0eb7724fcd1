#pragma once
#include <cstdint>
#include <vector>

#include "lp/lp_storage.hpp"

namespace zorv::lp {

// A storage laid out the way LP solvers take a model in one call: dense column data, a row-wise
// compressed matrix with 32-bit indexes, and an integrality flag per column (0 continuous,
// 1 integer; binary columns are integer columns with bounds inside [0, 1]).
struct solver_arrays {
    std::vector<double> col_cost;
    std::vector<double> col_lower;
    std::vector<double> col_upper;
    std::vector<std::int32_t> integrality;
    std::vector<double> row_lower;
    std::vector<double> row_upper;
    std::vector<std::int32_t> a_start;
    std::vector<std::int32_t> a_index;
    std::vector<double> a_value;
    double offset = 0.0;
    bool maximization = false;
};

solver_arrays to_solver_arrays(const lp_storage& storage);

}  // namespace zorv::lp
