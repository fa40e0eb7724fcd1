#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nanobind/nanobind.h>

#include "common/errors.hpp"

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

// The items of a 1-D C-contiguous buffer of int64 or float64 (a numpy array), read in place for the
// call; read here rather than by nanobind's ndarray, which ends the process when an allocation of
// its own fails.
template <class T>
class buffer_items {
public:
    buffer_items(nanobind::handle array, const char* what) {
        static_assert(std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>);
        if (PyObject_GetBuffer(array.ptr(), &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
            throw nanobind::python_error();
        }
        const std::string_view format = view_.format != nullptr ? view_.format : "B";
        const char kind = format.empty() ? '?' : format.back();
        const bool fits = std::is_same_v<T, double> ? kind == 'd' : (kind == 'l' || kind == 'q');
        if (view_.ndim != 1 || view_.itemsize != static_cast<Py_ssize_t>(sizeof(T)) || !fits ||
            format.find_first_of("!>") != std::string_view::npos) {
            PyBuffer_Release(&view_);
            throw zorv::type_error(std::string(what) + " must be a one-dimensional contiguous " +
                                   (std::is_same_v<T, double> ? "float64" : "int64") + " array");
        }
    }
    ~buffer_items() { PyBuffer_Release(&view_); }
    buffer_items(const buffer_items&) = delete;
    buffer_items& operator=(const buffer_items&) = delete;

    std::span<const T> items() const {
        return {static_cast<const T*>(view_.buf), static_cast<std::size_t>(view_.shape[0])};
    }

private:
    Py_buffer view_{};
};
