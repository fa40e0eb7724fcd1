#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bindings/module.hpp"
#include "bindings/py_objects.hpp"
#include "common/errors.hpp"
#include "fenc/constraint.hpp"
#include "fenc/formula_model.hpp"
#include "fenc/planned_work.hpp"
#include "fenc/witness.hpp"
#include "io/atomic_file.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using zorv::fenc::constraint;
using zorv::fenc::constraint_kind;
using zorv::fenc::formula_model;

namespace {

std::span<const std::uint8_t> cells_of(const nb::bytes& cells, const formula_model& m) {
    if (static_cast<std::int64_t>(cells.size()) != m.variables().cell_count()) {
        throw zorv::value_error("cell values do not match the declared cells");
    }
    return {reinterpret_cast<const std::uint8_t*>(cells.c_str()), cells.size()};
}

// A 128-bit value as a Python int, by way of its decimal digits.
nb::object int_of(zorv::pbct::i128 value) {
    const bool negative = value < 0;
    auto magnitude = negative ? static_cast<zorv::pbct::u128>(-(value + 1)) + 1 : static_cast<zorv::pbct::u128>(value);
    char digits[48];
    char* p = digits + sizeof digits;
    *--p = '\0';
    do {
        *--p = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) *--p = '-';
    PyObject* made = PyLong_FromString(p, nullptr, 10);
    if (made == nullptr) throw nb::python_error();
    return nb::steal(made);
}

const constraint& constraint_at(const formula_model& m, std::size_t index) {
    if (index >= m.constraints().size()) throw zorv::value_error("no constraint at that place");
    return m.constraints()[index];
}

}  // namespace

void bind_fenc(nb::module_& m) {
    nb::class_<constraint>(m, "constraint", "One constraint text as read and compiled.")
        .def_prop_ro("text", [](const constraint& c) { return c.text; })
        .def_prop_ro("is_soft", [](const constraint& c) { return c.kind == constraint_kind::soft; })
        .def_prop_ro("instances", [](const constraint& c) { return c.foralls.instance_count(); })
        .def_prop_ro(
            "least_output",
            [](const constraint& c) {
                const zorv::instance_output out = zorv::fenc::least_instance_output(c);
                return std::make_tuple(out.clauses, out.literals);
            },
            "(clauses, literals) that every instance writes at least, as the work rule plans them.")
        .def_prop_ro(
            "names",
            [](const constraint& c) {
                // (name, byte offset, whether the offset is in the foralls text): positions in
                // characters are counted only for a name that breaks the rule, not for each name.
                std::vector<std::tuple<std::string, std::size_t, bool>> out;
                for (const auto& n : c.foralls.names) out.emplace_back(n.name, n.offset, true);
                for (const auto& n : c.code.names) out.emplace_back(n.name, n.offset, false);
                return out;
            },
            "Forall and loop names with their byte offsets, for the name rule.");

    nb::class_<formula_model>(m, "formula_model", "Declarations and read constraints of one model.")
        .def(nb::init<>())
        .def("declare",
             [](formula_model& f, nb::handle name, std::vector<std::int64_t> sizes) {
                 f.variables().declare(zorv::py::text_arg(name, "a variable name"), std::move(sizes));
             },
             "name"_a, "sizes"_a)
        .def("read",
             [](const formula_model& f, nb::handle text, nb::handle foralls, int kind, std::int64_t weight,
                bool minimization) {
                 if (kind < 0 || kind > 2) throw zorv::value_error("unknown constraint kind");
                 constraint c = zorv::fenc::read_constraint(zorv::py::text_arg(text, "a constraint text"),
                                                            zorv::py::text_arg(foralls, "a foralls text"),
                                                            static_cast<constraint_kind>(kind), f.variables());
                 c.weight = weight;
                 c.minimization = minimization;
                 return c;
             },
             "text"_a, "foralls"_a, "kind"_a, "weight"_a = 1, "minimization"_a = false,
             "Reads a constraint (kind 0 hard, 1 soft, 2 target) without keeping it.")
        // Moved in, not copied: the caller drops the read constraint once it is added.
        .def("add", &formula_model::add, "constraint"_a,
             "Keeps a constraint from this model's read(), once; it is left empty.")
        .def("generate",
             [](formula_model& f, zorv::cnf::wcnf_storage& storage, nb::handle name) {
                 const std::vector<zorv::fenc::constraint_stats> stats =
                     f.generate(storage, std::string(zorv::py::text_arg(name, "a model name")));
                 // (instances, clauses, auxiliary variables, seconds, contradicted instances) per constraint
                 std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, double, std::uint64_t>> out;
                 for (const auto& s : stats) out.emplace_back(s.instances, s.clauses, s.aux, s.seconds, s.contradictions);
                 return out;
             },
             "storage"_a, "name"_a)
        .def("fill_mapping", &formula_model::fill_mapping, "mapping"_a)
        .def("read_witness",
             [](const formula_model& f, const std::vector<std::int64_t>& model) {
                 const auto cells = f.read_witness(model);
                 return nb::bytes(reinterpret_cast<const char*>(cells.data()), cells.size());
             },
             "model"_a)
        .def("holds",
             [](const formula_model& f, std::size_t index, const nb::bytes& cells) {
                 return zorv::fenc::holds(constraint_at(f, index), f.variables(), cells_of(cells, f));
             },
             "index"_a, "cells"_a)
        .def("soft_cost",
             [](const formula_model& f, std::size_t index, const nb::bytes& cells) {
                 return zorv::fenc::soft_cost(constraint_at(f, index), f.variables(), cells_of(cells, f));
             },
             "index"_a, "cells"_a)
        .def("target_value",
             [](const formula_model& f, const nb::bytes& cells) -> nb::object {
                 if (!f.target()) return nb::none();
                 return int_of(zorv::fenc::term_value(*f.target(), f.variables(), cells_of(cells, f)));
             },
             "cells"_a, "The target's value for the cells, an int of any size; None without a target.")
        .def_prop_ro("constraint_texts",
                     [](const formula_model& f) {
                         // (text, whether soft) of every hard and soft constraint, in order
                         std::vector<std::tuple<std::string, bool>> out;
                         for (const auto& c : f.constraints()) out.emplace_back(c.text, c.kind == constraint_kind::soft);
                         return out;
                     })
        .def_prop_ro("has_target", [](const formula_model& f) { return f.target().has_value(); })
        .def_prop_ro("cell_count", [](const formula_model& f) { return f.variables().cell_count(); })
        .def_prop_ro("variable_count", &formula_model::variable_count)
        .def_prop_ro("generated", &formula_model::generated)
        .def("clear", &formula_model::clear);

    // Values of one range in a text, and instances times loop values of one constraint: both
    // roads refuse more.
    m.attr("work_cap") = zorv::fenc::max_instances;

    m.def(
        "write_text_atomically",
        [](nb::handle path, nb::handle text) {
            zorv::io::atomic_file file(zorv::py::path_from(path));
            file.write(zorv::py::text_arg(text, "a text"));
            file.commit();
        },
        "path"_a, "text"_a, "Writes `text` to `path` complete or not at all.");
}
