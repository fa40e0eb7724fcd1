#pragma once
// Conversions of clause arguments from Python objects, written against the C API so that one
// add_hard_clause([a, b, c]) call stays far below a microsecond.
#include <nanobind/nanobind.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cnf/literal.hpp"
#include "common/errors.hpp"

namespace zorv::py {

inline std::string type_name(PyObject* o) { return Py_TYPE(o)->tp_name; }

// How the engine refuses a number past its range, given the number's decimal text and whether
// it is negative: for numbers past 64 bits, which cannot reach the engine.
using past_range = void (*)(const char* what, const std::string& number, bool negative);

// Exact int, an int subclass other than bool, or an object with __index__ (numpy integers).
// Bools are refused: True as variable 1 is nearly always a mistake. A number past 64 bits meets
// `past`, or else is out of range.
inline std::int64_t integer_from(PyObject* o, const char* what, past_range past = nullptr) {
    if (!PyLong_CheckExact(o)) {
        if (PyBool_Check(o) || !(PyLong_Check(o) || PyIndex_Check(o))) {
            throw type_error(std::string(what) + " must be an integer, not " + type_name(o));
        }
        // __index__ is Python code: it may drop every other reference to `o` (take it out of
        // the dict or list being read), so `o` is held until we are done with it.
        const nanobind::object held = nanobind::borrow(o);
        nanobind::object index = nanobind::steal(PyNumber_Index(o));
        if (!index.is_valid()) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
                throw nanobind::python_error();  // __index__'s own failure
            }
            PyErr_Clear();
            throw type_error(std::string(what) + " must be an integer, not " + type_name(o));
        }
        return integer_from(index.ptr(), what, past);
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow != 0) {
        const nanobind::str text = nanobind::str(nanobind::handle(o));
        if (past != nullptr) {
            past(what, text.c_str(), overflow < 0);
        }
        throw value_error(std::string(what) + " " + text.c_str() + " is out of range");
    }
    return value;
}

[[noreturn]] inline void past_variables(const char*, const std::string& number, bool) {
    cnf::throw_past_variables("literal", number);
}

inline cnf::literal literal_from(PyObject* o) {
    const std::int64_t value = integer_from(o, "a literal", past_variables);
    cnf::check_literal(value);
    return static_cast<cnf::literal>(value);
}

// A clause as a list or tuple (read in place) or any other iterable of integers.
// Short clauses stay on the stack.
class clause_reader {
public:
    explicit clause_reader(nanobind::handle clause) {
        PyObject* o = clause.ptr();
        // A list is read in place only while every item is an exact int: anything else may
        // run Python code (__index__) that could change the list under us.
        if (PyList_CheckExact(o) && read_exact_ints(PySequence_Fast_ITEMS(o), PyList_GET_SIZE(o))) {
            return;
        }
        if (PyTuple_CheckExact(o)) {
            read(PySequence_Fast_ITEMS(o), PyTuple_GET_SIZE(o));
            return;
        }
        if (PyUnicode_Check(o) || PyBytes_Check(o) || PyByteArray_Check(o)) {
            throw type_error("a clause must be a list of integers, not " + type_name(o));
        }
        nanobind::object items = nanobind::steal(PySequence_Tuple(o));
        if (!items.is_valid()) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) {
                throw nanobind::python_error();  // the iterable's own failure
            }
            PyErr_Clear();
            throw type_error("a clause must be a list of integers, not " + type_name(o));
        }
        read(PySequence_Fast_ITEMS(items.ptr()), PyTuple_GET_SIZE(items.ptr()));
    }

    std::span<const cnf::literal> literals() const { return view_; }

private:
    cnf::literal* buffer(std::size_t size) {
        if (size <= small_.size()) {
            return small_.data();
        }
        large_.resize(size);
        return large_.data();
    }

    bool read_exact_ints(PyObject** items, Py_ssize_t n) {
        const auto size = static_cast<std::size_t>(n);
        cnf::literal* out = buffer(size);
        for (std::size_t i = 0; i < size; ++i) {
            if (!PyLong_CheckExact(items[i])) {
                return false;
            }
            out[i] = literal_from(items[i]);
        }
        view_ = std::span<const cnf::literal>(out, size);
        return true;
    }

    void read(PyObject** items, Py_ssize_t n) {
        const auto size = static_cast<std::size_t>(n);
        cnf::literal* out = buffer(size);
        for (std::size_t i = 0; i < size; ++i) {
            out[i] = literal_from(items[i]);
        }
        view_ = std::span<const cnf::literal>(out, size);
    }

    std::array<cnf::literal, 32> small_;
    std::vector<cnf::literal> large_;
    std::span<const cnf::literal> view_;
};

// Soft weights: positive integers.
inline cnf::weight weight_from(nanobind::handle w) {
    const std::int64_t value = integer_from(w.ptr(), "a soft weight");
    if (value <= 0) {
        throw value_error("a soft clause needs a positive weight, got " + std::to_string(value));
    }
    return static_cast<cnf::weight>(value);
}

}  // namespace zorv::py
