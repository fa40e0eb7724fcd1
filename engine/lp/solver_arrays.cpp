#include "lp/solver_arrays.hpp"

#include <algorithm>

namespace zorv::lp {

namespace {

// The storage keeps its counts within max_solver_index, so these narrowings are exact.
std::vector<std::int32_t> narrowed(std::span<const index_t> values) {
    std::vector<std::int32_t> out(values.size());
    std::transform(values.begin(), values.end(), out.begin(),
                   [](index_t v) { return static_cast<std::int32_t>(v); });
    return out;
}

void fill_columns(const lp_storage& storage, solver_arrays& out) {
    const auto n = static_cast<std::size_t>(storage.col_count());
    out.col_cost.assign(n, 0.0);
    out.col_lower.resize(n);
    out.col_upper.resize(n);
    out.integrality.resize(n);
    for (const var_block_info& block : storage.blocks()) {
        const auto shift = block.initial_shift();
        const auto count = block.item_count();
        std::fill_n(out.col_lower.begin() + shift, count, block.lower_bound());
        std::fill_n(out.col_upper.begin() + shift, count, block.upper_bound());
        std::fill_n(out.integrality.begin() + shift, count,
                    block.type() == var_type::continuous ? 0 : 1);
    }
    const auto cols = storage.objective_columns();
    const auto vals = storage.objective_values();
    for (std::size_t k = 0; k < cols.size(); ++k) {
        out.col_cost[static_cast<std::size_t>(cols[k])] = vals[k];
    }
}

}  // namespace

solver_arrays to_solver_arrays(const lp_storage& storage) {
    solver_arrays out;
    fill_columns(storage, out);
    out.row_lower.assign(storage.row_lower().begin(), storage.row_lower().end());
    out.row_upper.assign(storage.row_upper().begin(), storage.row_upper().end());
    out.a_start = narrowed(storage.row_starts());
    out.a_index = narrowed(storage.row_columns());
    out.a_value.assign(storage.row_values().begin(), storage.row_values().end());
    out.offset = storage.objective_offset();
    out.maximization = storage.maximization();
    return out;
}

}  // namespace zorv::lp
