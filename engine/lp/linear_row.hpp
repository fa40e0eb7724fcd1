#pragma once
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "lp/index.hpp"
#include "lp/ineq_type.hpp"

namespace zorv::lp {

// One linear row: coefficients over `width` columns, a constant, a lower (left) and an upper (right)
// border, a name and the comparison that set the borders.
//
// Coefficients are sparse, sorted by column and free of zeros: rows of wide models usually touch
// few columns, and sorted entries let two rows merge in linear time.
class linear_row {
public:
    index_t width() const noexcept { return width_; }
    void set_width(index_t width);

    const std::string& name() const noexcept { return name_; }
    void set_name(std::string name) { name_ = std::move(name); }
    ineq_type type() const noexcept { return type_; }
    void set_type(ineq_type type) noexcept { type_ = type; }

    // Coefficient 1 at column `col`.
    void set_one(index_t col);
    // Coefficient 1 at column shift + i for each i; a repeated i counts once.
    void set_ones(std::span<const index_t> indexes, index_t shift);
    // Coefficient coefs[k] at column shift + k (a zero clears that column).
    void set_coefficients(index_t shift, std::span<const double> coefs);

    std::span<const index_t> columns() const noexcept { return cols_; }
    std::span<const double> values() const noexcept { return vals_; }
    std::vector<double> dense() const;

    double constant() const noexcept { return constant_; }
    void set_constant(double value);

    double left_border() const noexcept { return left_; }
    double right_border() const noexcept { return right_; }
    void set_left_border(double value);
    void set_right_border(double value);
    void set_borders(double lower, double upper);
    // A border equal to its infinite default counts as unset.
    bool is_border_free() const noexcept { return left_ == -infinity && right_ == infinity; }

    // In-place arithmetic for derived rows; a derived row starts without borders or comparison.
    void clear_borders() noexcept;
    void add_constant(double value);
    void scale(double factor);
    void add_row(const linear_row& other, double factor);

private:
    index_t column(index_t shift, index_t offset) const;
    void assign_sorted(std::span<const index_t> cols, std::span<const double> vals);
    enum class merge_mode { replace, add };
    void merge_from(std::span<const index_t> cols, std::span<const double> vals, double factor,
                    merge_mode mode);

    index_t width_ = 0;
    std::vector<index_t> cols_;
    std::vector<double> vals_;
    double constant_ = 0.0;
    double left_ = -infinity;
    double right_ = infinity;
    std::string name_;
    ineq_type type_ = ineq_type::unknown;
};

}  // namespace zorv::lp
