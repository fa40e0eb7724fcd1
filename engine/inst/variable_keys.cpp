#include "inst/variable_keys.hpp"

#include <algorithm>
#include <limits>

namespace zorv::inst {

std::uint64_t variable_key_block::size() const {
    std::uint64_t count = 1;
    for (std::int64_t extent : sizes) {
        if (extent <= 0) {
            return 0;
        }
        if (__builtin_mul_overflow(count, static_cast<std::uint64_t>(extent), &count) || count >> 63 != 0) {
            throw limit_error("too many variable elements");
        }
    }
    return count;
}

std::uint64_t digits_below(std::uint64_t count) {
    std::uint64_t total = 0;
    std::uint64_t low = 0;
    for (std::uint64_t width = 1, high = 10; low < count; ++width, low = high, high *= 10) {
        total += width * (std::min(count, high) - low);
        if (high > std::numeric_limits<std::uint64_t>::max() / 10) {
            break;  // every count has fewer than 20 digits
        }
    }
    return total;
}

std::uint64_t text_size(const variable_key_block& keys) {
    const std::uint64_t count = keys.size();
    if (count == 0) {
        return 0;
    }
    const std::size_t dims = keys.sizes.size();
    // name, brackets and commas, then each index's digits, taken count / size times
    std::uint64_t total = count * (keys.name.size() + 2 + (dims > 0 ? dims - 1 : 0));
    for (std::int64_t size : keys.sizes) {
        const auto extent = static_cast<std::uint64_t>(size);
        total += digits_below(extent) * (count / extent);
    }
    return total;
}

}  // namespace zorv::inst
