#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/unordered_map.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "bindings/module.hpp"
#include "bindings/py_clause.hpp"
#include "bindings/py_objects.hpp"
#include "cnf/var_mapping.hpp"
#include "cnf/wcnf_storage.hpp"
#include "common/interrupt.hpp"
#include "common/process_memory.hpp"
#include "common/work_plan.hpp"
#include "inst/aux_keys.hpp"
#include "inst/forall_values.hpp"
#include "inst/instantiate.hpp"
#include "inst/key_mapping.hpp"
#include "inst/literal_text.hpp"
#include "inst/program_arrays.hpp"
#include "inst/template_compiler.hpp"
#include "inst/text_check.hpp"
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
    return zorv::py::new_dict();
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
nb::object instantiate_arrays(zorv::cnf::wcnf_storage& storage, std::vector<forall_spec>& specs,
                              std::span<const std::int64_t> clauses, std::span<const std::int64_t> literals,
                              std::span<const std::int64_t> terms, std::int64_t aux_start, std::int64_t aux_block,
                              std::int64_t formula, std::span<const std::int64_t> key_slots) {
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

nb::object instantiate(zorv::cnf::wcnf_storage& storage, std::vector<forall_spec> specs,
                       const int_array& clauses, const int_array& literals, const int_array& terms,
                       std::int64_t aux_start, std::int64_t aux_block, std::int64_t formula,
                       const int_array& key_slots) {
    return instantiate_arrays(storage, specs, clauses, literals, terms, aux_start, aux_block, formula, key_slots);
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

// The UTF-8 text of an exact str, viewed in place; nullopt for any other object, or for a str that
// has no UTF-8 form (left to the host).
std::optional<std::string_view> exact_text(PyObject* object) {
    if (!PyUnicode_CheckExact(object)) return std::nullopt;
    Py_ssize_t size = 0;
    const char* data = zorv::py::utf8_of(object, size);
    if (data == nullptr) return std::nullopt;
    return std::string_view(data, static_cast<std::size_t>(size));
}

// The template's texts as views into its Python strings, which the caller's template keeps alive;
// nullopt unless the template and its clauses are lists or tuples of str.
std::optional<zorv::inst::template_texts> read_template(nb::handle template_) {
    const auto is_sequence = [](PyObject* o) { return PyList_CheckExact(o) || PyTuple_CheckExact(o); };
    if (!is_sequence(template_.ptr())) return std::nullopt;
    zorv::inst::template_texts out;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(template_.ptr());
    PyObject** clauses = PySequence_Fast_ITEMS(template_.ptr());
    out.ends.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!is_sequence(clauses[i])) return std::nullopt;
        PyObject** texts = PySequence_Fast_ITEMS(clauses[i]);
        for (Py_ssize_t k = 0; k < PySequence_Fast_GET_SIZE(clauses[i]); ++k) {
            const auto text = exact_text(texts[k]);
            if (!text) return std::nullopt;
            out.texts.push_back(*text);
        }
        out.ends.push_back(out.texts.size());
    }
    return out;
}

using variable_entry = std::tuple<std::int64_t, int_array, int_array>;

// A record's template compiled by the engine, kept in the engine until it is instantiated.
struct compiled_template {
    zorv::inst::program_texts program;
};

nb::object instantiate_compiled(zorv::cnf::wcnf_storage& storage, std::vector<forall_spec> specs,
                                const compiled_template& compiled, std::int64_t aux_start, std::int64_t aux_block,
                                std::int64_t formula) {
    const auto& p = compiled.program;
    return instantiate_arrays(storage, specs, p.clauses, p.literals, p.terms, aux_start, aux_block, formula,
                              p.key_slots);
}

// The compiled template of a record, or None.
nb::object compile_template(nb::handle template_, std::optional<int_array> weights,
                            const std::unordered_map<std::string, std::int64_t>& slots,
                            const std::unordered_map<std::string, variable_entry>& variables, std::int64_t shift_pb,
                            std::int64_t shift_bx) {
    const auto texts = read_template(template_);
    if (!texts) return nb::none();
    zorv::inst::text_map<zorv::inst::variable_shape> shapes;
    for (const auto& [name, entry] : variables) {
        shapes.emplace(name, zorv::inst::variable_shape{std::get<0>(entry), std::get<1>(entry), std::get<2>(entry)});
    }
    const zorv::inst::text_map<std::int64_t> places(slots.begin(), slots.end());
    auto program = zorv::inst::compile_template(*texts, weights, places, shapes, shift_pb, shift_bx);
    if (!program) return nb::none();
    return nb::cast(compiled_template{std::move(*program)});
}

bool template_fits(nb::handle template_, const std::unordered_map<std::string, int_array>& sizes, nb::dict bounds,
                   bool instances, nb::handle calls) {
    const auto texts = read_template(template_);
    if (!texts) return false;
    std::optional<zorv::inst::template_texts> call_texts;
    if (!calls.is_none()) {
        // Read as one clause of a template: views into strings that the caller keeps alive.
        call_texts = read_template(nb::make_tuple(calls));
        if (!call_texts) return false;
    }
    zorv::inst::forall_bounds ranges;
    for (auto [name, range] : bounds) {
        std::optional<std::pair<std::int64_t, std::int64_t>> ends;
        if (!range.is_none()) ends = nb::cast<std::pair<std::int64_t, std::int64_t>>(range);
        ranges.emplace(nb::cast<std::string>(name), ends);
    }
    const zorv::inst::text_map<int_array> shapes(sizes.begin(), sizes.end());
    return zorv::inst::template_fits(*texts, shapes, ranges, instances,
                                     call_texts ? std::span<const std::string_view>(call_texts->texts)
                                                : std::span<const std::string_view>());
}

// The distinct variable names of element call texts (see element_call_name), or None when a text
// is of another form or no str.
nb::object element_call_names(nb::handle texts) {
    if (!PyList_CheckExact(texts.ptr())) return nb::none();
    std::unordered_set<std::string_view> names;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(texts.ptr()); ++i) {
        const auto text = exact_text(PyList_GET_ITEM(texts.ptr(), i));
        if (!text) return nb::none();
        const auto name = zorv::inst::element_call_name(*text);
        if (!name) return nb::none();
        names.insert(*name);
    }
    const nb::set out = zorv::py::new_set();
    for (const std::string_view name : names) zorv::py::add(out, zorv::py::text(name));
    return out;
}

// Why the container road may not evaluate `text`, or None. A name's role is read from the
// foralls, then from the namespace, whose objects of `variable_type` are variables and of
// `index_type` indexes; `wide_name_ok` judges a loop name beyond ASCII.
nb::object text_refusal(nb::handle text, nb::handle namespace_, nb::handle foralls, nb::handle variable_type,
                        nb::handle index_type, bool instantiation, nb::handle wide_name_ok) {
    const std::string_view read = zorv::py::text_arg(text, "a constraint text");
    const auto is = [](PyObject* object, nb::handle type) {
        const int found = PyObject_IsInstance(object, type.ptr());
        if (found < 0) throw nb::python_error();
        return found == 1;
    };
    zorv::inst::text_scope scope;
    scope.kind = instantiation ? zorv::inst::text_kind::instantiation : zorv::inst::text_kind::expression;
    scope.role = [&](std::string_view name) {
        const nb::object key = zorv::py::text(name);
        const int forall = PySequence_Contains(foralls.ptr(), key.ptr());
        if (forall < 0) throw nb::python_error();
        if (forall == 1) return zorv::inst::name_role::value;
        PyObject* found = PyObject_GetItem(namespace_.ptr(), key.ptr());
        if (found == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw nb::python_error();
            PyErr_Clear();
            return zorv::inst::name_role::unknown;
        }
        const nb::object held = nb::steal(found);
        if (is(found, variable_type)) return zorv::inst::name_role::variable;
        if (is(found, index_type)) return zorv::inst::name_role::value;
        return zorv::inst::name_role::unknown;
    };
    scope.wide_name_ok = [&](std::string_view name) {
        const nb::object answer = zorv::py::checked(
            PyObject_CallFunctionObjArgs(wide_name_ok.ptr(), zorv::py::text(name).ptr(), nullptr));
        const int truth = PyObject_IsTrue(answer.ptr());
        if (truth < 0) throw nb::python_error();
        return truth == 1;
    };
    const auto fault = zorv::inst::check_text(read, scope);
    if (!fault) return nb::none();
    return zorv::py::text(zorv::inst::text_refusal(read, *fault));
}

// make(), a variable mapping, whose running out of memory names it.
template <class Make>
zorv::cnf::var_mapping mapping_named(Make&& make) {
    return zorv::named_out_of_memory(make, [] { return std::string("building the variable mapping"); });
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
        [](nb::handle parts) { return mapping_named([&] { return zorv::inst::merge_keys(key_parts(parts).parts); }); },
        "parts"_a,
        "A var_mapping of every part's keys, merged as successive dict updates would merge them.");
    m.def(
        "merge_keys_after",
        [](const zorv::cnf::var_mapping* previous, nb::handle parts, std::size_t split) {
            return mapping_named([&] { return zorv::inst::merge_keys_after(previous, key_parts(parts).parts, split); });
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
    nb::class_<compiled_template>(m, "compiled_template", "A record's template compiled for instantiation.")
        .def("arrays",
             [](const compiled_template& c) {
                 return nb::make_tuple(c.program.clauses, c.program.literals, c.program.terms, c.program.key_slots);
             },
             "The program as flat arrays: clauses, literals, terms, key slots.");
    m.def("instantiate_compiled", &instantiate_compiled, "storage"_a, "foralls"_a, "compiled"_a, "aux_start"_a,
          "aux_block"_a, "formula"_a, "instantiate() for a template compiled by compile_template.");
    m.def("compile_template", &compile_template, "template"_a, "weights"_a.none(), "slots"_a, "variables"_a,
          "shift_pb"_a, "shift_bx"_a,
          "The compiled template of a record, or None for a template beyond the engine's reader.");
    m.def("template_fits", &template_fits, "template"_a, "sizes"_a, "bounds"_a, "instances"_a,
          "calls"_a = nb::none(),
          "True when every literal of the template, and every call among `calls` (a list of the\n"
          "texts of the variable calls that made it), is sure to instantiate: known variables, foralls\n"
          "and index counts, and (with instances) index values in range; False when unsure.");
    m.def(
        "work_refusal",
        [](std::uint64_t instances, std::uint64_t clauses, std::uint64_t literals, bool soft,
           std::uint64_t model_clauses, std::uint64_t variables, std::uint64_t merged_into) {
            const zorv::planned_work work = zorv::plan_instances(instances, {clauses, literals, soft, variables});
            // A merge into a storage that holds clauses copies them and the work's own beside them.
            const std::uint64_t copied =
                work.bytes > 0 && merged_into > 0 ? zorv::saturating_sum(merged_into, work.bytes) : 0;
            return std::make_tuple(zorv::work_refusal(work, model_clauses, copied), work.bytes);
        },
        "instances"_a, "clauses"_a, "literals"_a, "soft"_a, "model_clauses"_a, "variables"_a = 0,
        "merged_into"_a = 0,
        "(why, bytes): why a constraint whose instances each write `clauses` clauses of `literals`\n"
        "literals and number `variables` auxiliaries is refused, the model holding `model_clauses`\n"
        "before it and the work being merged into a storage of `merged_into` bytes, or an empty text;\n"
        "and the bytes its clauses take.");
    m.def(
        "memory_refusal",
        [](std::uint64_t bytes, std::string_view what, std::uint64_t room, bool address_space, std::uint64_t limit,
           std::uint64_t held) { return zorv::memory_refusal(bytes, what, {room, address_space, limit, held}); },
        "bytes"_a, "what"_a, "room"_a, "address_space"_a, "limit"_a, "held"_a,
        "Why `bytes` taken for `what` are refused under a memory_limit(); an empty text when they are not.");
    m.def(
        "memory_limit",
        [] {
            const zorv::memory_limit limit = zorv::process_memory_limit();
            return std::make_tuple(limit.bytes, limit.address_space, limit.limit, limit.held);
        },
        "(bytes, whether they are room under the address-space limit, that limit, the address space\n"
        "held) that this process can still get: physical memory available, or the room under the\n"
        "address-space limit where that is less.");
    m.def(
        "limit_text", [](std::uint64_t room, bool address_space, std::uint64_t limit, std::uint64_t held) {
            return zorv::limit_text({room, address_space, limit, held});
        },
        "room"_a, "address_space"_a, "limit"_a, "held"_a, "How a message names a memory_limit().");
    m.def("bytes_text", &zorv::bytes_text, "bytes"_a, "How a message gives a number of bytes.");
    m.def("constraint_subject", &zorv::constraint_subject, "text"_a, "foralls"_a,
          "How a refusal names a constraint: its text quoted and cut, and its foralls.");
    m.def("text_refusal", &text_refusal, "text"_a, "namespace"_a, "foralls"_a, "variable_type"_a, "index_type"_a,
          "instantiation"_a, "wide_name_ok"_a,
          "Why the container road may not evaluate `text` (the formula encoder's refusal of a text\n"
          "outside its language), or None: its node kinds, names, attributes and constants are held\n"
          "against those of the package's own texts.");
    m.def("element_call_names", &element_call_names, "texts"_a,
          "The distinct variable names of a list of element call texts such as x(0,12), or None\n"
          "when a text is of another form.");
}
