#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

#include "bindings/module.hpp"
#include "bindings/py_clause.hpp"
#include "cnf/var_mapping.hpp"
#include "cnf/wcnf_storage.hpp"
#include "common/interrupt.hpp"
#include "inst/aux_keys.hpp"
#include "inst/forall_values.hpp"
#include "inst/instantiate.hpp"
#include "inst/key_mapping.hpp"
#include "inst/program_arrays.hpp"
#include "inst/variable_keys.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

using int_array = std::vector<std::int64_t>;
// (start, step, length, None) for a range, (0, 0, 0, values) for listed values.
using forall_spec = std::tuple<std::int64_t, std::int64_t, std::int64_t, std::optional<int_array>>;

std::vector<zorv::inst::forall_values> to_foralls(std::vector<forall_spec>& specs) {
    std::vector<zorv::inst::forall_values> out;
    out.reserve(specs.size());
    for (auto& [start, step, length, listed] : specs) {
        if (listed) {
            out.push_back(zorv::inst::forall_values::listed(std::move(*listed)));
        } else if (length < 0) {
            throw zorv::value_error("a forall length must not be negative");
        } else {
            out.push_back(zorv::inst::forall_values::arithmetic(start, step, static_cast<std::size_t>(length)));
        }
    }
    return out;
}

// A dict with room for `entries` keys, so that filling it never rehashes.
nb::dict presized_dict(std::uint64_t entries) {
#if PY_VERSION_HEX < 0x030E0000
    if (entries < (std::uint64_t{1} << 40)) {
        PyObject* dict = _PyDict_NewPresized(static_cast<Py_ssize_t>(entries));
        if (dict == nullptr) {
            throw nb::python_error();  // MemoryError
        }
        return nb::steal<nb::dict>(dict);
    }
#endif
    (void)entries;
    return nb::dict();
}

// Key texts are ASCII (variable names are checked so in Python): the string is filled directly
// rather than decoded.
nb::object ascii_text(std::string_view text) {
    PyObject* out = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (out == nullptr) {
        throw nb::python_error();
    }
    std::memcpy(PyUnicode_1BYTE_DATA(out), text.data(), text.size());
    return nb::steal(out);
}

void insert(nb::dict& mapping, std::string_view key, std::int64_t number) {
    nb::object text = ascii_text(key);
    nb::object value = nb::steal(PyLong_FromLongLong(number));
    if (!value.is_valid() || PyDict_SetItem(mapping.ptr(), text.ptr(), value.ptr()) != 0) {
        throw nb::python_error();
    }
}

// Writes every instance of the compiled template into `storage` and returns the record's
// auxiliary keys; None, with nothing written, when the engine declines.
nb::object instantiate(zorv::cnf::wcnf_storage& storage, std::vector<forall_spec> specs,
                       const int_array& clauses, const int_array& literals, const int_array& terms,
                       std::int64_t aux_start, std::int64_t aux_block, std::int64_t formula,
                       const int_array& key_slots) {
    const auto foralls = to_foralls(specs);
    const auto program = zorv::inst::decode_program(clauses, literals, terms,
                                                    static_cast<std::int64_t>(foralls.size()),
                                                    aux_start, aux_block);
    auto slots = zorv::inst::decode_key_slots(key_slots);
    if (zorv::inst::instantiate(program, foralls, storage) != zorv::inst::outcome::written) {
        return nb::none();
    }
    return nb::cast(zorv::inst::aux_key_block{formula, aux_start, aux_block,
                                              *zorv::inst::combination_count(foralls), std::move(slots)});
}

// Adds every key of a key block to `mapping`, in order, later keys winning as dict.update does.
template <class Block>
void write_into(const Block& keys, nb::dict mapping) {
    zorv::interrupt_gate gate;
    zorv::inst::for_each_key(keys, [&](std::string_view key, std::int64_t number) {
        gate.tick();
        insert(mapping, key, number);
    });
}

// The parts of a mapping, each held for the call: a signal handler run by the interrupt check
// could drop the caller's references.
struct held_parts {
    std::vector<nb::object> objects;
    std::vector<zorv::inst::key_part> parts;
};

held_parts key_parts(nb::handle sequence) {
    held_parts held;
    for (nb::handle part : nb::iter(sequence)) {
        held.objects.push_back(nb::borrow(part));
        if (nb::isinstance<zorv::inst::variable_key_block>(part)) {
            held.parts.emplace_back(&nb::cast<const zorv::inst::variable_key_block&>(part));
        } else if (nb::isinstance<zorv::inst::aux_key_block>(part)) {
            held.parts.emplace_back(&nb::cast<const zorv::inst::aux_key_block&>(part));
        } else if (nb::isinstance<zorv::cnf::var_mapping>(part)) {
            held.parts.emplace_back(&nb::cast<const zorv::cnf::var_mapping&>(part));
        } else {
            throw zorv::type_error("mapping parts are key blocks or var_mapping objects, not " +
                                   zorv::py::type_name(part.ptr()));
        }
    }
    return held;
}

template <class Block>
nb::dict to_dict(const Block& keys) {
    nb::dict mapping = presized_dict(keys.size());
    write_into(keys, mapping);
    return mapping;
}

template <class Block>
void bind_key_block(nb::module_& m, const char* name, const char* doc) {
    nb::class_<Block>(m, name, doc)
        .def("__len__", &Block::size)
        .def("write_into", &write_into<Block>, "mapping"_a, "Add every key with its number to a dict.")
        .def("to_dict", &to_dict<Block>, "A new dict of every key with its number.");
}

zorv::inst::variable_key_block variable_keys(std::string name, std::int64_t start, int_array sizes,
                                             int_array strides) {
    if (sizes.size() != strides.size()) {
        throw zorv::value_error("a variable needs one stride per index");
    }
    for (char c : name) {
        if (static_cast<unsigned char>(c) > 127) {
            throw zorv::value_error("variable names for engine keys are ASCII");
        }
    }
    return {std::move(name), start, std::move(sizes), std::move(strides)};
}

}  // namespace

void bind_inst(nb::module_& m) {
    bind_key_block<zorv::inst::aux_key_block>(
        m, "aux_key_block",
        "The auxiliary keys of an instantiated record, kept as numbers until they are written.");
    bind_key_block<zorv::inst::variable_key_block>(
        m, "variable_key_block",
        "The element keys of a model variable, kept as numbers until they are written.");
    m.def("variable_keys", &variable_keys, "name"_a, "start"_a, "sizes"_a, "strides"_a,
          "The keys name[v0,v1,...] of every element, row-major, numbered start + sum v * stride.");
    m.def(
        "merge_keys",
        [](nb::handle parts) { return zorv::inst::merge_keys(key_parts(parts).parts); }, "parts"_a,
        "A var_mapping of every part's keys, merged as successive dict updates would merge them.");
    m.def(
        "merge_keys_after",
        [](const zorv::cnf::var_mapping* previous, nb::handle parts, std::size_t split) {
            return zorv::inst::merge_keys_after(previous, key_parts(parts).parts, split);
        },
        "previous"_a.none(), "parts"_a, "split"_a,
        "merge_keys(parts), copying the keys of the first `split` parts from `previous` (merged\n"
        "before from the same first parts, or None) when no key can repeat.");
    m.def(
        "largest_number",
        [](nb::handle parts) { return zorv::inst::largest_number(key_parts(parts).parts); },
        "parts"_a, "The largest number of merge_keys(parts), or None when there is no key.");
    m.def("instantiate", &instantiate, "storage"_a, "foralls"_a, "clauses"_a, "literals"_a,
          "terms"_a, "aux_start"_a, "aux_block"_a, "formula"_a, "key_slots"_a,
          "Write every instance of a compiled clause template into `storage`; returns its\n"
          "aux_key_block, or None, with nothing written, when a value is out of range.");
}
