#pragma once
// New Python objects made through the C API, each checked: a failed allocation leaves Python's
// MemoryError set, and python_error carries it to the caller. nanobind's own constructors would
// not: nb::list() and nb::dict() keep a null pointer that the next append dereferences, and
// nb::str(text) turns the MemoryError into a RuntimeError.
#include <nanobind/nanobind.h>

#include <cstdint>
#include <string>
#include <filesystem>
#include <span>
#include <string_view>
#include <type_traits>

#include "common/errors.hpp"

namespace zorv::py {

template <class T = nanobind::object>
T checked(PyObject* made) {
    if (made == nullptr) {
        throw nanobind::python_error();
    }
    return nanobind::steal<T>(made);
}

inline nanobind::list new_list(std::size_t size = 0) {
    return checked<nanobind::list>(PyList_New(static_cast<Py_ssize_t>(size)));
}

inline nanobind::dict new_dict() { return checked<nanobind::dict>(PyDict_New()); }

inline nanobind::set new_set() { return checked<nanobind::set>(PySet_New(nullptr)); }

inline nanobind::str text(std::string_view s) {
    return checked<nanobind::str>(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

template <class T>
nanobind::object integer(T value) {
    static_assert(std::is_integral_v<T>);
    if constexpr (std::is_signed_v<T>) {
        return checked(PyLong_FromLongLong(static_cast<long long>(value)));
    } else {
        return checked(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value)));
    }
}

inline void append(const nanobind::list& list, nanobind::handle item) {
    if (PyList_Append(list.ptr(), item.ptr()) != 0) {
        throw nanobind::python_error();
    }
}

inline void set_item(const nanobind::dict& dict, nanobind::handle key, nanobind::handle value) {
    if (PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()) != 0) {
        throw nanobind::python_error();
    }
}

inline void add(const nanobind::set& set, nanobind::handle item) {
    if (PySet_Add(set.ptr(), item.ptr()) != 0) {
        throw nanobind::python_error();
    }
}

// A list of integers, filled in place; a list left part-filled by a failure frees what it holds.
template <class T>
nanobind::list int_list(std::span<const T> values) {
    nanobind::list out = new_list(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), integer(values[i]).release().ptr());
    }
    return out;
}

// The UTF-8 text of a str, viewed in place; nullptr, with nothing raised, for a str that has no
// UTF-8 form (a lone surrogate). Any other failure (MemoryError) is raised.
inline const char* utf8_of(PyObject* str, Py_ssize_t& size) {
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeError)) {
            throw nanobind::python_error();
        }
        PyErr_Clear();
    }
    return data;
}

// The UTF-8 text of a str argument, read here rather than by nanobind's caster, which reports a
// failed allocation (of the UTF-8 form) as "incompatible function arguments".
inline std::string_view text_arg(nanobind::handle arg, const char* what) {
    if (!PyUnicode_Check(arg.ptr())) {
        throw type_error(std::string(what) + " must be a str, not " + Py_TYPE(arg.ptr())->tp_name);
    }
    Py_ssize_t size = 0;
    const char* data = utf8_of(arg.ptr(), size);
    if (data == nullptr) {
        throw value_error(std::string(what) + " is not valid Unicode");
    }
    return {data, static_cast<std::size_t>(size)};
}

// A file name (str, bytes or path-like) as the file system takes it, converted here rather than
// by an argument caster: a caster that fails for lack of memory reports "incompatible function
// arguments" instead of the MemoryError.
inline std::filesystem::path path_from(nanobind::handle filename) {
    const nanobind::object name = checked(PyOS_FSPath(filename.ptr()));
    PyObject* encoded = nullptr;
    if (PyUnicode_FSConverter(name.ptr(), &encoded) == 0) {
        throw nanobind::python_error();
    }
    const nanobind::object held = nanobind::steal(encoded);
    return std::filesystem::path(std::string(PyBytes_AS_STRING(encoded), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded))));
}

}  // namespace zorv::py
