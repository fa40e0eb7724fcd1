#pragma once
#include <string>
#include <vector>

#include "lp/index.hpp"
#include "lp/var_type.hpp"

namespace zorv::lp {

// Dimension sizes of a variable block; its columns are numbered row-major.
class var_block_shape {
public:
    explicit var_block_shape(std::vector<index_t> dims);

    const std::vector<index_t>& dims() const noexcept { return dims_; }
    index_t item_count() const noexcept { return item_count_; }

private:
    std::vector<index_t> dims_;
    index_t item_count_ = 1;
};

// One block of columns: its name, shape, domain, bounds and first column in the storage.
class var_block_info {
public:
    var_block_info(std::string name, var_block_shape shape, var_type type, double lower,
                   double upper, index_t initial_shift);

    const std::string& name() const noexcept { return name_; }
    const var_block_shape& shape() const noexcept { return shape_; }
    var_type type() const noexcept { return type_; }
    double lower_bound() const noexcept { return lower_; }
    double upper_bound() const noexcept { return upper_; }
    index_t initial_shift() const noexcept { return initial_shift_; }
    index_t item_count() const noexcept { return shape_.item_count(); }

private:
    std::string name_;
    var_block_shape shape_;
    var_type type_;
    double lower_ = 0.0;
    double upper_ = 0.0;
    index_t initial_shift_;
};

}  // namespace zorv::lp
