#include "lp/linear_row.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "common/errors.hpp"
#include "lp/finite.hpp"

namespace zorv::lp {

namespace {

std::string describe_column(index_t col, index_t width) {
    return "column " + std::to_string(col) + " is outside the row's " + std::to_string(width) +
           " columns";
}

}  // namespace

void linear_row::set_width(index_t width) {
    if (width < 0) {
        throw value_error("a row's column count cannot be negative, got " + std::to_string(width));
    }
    // Checked here, before anything (dense(), a storage) allocates per column.
    if (width > max_solver_index) {
        throw value_error("a row's column count is at most " + std::to_string(max_solver_index) +
                          ", the columns a linear storage can index; got " + std::to_string(width));
    }
    if (!cols_.empty() && cols_.back() >= width) {
        throw value_error("the row has a coefficient in column " + std::to_string(cols_.back()) +
                          ", beyond the new column count " + std::to_string(width));
    }
    width_ = width;
}

index_t linear_row::column(index_t shift, index_t offset) const {
    if (offset < 0) {
        throw std::out_of_range("index " + std::to_string(offset) + " is negative");
    }
    index_t col = 0;
    if (__builtin_add_overflow(shift, offset, &col) || col < 0 || col >= width_) {
        throw std::out_of_range(describe_column(col, width_));
    }
    return col;
}

void linear_row::set_one(index_t col) {
    if (col < 0 || col >= width_) {
        throw std::out_of_range(describe_column(col, width_));
    }
    const index_t cols[] = {col};
    const double vals[] = {1.0};
    assign_sorted(cols, vals);
}

void linear_row::set_ones(std::span<const index_t> indexes, index_t shift) {
    std::vector<index_t> cols;
    cols.reserve(indexes.size());
    for (index_t i : indexes) {
        cols.push_back(column(shift, i));
    }
    if (!std::is_sorted(cols.begin(), cols.end())) {
        std::sort(cols.begin(), cols.end());
    }
    cols.erase(std::unique(cols.begin(), cols.end()), cols.end());
    assign_sorted(cols, std::vector<double>(cols.size(), 1.0));
}

void linear_row::set_coefficients(index_t shift, std::span<const double> coefs) {
    if (coefs.empty()) {
        return;
    }
    // The columns run from shift on, so checking both ends checks them all.
    column(shift, 0);
    column(shift, static_cast<index_t>(coefs.size()) - 1);
    std::vector<index_t> cols(coefs.size());
    for (std::size_t k = 0; k < coefs.size(); ++k) {
        require_finite(coefs[k], "a coefficient");
        cols[k] = shift + static_cast<index_t>(k);
    }
    assign_sorted(cols, coefs);
}

// Give the columns `cols` (sorted, distinct) the values `vals`; a zero clears its column.
void linear_row::assign_sorted(std::span<const index_t> cols, std::span<const double> vals) {
    if (!cols_.empty()) {
        merge_from(cols, vals, 1.0, merge_mode::replace);
        return;
    }
    std::vector<index_t> kept_cols;
    std::vector<double> kept_vals;
    kept_cols.reserve(cols.size());
    kept_vals.reserve(cols.size());
    for (std::size_t k = 0; k < cols.size(); ++k) {
        if (vals[k] != 0.0) {
            kept_cols.push_back(cols[k]);
            kept_vals.push_back(vals[k]);
        }
    }
    cols_ = std::move(kept_cols);
    vals_ = std::move(kept_vals);
}

// Merge sorted entries into this row's: `replace` gives a shared column the new value, `add` adds
// factor times it. Zeros are dropped (x - x leaves no entry), so the entries stay truly sparse.
void linear_row::merge_from(std::span<const index_t> cols_b, std::span<const double> vals_b,
                            double factor, merge_mode mode) {
    std::vector<index_t> cols;
    std::vector<double> vals;
    cols.reserve(cols_.size() + cols_b.size());
    vals.reserve(cols_.size() + cols_b.size());
    auto keep = [&](index_t c, double v) {
        if (v != 0.0) {
            cols.push_back(c);
            vals.push_back(require_finite(v, "a coefficient"));
        }
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < cols_.size() || j < cols_b.size()) {
        if (j == cols_b.size() || (i < cols_.size() && cols_[i] < cols_b[j])) {
            keep(cols_[i], vals_[i]);
            ++i;
        } else if (i == cols_.size() || cols_b[j] < cols_[i]) {
            keep(cols_b[j], factor * vals_b[j]);
            ++j;
        } else {
            keep(cols_[i], (mode == merge_mode::add ? vals_[i] : 0.0) + factor * vals_b[j]);
            ++i;
            ++j;
        }
    }
    cols_ = std::move(cols);
    vals_ = std::move(vals);
}

std::vector<double> linear_row::dense() const {
    std::vector<double> out(static_cast<std::size_t>(width_), 0.0);
    for (std::size_t k = 0; k < cols_.size(); ++k) {
        out[static_cast<std::size_t>(cols_[k])] = vals_[k];
    }
    return out;
}

void linear_row::set_constant(double value) { constant_ = require_finite(value, "a row's constant"); }

namespace {

double checked_left(double value) {
    if (std::isnan(value) || value == infinity) {
        throw value_error("a lower bound must be a number below +infinity, got " +
                          std::to_string(value));
    }
    return value;
}

double checked_right(double value) {
    if (std::isnan(value) || value == -infinity) {
        throw value_error("an upper bound must be a number above -infinity, got " +
                          std::to_string(value));
    }
    return value;
}

}  // namespace

void linear_row::set_left_border(double value) { left_ = checked_left(value); }

void linear_row::set_right_border(double value) { right_ = checked_right(value); }

void linear_row::set_borders(double lower, double upper) {
    const double lo = checked_left(lower);
    right_ = checked_right(upper);
    left_ = lo;
}

void linear_row::clear_borders() noexcept {
    left_ = -infinity;
    right_ = infinity;
    type_ = ineq_type::unknown;
}

void linear_row::add_constant(double value) {
    set_constant(constant_ + require_finite(value, "a number added to a row"));
}

void linear_row::scale(double factor) {
    require_finite(factor, "a row's factor");
    const double constant = require_finite(constant_ * factor, "the scaled constant");
    std::vector<index_t> cols;
    std::vector<double> vals;
    if (factor != 0.0) {
        cols = cols_;
        vals.reserve(vals_.size());
        for (double v : vals_) {
            vals.push_back(require_finite(v * factor, "a scaled coefficient"));
        }
    }
    cols_ = std::move(cols);
    vals_ = std::move(vals);
    constant_ = constant;
}

void linear_row::add_row(const linear_row& other, double factor) {
    require_finite(factor, "a row's factor");
    const double constant = require_finite(constant_ + factor * other.constant_, "the summed constant");
    merge_from(other.cols_, other.vals_, factor, merge_mode::add);  // safe when other is *this
    constant_ = constant;
    width_ = std::max(width_, other.width_);
}

}  // namespace zorv::lp
