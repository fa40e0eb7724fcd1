#pragma once
#include <memory>
#include <vector>

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

// Hands a vector to Python as a 1-D numpy array without copying; the array owns the vector.
// With Element = const T the array is read-only.
template <class T, class Element = T>
nanobind::ndarray<nanobind::numpy, Element, nanobind::ndim<1>> to_numpy(std::vector<T>&& values) {
    auto holder = std::make_unique<std::vector<T>>(std::move(values));
    T* data = holder->data();
    const std::size_t size = holder->size();
    nanobind::capsule owner(holder.get(),
                            [](void* p) noexcept { delete static_cast<std::vector<T>*>(p); });
    holder.release();
    return nanobind::ndarray<nanobind::numpy, Element, nanobind::ndim<1>>(data, {size}, owner);
}
