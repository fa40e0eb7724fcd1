#pragma once
#include <cstdint>

namespace zorv::pbct {

// Sums of many 64-bit coefficients need headroom; 128 bits hold n * 2^64 for any n we can store.
__extension__ typedef __int128 i128;

}  // namespace zorv::pbct
