#pragma once
#include <cstdint>
#include <limits>

namespace zorv::pbct {

// Sums of many 64-bit coefficients need headroom; 128 bits hold n * 2^64 for any n we can store.
__extension__ typedef __int128 i128;
__extension__ typedef unsigned __int128 u128;

inline bool fits64(i128 v) {
    return v >= std::numeric_limits<std::int64_t>::min() && v <= std::numeric_limits<std::int64_t>::max();
}

inline int popcount(u128 v) {
    return __builtin_popcountll(static_cast<std::uint64_t>(v)) +
           __builtin_popcountll(static_cast<std::uint64_t>(v >> 64));
}

inline int bit_width(u128 v) {
    int w = 0;
    for (; v != 0; v >>= 1) {
        ++w;
    }
    return w;
}

inline bool test_bit(u128 v, int j) { return j < 128 && ((v >> j) & 1) != 0; }

}  // namespace zorv::pbct
