#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include <nanobind/nanobind.h>

// The bytes of a vector, owned by a Python object that lends them through the buffer protocol.
struct vector_buffer {
    std::shared_ptr<const void> owner;
    void* data = nullptr;
    std::size_t bytes = 0;
    bool writable = false;
};

void bind_vector_buffer(nanobind::module_& m);

// A 1-D numpy array of `dtype` that owns the buffer's bytes.
nanobind::object numpy_array(vector_buffer&& buffer, const char* dtype);

// Hands a vector to Python as a 1-D numpy array without copying; the array owns the vector.
// With Element = const T the array is read-only. numpy.frombuffer makes it, not nanobind's
// ndarray: that ends the process when an allocation of its own fails.
template <class T, class Element = T>
nanobind::object to_numpy(std::vector<T>&& values) {
    static_assert(std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::int32_t> ||
                  std::is_same_v<T, double>);
    const char* dtype = std::is_same_v<T, double> ? "float64" : sizeof(T) == 8 ? "int64" : "int32";
    auto held = std::make_shared<std::vector<T>>(std::move(values));
    vector_buffer buffer{held, held->data(), held->size() * sizeof(T), !std::is_const_v<Element>};
    return numpy_array(std::move(buffer), dtype);
}
