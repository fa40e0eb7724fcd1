#include <climits>
#include <functional>
#include <span>
#include <tuple>
#include <utility>

#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include "bindings/module.hpp"
#include "bindings/py_objects.hpp"
#include "common/errors.hpp"
#include "pbct/aux_var_manager.hpp"
#include "pbct/clause_database.hpp"
#include "pbct/pb2cnf.hpp"
#include "pbct/pb_config.hpp"
#include "pbct/pb_constraint.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using namespace zorv::pbct;

namespace {

// The constructions a test can force, by the names `_construction` takes.
constexpr std::pair<PBConfig::Forced, const char*> constructions[] = {
    {PBConfig::Forced::compact_adder, "compact_adder"},
    {PBConfig::Forced::binary_merge, "binary_merge"},
    {PBConfig::Forced::generalized_totalizer, "generalized_totalizer"},
    {PBConfig::Forced::decision_diagram, "decision_diagram"},
    {PBConfig::Forced::sorting_network, "sorting_network"},
};

// Python integers (and anything with __index__) -> int64; floats and text are refused.
std::int64_t to_int64(nb::handle value, const char* what) {
    if (PyFloat_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
        throw zorv::type_error(std::string(what) + " must be an integer, not " +
                               nb::type_name(value.type()).c_str());
    }
    nb::object index = nb::steal(PyNumber_Index(value.ptr()));
    if (!index.is_valid()) {
        throw nb::python_error();
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0) {
        throw zorv::limit_error(std::string(what) + " does not fit in 64 bits");
    }
    if (v == -1 && PyErr_Occurred()) {
        throw nb::python_error();
    }
    return v;
}

// The bounds given after the comparator; PBConstraint takes exactly one.
std::vector<std::int64_t> bounds_of(nb::handle bound, nb::handle second) {
    std::vector<std::int64_t> values;
    for (const nb::handle b : {bound, second}) {
        if (!b.is_none()) {
            values.push_back(to_int64(b, "bound"));
        }
    }
    return values;
}

std::vector<WeightedLit> to_weighted_lits(nb::handle literals) {
    std::vector<WeightedLit> out;
    for (nb::handle item : nb::iter(literals)) {
        WeightedLit* wl = nullptr;
        if (nb::isinstance<WeightedLit>(item) && !nb::inst_ready(item)) {
            throw zorv::type_error(
                "PBConstraint literals must be initialised WeightedLit objects; this one was "
                "never initialised (its __init__ did not run)");
        }
        if (!nb::try_cast(item, wl) || wl == nullptr) {
            throw zorv::type_error(std::string("PBConstraint literals must be WeightedLit, not ") +
                                   nb::type_name(item.type()).c_str());
        }
        out.push_back(*wl);
    }
    return out;
}

// The terms of two lists of the same length, literals and coefficients, as PBConstraint takes
// them: a long row then makes no engine object per term.
std::vector<WeightedLit> to_terms(nb::handle literals, nb::handle coefficients) {
    if (!PyList_CheckExact(literals.ptr()) || !PyList_CheckExact(coefficients.ptr())) {
        throw zorv::type_error("PBConstraint terms must come as two lists");
    }
    const auto size = [](nb::handle list) { return static_cast<std::size_t>(PyList_GET_SIZE(list.ptr())); };
    if (size(literals) != size(coefficients)) {
        throw zorv::value_error("PBConstraint terms: " + std::to_string(size(literals)) + " literals but " +
                                std::to_string(size(coefficients)) + " coefficients");
    }
    std::vector<WeightedLit> out;
    out.reserve(size(literals));
    // The lengths are read again at each step: an item's __index__ may change either list.
    for (std::size_t i = 0; i < size(literals) && i < size(coefficients); ++i) {
        const nb::object lit = nb::borrow(PyList_GET_ITEM(literals.ptr(), static_cast<Py_ssize_t>(i)));
        const nb::object coef = nb::borrow(PyList_GET_ITEM(coefficients.ptr(), static_cast<Py_ssize_t>(i)));
        out.emplace_back(to_int64(lit, "literal"), to_int64(coef, "coefficient"));
    }
    if (out.size() != size(literals) || out.size() != size(coefficients)) {
        throw zorv::value_error("PBConstraint terms changed while they were read");
    }
    return out;
}

nb::list clauses_of(const VectorClauseDatabase& db) {
    const nb::list out = zorv::py::new_list(db.size());
    for (std::size_t i = 0; i < db.size(); ++i) {
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), zorv::py::int_list(db.clause(i)).release().ptr());
    }
    return out;
}

}  // namespace

void bind_pbct(nb::module_& m) {
    nb::enum_<EncoderType>(m, "PB_Encoder_type").value("ADDER", EncoderType::ADDER);
    nb::enum_<Comparator>(m, "Comparator_type")
        .value("LEQ", Comparator::LEQ)
        .value("GEQ", Comparator::GEQ)
        .value("BOTH", Comparator::BOTH);

    nb::class_<PBConfig>(m, "PBConfig")
        .def(nb::init<>())
        .def_rw("pb_encoder", &PBConfig::pb_encoder)
        .def_prop_rw(
            "_construction",
            [](const PBConfig& c) -> std::string {
                for (const auto& [forced, name] : constructions) {
                    if (c.forced == forced) return name;
                }
                return "";
            },
            [](PBConfig& c, const std::string& name) {
                if (name.empty()) {
                    c.forced = PBConfig::Forced::none;
                    return;
                }
                for (const auto& [forced, known] : constructions) {
                    if (name == known) {
                        c.forced = forced;
                        return;
                    }
                }
                throw zorv::value_error("unknown construction: " + name);
            })
        .def_prop_rw(
            "max_clauses_per_constraint", &PBConfig::max_clauses_per_constraint,
            [](PBConfig& c, nb::handle v) {
                c.set_max_clauses_per_constraint(to_int64(v, "max_clauses_per_constraint"));
            });

    nb::class_<AuxVarManager>(m, "AuxVarManager")
        .def("__init__",
             [](AuxVarManager* self, nb::handle first) {
                 new (self) AuxVarManager(to_int64(first, "first variable"));
             },
             "first"_a)
        .def("get_variable", &AuxVarManager::get_variable)
        .def_prop_ro("_next", &AuxVarManager::peek, "The number get_variable() gives next, drawing nothing.")
        .def(
            "_get_variables",
            [](AuxVarManager& allocator, std::size_t count) {
                // Drawn from a copy, so that a failure draws nothing.
                AuxVarManager drawn = allocator;
                std::vector<std::int64_t> numbers;
                numbers.reserve(count);
                for (std::size_t i = 0; i < count; ++i) numbers.push_back(drawn.get_variable());
                allocator = drawn;
                return numbers;
            },
            "count"_a, "get_variable() `count` times, as a list.");

    nb::class_<WeightedLit>(m, "WeightedLit")
        .def("__init__",
             [](WeightedLit* self, nb::handle lit, nb::handle coef) {
                 new (self) WeightedLit(to_int64(lit, "literal"), to_int64(coef, "coefficient"));
             },
             "literal"_a, "coefficient"_a)
        .def_ro("literal", &WeightedLit::literal)
        .def_ro("coefficient", &WeightedLit::coefficient)
        .def("__repr__", &WeightedLit::repr);

    nb::class_<PBConstraint>(m, "PBConstraint")
        .def("__init__",
             // The bound as an optional argument rather than *args: nanobind makes the tuple of
             // *args without checking that the allocation succeeded.
             [](PBConstraint* self, nb::handle literals, Comparator cmp, nb::handle bound, nb::handle second) {
                 const std::vector<std::int64_t> values = bounds_of(bound, second);
                 new (self) PBConstraint(to_weighted_lits(literals), cmp, values);
             },
             "literals"_a, "comparator"_a, "bound"_a.none() = nb::none(), "second_bound"_a.none() = nb::none())
        .def_static(
            "_of_terms",
            [](nb::handle literals, nb::handle coefficients, Comparator cmp, nb::handle bound, nb::handle second) {
                const std::vector<std::int64_t> values = bounds_of(bound, second);
                return PBConstraint(to_terms(literals, coefficients), cmp, values);
            },
            "literals"_a, "coefficients"_a, "comparator"_a, "bound"_a.none() = nb::none(),
            "second_bound"_a.none() = nb::none(),
            "The constraint of the terms literals[i] * coefficients[i], each list of integers.")
        .def("__repr__", &PBConstraint::repr);

    nb::class_<VectorClauseDatabase>(m, "VectorClauseDatabase")
        .def(nb::init<const PBConfig&>(), "config"_a)
        .def("get_clauses", &clauses_of)
        .def("__len__", &VectorClauseDatabase::size);

    nb::class_<PB2CNF>(m, "pb2cnf")
        .def(nb::init<const PBConfig&>(), "config"_a)
        .def("encode2", &PB2CNF::encode, "constraint"_a, "database"_a, "allocator"_a)
        .def(
            "_encode_row",
            [](const PB2CNF& encoder, const PBConstraint& constraint, VectorClauseDatabase& database,
               AuxVarManager& allocator, nb::object parity_links, nb::object equality_counter) {
                const auto question = [](const nb::object& asked) {
                    std::function<bool(std::span<const std::int64_t>)> ask;
                    if (!asked.is_none()) {
                        ask = [&asked](std::span<const std::int64_t> lits) {
                            return nb::cast<bool>(asked(std::vector<std::int64_t>(lits.begin(), lits.end())));
                        };
                    }
                    return ask;
                };
                const RowShape shape = encoder.encode_row(constraint, database, allocator,
                                                          {question(parity_links), question(equality_counter)});
                return std::make_tuple(static_cast<int>(shape.kind), shape.lits, std::string(shape.construction));
            },
            "constraint"_a, "database"_a, "allocator"_a, "parity_links"_a.none() = nb::none(),
            "equality_counter"_a.none() = nb::none(),
            "encode2, answering the row's questions with the callables given (none: no) instead of the "
            "allocator's history, which it leaves as it was; returns the row's shape: (0, []) for most "
            "rows, (1, the literals of an at-least-one row), (2, those of an at-most-one row) or (3, "
            "those of a cardinality equality). `parity_links(literals)` is asked whether an at-most-one "
            "row's chain links by parity, `equality_counter(literals)` whether an equality takes the "
            "sequential counter. A third item names the construction that encoded the row (\"\" when "
            "the row is decided without one).");
}
