#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/string.h>

#include <vector>

#include "bindings/module.hpp"
#include "bindings/py_clause.hpp"
#include "cnf/dimacs_writer.hpp"
#include "cnf/wcnf_storage.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using zorv::cnf::wcnf_storage;

namespace {

nb::list to_list(std::span<const zorv::cnf::literal> lits) {
    nb::list out;
    for (auto lit : lits) {
        out.append(lit);
    }
    return out;
}

// The mapping argument of save_to_file: None, a dict, or a tl.var_mapping (its get_var_map()).
// The entries point into the dict's strings, which `holder` keeps alive.
std::vector<zorv::cnf::mapping_entry> mapping_entries(nb::handle mapping, nb::object& holder) {
    std::vector<zorv::cnf::mapping_entry> entries;
    if (mapping.is_none()) {
        return entries;
    }
    holder = PyDict_Check(mapping.ptr()) ? nb::borrow(mapping)
             : nb::hasattr(mapping, "get_var_map") ? mapping.attr("get_var_map")()
                                                   : nb::object();
    if (!holder.is_valid() || !PyDict_Check(holder.ptr())) {
        throw zorv::type_error(std::string("mapping must be None, a dict or a var_mapping, not ") +
                               zorv::py::type_name(mapping.ptr()));
    }
    entries.reserve(static_cast<std::size_t>(PyDict_Size(holder.ptr())));
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(holder.ptr(), &pos, &key, &value)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
        if (text == nullptr) {
            PyErr_Clear();
            throw zorv::type_error("mapping keys must be str, not " + zorv::py::type_name(key));
        }
        entries.push_back({std::string_view(text, static_cast<std::size_t>(size)),
                           zorv::py::integer_from(value, "a mapped variable number")});
    }
    return entries;
}

}  // namespace

void bind_cnf(nb::module_& m) {
    nb::enum_<zorv::cnf::sat_format>(m, "input_sat_format", "DIMACS file flavours")
        .value("cnf", zorv::cnf::sat_format::cnf, "p cnf V C")
        .value("wcnf", zorv::cnf::sat_format::wcnf, "p wcnf V C top; hard clauses at weight top");

    nb::class_<wcnf_storage>(m, "wcnf_storage",
                             "Hard and weighted soft clauses in one flat literal array.")
        .def(nb::init<>())
        .def(
            "add_hard_clause",
            [](wcnf_storage& s, nb::handle lits) {
                s.add_hard(zorv::py::clause_reader(lits).literals());
            },
            "literals"_a.none(), "Store a hard clause: a list of non-zero integers.")
        .def(
            "add_soft_clause",
            [](wcnf_storage& s, nb::handle lits, nb::handle weight) {
                const auto w = zorv::py::weight_from(weight);
                s.add_soft(zorv::py::clause_reader(lits).literals(), w);
            },
            "literals"_a.none(), "weight"_a.none(), "Store a soft clause with a positive integer weight.")
        .def("merge", &wcnf_storage::merge, "other"_a,
             "Append the other storage's clauses (in order, weights kept) and prefatory values;\n"
             "the other storage is left without clauses and prefatory values.")
        .def("insert_prefatory_value", &wcnf_storage::insert_prefatory_value, "literal"_a,
             "Keep a literal known ahead of solving; it is not a clause.")
        .def("set_model_name", &wcnf_storage::set_model_name, "name"_a)
        .def("set_variable_count", &wcnf_storage::set_variable_count, "count"_a)
        .def("set_clause_count", &wcnf_storage::set_clause_count, "count"_a)
        .def("set_weight_limit", &wcnf_storage::set_weight_limit, "weight"_a)
        .def("get_model_name", &wcnf_storage::model_name)
        .def("get_variable_count", &wcnf_storage::variable_count)
        .def("get_clause_count", &wcnf_storage::stamped_clause_count,
             "The stamped clause count; the stored counts are get_hard_clause_count and "
             "get_soft_clause_count.")
        .def("get_weight_limit", &wcnf_storage::weight_limit)
        .def("get_hard_clause_count", &wcnf_storage::hard_clause_count)
        .def("get_soft_clause_count", &wcnf_storage::soft_clause_count)
        .def(
            "get_clauses",
            [](const wcnf_storage& s) {
                nb::list out;
                for (std::size_t i = 0; i < s.clause_count(); ++i) {
                    out.append(to_list(s.clause(i)));
                }
                return out;
            },
            "Every clause as a list of literals, in stored order.")
        .def(
            "get_clause_weights",
            [](const wcnf_storage& s) {
                nb::list out;
                for (std::size_t i = 0; i < s.clause_count(); ++i) {
                    out.append(s.clause_weight(i));
                }
                return out;
            },
            "One weight per clause, in stored order; 0 marks a hard clause.")
        .def("get_prefatory_values",
             [](const wcnf_storage& s) { return to_list(s.prefatory_values()); })
        .def(
            "save_to_file",
            [](const wcnf_storage& s, const std::filesystem::path& filename,
               zorv::cnf::sat_format format, nb::handle mapping) {
                nb::object holder;
                const auto entries = mapping_entries(mapping, holder);
                zorv::cnf::write_dimacs(s, filename, format, entries);
            },
            "filename"_a, "format"_a, "mapping"_a.none() = nb::none(),
            "Write the clauses as a DIMACS CNF or WCNF file, atomically. Model-variable keys of\n"
            "the mapping become comment lines 'c <key> <number>'.");
}
