#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lp/index.hpp"
#include "lp/linear_row.hpp"
#include "lp/var_block.hpp"

namespace zorv::lp {

// A linear (mixed-integer) program: blocks of columns, constraint rows kept row-wise in one
// compressed matrix, an objective and its sense. Rows are copied in when added, so a caller's
// row changed afterwards does not change the program.
class lp_storage {
public:
    lp_storage() = default;

    const std::string& model_name() const noexcept { return model_name_; }
    void set_model_name(std::string name) { model_name_ = std::move(name); }

    // Appends a block after the present columns and returns its index.
    index_t add_block(std::string name, std::vector<index_t> dims, var_type type, double lower,
                      double upper);
    const var_block_info& block(index_t index) const;
    index_t block_count() const noexcept { return static_cast<index_t>(blocks_.size()); }
    std::span<const var_block_info> blocks() const noexcept { return blocks_; }
    std::optional<index_t> find_block(std::string_view name) const;
    index_t col_count() const noexcept { return col_count_; }

    // Adds `row` as a constraint lower <= row <= upper (its constant moved into the borders).
    index_t add_row(const linear_row& row, const std::string& name);
    index_t row_count() const noexcept { return static_cast<index_t>(row_names_.size()); }
    const std::string& row_name(index_t index) const;
    std::span<const index_t> row_starts() const noexcept { return row_start_; }
    std::span<const index_t> row_columns() const noexcept { return row_column_; }
    std::span<const double> row_values() const noexcept { return row_value_; }
    std::span<const double> row_lower() const noexcept { return row_lower_; }
    std::span<const double> row_upper() const noexcept { return row_upper_; }

    // Makes `row` the objective, replacing any earlier one; its constant is the objective offset.
    void set_objective(const linear_row& row, const std::string& name);
    std::span<const index_t> objective_columns() const noexcept { return objective_.columns(); }
    std::span<const double> objective_values() const noexcept { return objective_.values(); }
    double objective_offset() const noexcept { return objective_.constant(); }
    const std::string& objective_name() const noexcept { return objective_.name(); }

    bool maximization() const noexcept { return maximization_; }
    void set_maximization(bool value);

    // Changes with every edit that alters the program, so solutions can be cached against it.
    std::uint64_t revision() const noexcept { return revision_; }

private:
    void check_columns(const linear_row& row, const std::string& what) const;

    std::string model_name_;
    std::vector<var_block_info> blocks_;
    std::unordered_map<std::string, index_t> block_by_name_;
    index_t col_count_ = 0;

    std::vector<index_t> row_start_{0};
    std::vector<index_t> row_column_;
    std::vector<double> row_value_;
    std::vector<double> row_lower_;
    std::vector<double> row_upper_;
    std::vector<std::string> row_names_;

    linear_row objective_;
    bool maximization_ = false;
    std::uint64_t revision_ = 0;
};

}  // namespace zorv::lp
