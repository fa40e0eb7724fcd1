#include <nanobind/stl/optional.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

#include "bindings/module.hpp"
#include "cnf/wcnf_storage.hpp"
#include "inst/aux_keys.hpp"
#include "inst/forall_values.hpp"
#include "inst/instantiate.hpp"
#include "inst/program_arrays.hpp"

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

void insert(nb::dict& mapping, std::string_view key, std::int64_t number) {
    nb::object text = nb::steal(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
    nb::object value = nb::steal(PyLong_FromLongLong(number));
    if (!text.is_valid() || !value.is_valid() || PyDict_SetItem(mapping.ptr(), text.ptr(), value.ptr()) != 0) {
        throw nb::python_error();
    }
}

bool instantiate(zorv::cnf::wcnf_storage& storage, std::vector<forall_spec> specs,
                 const int_array& clauses, const int_array& literals, const int_array& terms,
                 std::int64_t aux_start, std::int64_t aux_block, std::int64_t formula,
                 const int_array& key_slots, nb::dict mapping) {
    const auto foralls = to_foralls(specs);
    const auto program = zorv::inst::decode_program(clauses, literals, terms,
                                                    static_cast<std::int64_t>(foralls.size()),
                                                    aux_start, aux_block);
    const auto slots = zorv::inst::decode_key_slots(key_slots);
    if (zorv::inst::instantiate(program, foralls, storage) != zorv::inst::outcome::written) {
        return false;
    }
    zorv::inst::for_each_aux_key(formula, aux_start, aux_block, *zorv::inst::combination_count(foralls),
                                 slots, [&](std::string_view key, std::int64_t number) {
                                     insert(mapping, key, number);
                                 });
    return true;
}

}  // namespace

void bind_inst(nb::module_& m) {
    m.def("instantiate", &instantiate, "storage"_a, "foralls"_a, "clauses"_a, "literals"_a,
          "terms"_a, "aux_start"_a, "aux_block"_a, "formula"_a, "key_slots"_a, "mapping"_a,
          "Write every instance of a compiled clause template into `storage` and its auxiliary\n"
          "keys into `mapping`; False, with nothing written, when a value is out of range.");
}
