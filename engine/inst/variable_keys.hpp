#pragma once
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.hpp"

namespace zorv::inst {

// The element keys of one model variable, x[0,0], x[0,1], ..., held as the numbers they are
// made of: every combination of index values in row-major order (the last index fastest), each
// numbered start + sum of value * stride.
struct variable_key_block {
    std::string name;
    std::int64_t start = 0;
    std::vector<std::int64_t> sizes;
    std::vector<std::int64_t> strides;

    // Elements of the variable: the product of the sizes, 0 when a size is not positive.
    // Throws limit_error when the count does not fit in 63 bits.
    std::uint64_t size() const;
};

// Characters of the decimal texts of 0, 1, ..., count - 1.
std::uint64_t digits_below(std::uint64_t count);

// The length of all keys of a block together, so that their text can be sized once.
std::uint64_t text_size(const variable_key_block& keys);

// Calls emit(key text, number) for every element in row-major order. Throws limit_error when
// a number does not fit in 64 bits.
template <class Emit>
void for_each_key(const variable_key_block& keys, Emit&& emit) {
    if (keys.size() == 0) {
        return;
    }
    const std::size_t dims = keys.sizes.size();
    std::vector<std::int64_t> values(dims, 0);
    std::string key = keys.name + "[";
    const std::size_t head = key.size();
    char digits[24];
    for (std::uint64_t remaining = keys.size(); remaining > 0; --remaining) {
        key.resize(head);
        std::int64_t number = keys.start;
        for (std::size_t d = 0; d < dims; ++d) {
            std::int64_t weighted = 0;
            if (__builtin_mul_overflow(values[d], keys.strides[d], &weighted) ||
                __builtin_add_overflow(number, weighted, &number)) {
                throw limit_error("variable numbers do not fit in 64 bits");
            }
            if (d > 0) {
                key.push_back(',');
            }
            key.append(digits, std::to_chars(digits, digits + sizeof digits, values[d]).ptr);
        }
        key.push_back(']');
        emit(std::string_view(key), number);
        // next combination, the last index fastest
        for (std::size_t d = dims; d-- > 0;) {
            if (++values[d] < keys.sizes[d]) {
                break;
            }
            values[d] = 0;
        }
    }
}

}  // namespace zorv::inst
