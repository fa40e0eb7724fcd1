#pragma once
#include <algorithm>
#include <cstddef>
#include <vector>

namespace zorv {

// Room for `size` elements, taken ahead so that the appends after it cannot fail. An exact
// reserve at each call would move the whole array each time, so some headroom is taken.
template <class T>
void make_room(std::vector<T>& v, std::size_t size) {
    if (size > v.capacity()) {
        v.reserve(std::max(size, v.capacity() + v.capacity() / 8));
    }
}

}  // namespace zorv
