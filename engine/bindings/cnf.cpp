#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <vector>

#include "bindings/dict_aside.hpp"
#include "bindings/module.hpp"
#include "bindings/numpy_vector.hpp"
#include "bindings/py_clause.hpp"
#include "bindings/py_objects.hpp"
#include "cnf/dimacs_writer.hpp"
#include "cnf/mapping_tables.hpp"
#include "cnf/var_mapping.hpp"
#include "cnf/wcnf_storage.hpp"
#include "common/interrupt.hpp"
#include "common/process_memory.hpp"
#include "common/work_plan.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using zorv::cnf::var_mapping;
using zorv::cnf::wcnf_storage;

namespace {

using zorv::py::text;

// A mapping is set from a dict of key text to variable number; on a bad entry the
// mapping is left as it was.
void set_from_dict(var_mapping& mapping, nb::handle dict) {
    if (!PyDict_Check(dict.ptr())) {
        throw zorv::type_error("a variable map must be a dict of str to int, not " +
                               zorv::py::type_name(dict.ptr()));
    }
    var_mapping fresh;
    const auto size = static_cast<std::size_t>(PyDict_Size(dict.ptr()));
    fresh.reserve(size, 16 * size);
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    zorv::interrupt_gate gate;
    while (PyDict_Next(dict.ptr(), &pos, &key, &value)) {
        gate.tick();
        // The number is read first and the key held: an __index__ may change the dict.
        const nb::object held_key = nb::borrow(key);
        const std::int64_t number = zorv::py::integer_from(value, "a variable number");
        Py_ssize_t length = 0;
        const char* text = PyUnicode_Check(key) ? zorv::py::utf8_of(key, length) : nullptr;
        if (text == nullptr) {
            throw zorv::type_error("mapping keys must be str, not " + zorv::py::type_name(key));
        }
        fresh.add(std::string_view(text, static_cast<std::size_t>(length)), number);
    }
    mapping = std::move(fresh);
}

// The storage's stamps are read here, not by nanobind's caster, which refuses a number past
// 64 bits as "incompatible function arguments": such a number is refused as the engine refuses
// the others past its range.
void past_stamp(const char* what, const std::string& number, bool negative) {
    if (negative) {
        zorv::cnf::throw_negative_stamp(what, number);
    }
}

void past_variable_count(const char* what, const std::string& number, bool negative) {
    past_stamp(what, number, negative);
    zorv::cnf::throw_past_variables(what, number);
}

auto stamp_setter(void (wcnf_storage::*set)(std::int64_t), const char* what, zorv::py::past_range past) {
    return [set, what, past](wcnf_storage& s, nb::handle value) {
        (s.*set)(zorv::py::integer_from(value.ptr(), what, past));
    };
}

nb::dict to_dict(const var_mapping& mapping) {
    const nb::dict out = zorv::py::new_dict();
    const zorv::py::dict_aside_when_stopped free_out(out);
    zorv::interrupt_gate gate;
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        gate.tick();
        zorv::py::set_item(out, text(mapping.key(i)), zorv::py::integer(mapping.number(i)));
    }
    return out;
}

nb::dict inverse_to_dict(const var_mapping& mapping) {
    const nb::dict out = zorv::py::new_dict();
    const zorv::py::dict_aside_when_stopped free_out(out);
    zorv::interrupt_gate gate;
    mapping.for_each_by_number([&](std::int64_t number, std::size_t entry) {
        gate.tick();
        zorv::py::set_item(out, zorv::py::integer(number), text(mapping.key(entry)));
    });
    return out;
}

// Each table's numbers go over as a read-only array that owns them, not as a copy.
nb::object tables_to_python(std::optional<std::vector<zorv::cnf::variable_table>>&& tables) {
    if (!tables) {
        return nb::none();
    }
    const nb::list out = zorv::py::new_list();
    for (auto& t : *tables) {
        const nb::object shape = zorv::py::checked(PyList_AsTuple(zorv::py::int_list<std::size_t>(t.shape).ptr()));
        zorv::py::append(out, nb::make_tuple(text(t.name), shape,
                                             to_numpy<std::int64_t, const std::int64_t>(std::move(t.numbers))));
    }
    return out;
}

// Every clause as a list of literals. Running out of memory frees the lists made so far, then
// names the read: what it takes as lists and ints, against what the process can get by then.
nb::list clauses_to_list(const wcnf_storage& s) {
    try {
        const nb::list out = zorv::py::new_list(s.clause_count());
        zorv::interrupt_gate gate;
        for (std::size_t i = 0; i < s.clause_count(); ++i) {
            gate.tick();
            PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), zorv::py::int_list(s.clause(i)).release().ptr());
        }
        return out;
    } catch (const nb::python_error& error) {
        if (!error.matches(PyExc_MemoryError)) throw;
    }
    // A list takes 56 bytes and 8 per item; an int outside -5..256, which the host does not
    // share, 32 more.
    const std::size_t literals = s.literals().size();
    std::uint64_t own_ints = 0;
    for (const zorv::cnf::literal lit : s.literals()) {
        own_ints += (lit < -5 || lit > 256) ? 1 : 0;
    }
    const std::uint64_t bytes = 56 + 64 * std::uint64_t{s.clause_count()} + 8 * std::uint64_t{literals} + 32 * own_ints;
    throw zorv::memory_error("get_clauses ran out of memory reading " + std::to_string(s.clause_count()) +
                             " clauses of " + std::to_string(literals) + " literals, which take at least " +
                             zorv::bytes_text(bytes) + " as lists, with " +
                             zorv::limit_text(zorv::process_memory_limit()) + " once the read let its memory go");
}

// A Ctrl-C that came while the file was written cancels the save before the file replaces
// the old one; after that the save stands.
void raise_pending_interrupt() {
    if (PyErr_CheckSignals() != 0) {
        throw nb::python_error();
    }
}

// The mapping argument of save_to_file: None, a var_mapping, or a dict (copied).
void save(const wcnf_storage& storage, nb::handle file, zorv::cnf::sat_format format, nb::handle mapping) {
    const std::filesystem::path filename = zorv::py::path_from(file);
    if (mapping.is_none()) {
        zorv::cnf::write_dimacs(storage, filename, format, nullptr, raise_pending_interrupt);
    } else if (nb::isinstance<var_mapping>(mapping)) {
        if (!nb::inst_ready(mapping)) {
            throw zorv::type_error(
                "the var_mapping was never initialised (its __init__ did not run)");
        }
        zorv::cnf::write_dimacs(storage, filename, format, &nb::cast<const var_mapping&>(mapping),
                                raise_pending_interrupt);
    } else if (PyDict_Check(mapping.ptr())) {
        var_mapping copy;
        set_from_dict(copy, mapping);
        zorv::cnf::write_dimacs(storage, filename, format, &copy, raise_pending_interrupt);
    } else {
        throw zorv::type_error("mapping must be None, a var_mapping or a dict, not " +
                               zorv::py::type_name(mapping.ptr()));
    }
}

}  // namespace

void bind_cnf(nb::module_& m) {
    nb::class_<var_mapping>(m, "var_mapping",
                            "Key text (x[0,1], _pbct_aux[0,1,2]) to variable number, and back.")
        .def(nb::init<>())
        .def("set_var_map", &set_from_dict, "mapping"_a,
             "Take a copy of a dict of key text to variable number; drops the inverse.")
        .def("build_inverse_map", &var_mapping::build_inverse,
             "Map numbers back to keys; a number held by several keys maps to the last.")
        .def("get_var_map", &to_dict, "A new dict of key text to variable number.")
        .def("get_inverse_map", &inverse_to_dict,
             "A new dict of variable number to key text (empty until build_inverse_map()).")
        .def(
            "get_var_name",
            [](const var_mapping& mapping, nb::handle number) -> nb::object {
                // A number past 64 bits, like any past the variables, is no key's.
                const nb::object index = zorv::py::checked(PyNumber_Index(number.ptr()));
                int overflow = 0;
                const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
                if (overflow != 0) {
                    return nb::none();
                }
                const auto entry = mapping.find_number(value);
                return entry ? nb::object(text(mapping.key(*entry))) : nb::none();
            },
            "number"_a, "The key of a variable number, or None (needs build_inverse_map()).");

    m.def(
        "build_mapping_tables",
        [](const var_mapping& mapping, const std::vector<std::string>& prefixes, bool strict) {
            return zorv::named_out_of_memory(
                [&] { return tables_to_python(zorv::cnf::build_mapping_tables(mapping, prefixes, strict)); },
                [&] {
                    return "building the witness tables of a variable mapping of " + std::to_string(mapping.size()) +
                           " entries";
                });
        },
        "mapping"_a, "auxiliary_prefixes"_a, "strict"_a,
        "(name, shape, read-only int64 array) per model variable, or None; see witness_interpreter.");
    m.def(
        "tables_token",
        [](const var_mapping& mapping, const std::vector<std::string>& prefixes) {
            return zorv::cnf::tables_token(mapping, prefixes);
        },
        "mapping"_a, "auxiliary_prefixes"_a,
          "A token shared by the mappings whose tables are equal, or None when unknown.");

    nb::enum_<zorv::cnf::sat_format>(m, "input_sat_format", "DIMACS file flavours")
        .value("cnf", zorv::cnf::sat_format::cnf, "p cnf V C")
        .value("wcnf", zorv::cnf::sat_format::wcnf, "p wcnf V C top; hard clauses at weight top");

    nb::class_<wcnf_storage::mark>(m, "_storage_mark", "What a storage held at one moment (see _roll_back).");

    nb::class_<wcnf_storage>(m, "wcnf_storage",
                             "Hard and weighted soft clauses in one flat literal array.")
        .def(nb::init<>())
        .def("_mark", &wcnf_storage::marked, "What the storage holds now, for _roll_back.")
        .def("_roll_back", &wcnf_storage::roll_back, "mark"_a,
             "Back to what the storage held at `mark`, dropping the clauses and prefatory values\n"
             "appended since; ValueError when a target was merged since or the mark is not its own.")
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
        .def("merge_target", &wcnf_storage::merge_target, "other"_a,
             "Put the other storage's hard clauses in this storage's target segment: appended\n"
             "the first time, in place of the segment's clauses afterwards. The other storage\n"
             "is left as by merge.")
        .def("get_target_clause_count", &wcnf_storage::target_clause_count,
             "Clauses in the target segment (0 before merge_target).")
        .def(
            "insert_prefatory_value",
            [](wcnf_storage& s, nb::handle literal) { s.insert_prefatory_value(zorv::py::literal_from(literal.ptr())); },
            "literal"_a,
             "Keep a literal known ahead of solving; it is not a clause.")
        .def(
            "set_model_name",
            [](wcnf_storage& s, nb::handle name) { s.set_model_name(std::string(zorv::py::text_arg(name, "a model name"))); },
            "name"_a)
        .def("set_variable_count",
             stamp_setter(&wcnf_storage::set_variable_count, "variable count", past_variable_count), "count"_a)
        .def("set_clause_count", stamp_setter(&wcnf_storage::set_clause_count, "clause count", past_stamp),
             "count"_a)
        .def("set_weight_limit", stamp_setter(&wcnf_storage::set_weight_limit, "weight limit", past_stamp),
             "weight"_a)
        .def("get_model_name", &wcnf_storage::model_name)
        .def("get_variable_count", &wcnf_storage::variable_count)
        .def("get_clause_count", &wcnf_storage::stamped_clause_count,
             "The stamped clause count; the stored counts are get_hard_clause_count and "
             "get_soft_clause_count.")
        .def("get_weight_limit", &wcnf_storage::weight_limit)
        .def("get_hard_clause_count", &wcnf_storage::hard_clause_count)
        .def("get_soft_clause_count", &wcnf_storage::soft_clause_count)
        .def(
            "get_clauses", &clauses_to_list,
            "Every clause as a list of literals, in stored order.")
        .def(
            "get_clause_weights",
            [](const wcnf_storage& s) {
                const nb::list out = zorv::py::new_list(s.clause_count());
                for (std::size_t i = 0; i < s.clause_count(); ++i) {
                    PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i),
                                    zorv::py::integer(s.clause_weight(i)).release().ptr());
                }
                return out;
            },
            "One weight per clause, in stored order; 0 marks a hard clause.")
        .def("get_prefatory_values",
             [](const wcnf_storage& s) { return zorv::py::int_list(s.prefatory_values()); })
        .def(
            "save_to_file",
            &save,
            "filename"_a, "format"_a, "mapping"_a.none() = nb::none(),
            "Write the clauses as a DIMACS CNF or WCNF file, atomically. Model-variable keys of\n"
            "the mapping become comment lines 'c <key> <number>'.");
}
