#include "inst/variable_keys.hpp"

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

}  // namespace zorv::inst
