#include "lp/lp_storage.hpp"

#include <stdexcept>

#include "common/errors.hpp"
#include "common/room.hpp"

namespace zorv::lp {

namespace {

std::string quoted(const std::string& name) { return "'" + name + "'"; }

const std::string& chosen_name(const linear_row& row, const std::string& name) {
    return name.empty() ? row.name() : name;
}

}  // namespace

index_t lp_storage::add_block(std::string name, std::vector<index_t> dims, var_type type,
                              double lower, double upper) {
    if (block_by_name_.contains(name)) {
        // Solutions are read back by block name, so a second block of that name would be unreachable.
        throw value_error("a variable block named " + quoted(name) + " already exists");
    }
    var_block_shape shape(std::move(dims));
    if (shape.item_count() > max_solver_index - col_count_) {
        throw limit_error("a linear storage cannot have more than " +
                          std::to_string(max_solver_index) + " columns");
    }
    const index_t index = block_count();
    // Everything that can fail comes first, so that a failure leaves the storage as it was.
    var_block_info block(name, std::move(shape), type, lower, upper, col_count_);
    make_room(blocks_, blocks_.size() + 1);
    block_by_name_.emplace(std::move(name), index);
    blocks_.push_back(std::move(block));  // moved into reserved room: cannot fail
    col_count_ += blocks_.back().item_count();
    ++revision_;
    return index;
}

const var_block_info& lp_storage::block(index_t index) const {
    if (index < 0 || index >= block_count()) {
        throw std::out_of_range("no variable block " + std::to_string(index) + " (the storage has " +
                                std::to_string(block_count()) + ")");
    }
    return blocks_[static_cast<std::size_t>(index)];
}

std::optional<index_t> lp_storage::find_block(std::string_view name) const {
    const auto it = block_by_name_.find(std::string(name));
    if (it == block_by_name_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void lp_storage::check_columns(const linear_row& row, const std::string& what) const {
    const auto cols = row.columns();
    if (!cols.empty() && cols.back() >= col_count_) {
        throw std::out_of_range(what + " uses column " + std::to_string(cols.back()) +
                                " but the storage has " + std::to_string(col_count_) + " columns");
    }
}

index_t lp_storage::add_row(const linear_row& row, const std::string& name) {
    const std::string& row_name = chosen_name(row, name);
    const std::string what = "constraint row " + quoted(row_name);
    if (row.type() == ineq_type::unknown && row.is_border_free()) {
        // Almost always a forgotten comparison; a row without bounds constrains nothing.
        throw value_error(what + " has no bound: compare it with ==, >= or <= before adding it");
    }
    check_columns(row, what);
    if (row_count() >= max_solver_index ||
        static_cast<index_t>(row.columns().size()) > max_solver_index - row_start_.back()) {
        throw limit_error("a linear storage cannot hold more than " +
                          std::to_string(max_solver_index) + " rows or non-zeros");
    }
    // Room first, so that a failure leaves the storage as it was: past the name nothing can fail.
    make_room(row_column_, row_column_.size() + row.columns().size());
    make_room(row_value_, row_value_.size() + row.values().size());
    make_room(row_start_, row_start_.size() + 1);
    make_room(row_lower_, row_lower_.size() + 1);
    make_room(row_upper_, row_upper_.size() + 1);
    row_names_.push_back(row_name);
    row_column_.insert(row_column_.end(), row.columns().begin(), row.columns().end());
    row_value_.insert(row_value_.end(), row.values().begin(), row.values().end());
    row_start_.push_back(static_cast<index_t>(row_column_.size()));
    // lower <= a.x + c <= upper  is  lower - c <= a.x <= upper - c.
    row_lower_.push_back(row.left_border() - row.constant());
    row_upper_.push_back(row.right_border() - row.constant());
    ++revision_;
    return row_count() - 1;
}

const std::string& lp_storage::row_name(index_t index) const {
    if (index < 0 || index >= row_count()) {
        throw std::out_of_range("no constraint row " + std::to_string(index) + " (the storage has " +
                                std::to_string(row_count()) + ")");
    }
    return row_names_[static_cast<std::size_t>(index)];
}

void lp_storage::set_objective(const linear_row& row, const std::string& name) {
    const std::string what = "objective row " + quoted(chosen_name(row, name));
    if (!row.is_border_free()) {
        throw value_error(what + " carries a bound; an objective is a plain expression");
    }
    check_columns(row, what);
    linear_row objective(row);
    objective.set_name(chosen_name(row, name));
    objective_ = std::move(objective);
    ++revision_;
}

void lp_storage::set_maximization(bool value) {
    maximization_ = value;
    ++revision_;
}

}  // namespace zorv::lp
