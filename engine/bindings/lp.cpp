#include <cstdint>
#include <span>

#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/vector.h>

#include "bindings/module.hpp"
#include "bindings/numpy_vector.hpp"
#include "bindings/py_objects.hpp"
#include "lp/ineq_type.hpp"
#include "lp/linear_row.hpp"
#include "lp/lp_storage.hpp"
#include "lp/solver_arrays.hpp"
#include "lp/var_block.hpp"
#include "lp/var_type.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using zorv::lp::index_t;

namespace {

void bind_enums(nb::module_& m) {
    nb::enum_<zorv::lp::ineq_type>(m, "ineq_type")
        .value("unknown", zorv::lp::ineq_type::unknown)
        .value("equality", zorv::lp::ineq_type::equality)
        .value("greater_equal", zorv::lp::ineq_type::greater_equal)
        .value("less_equal", zorv::lp::ineq_type::less_equal);
    nb::enum_<zorv::lp::var_type>(m, "var_type")
        .value("continuous", zorv::lp::var_type::continuous)
        .value("integer", zorv::lp::var_type::integer)
        .value("binary", zorv::lp::var_type::binary);
}

void bind_row(nb::module_& m) {
    using zorv::lp::linear_row;
    nb::class_<linear_row>(m, "linear_row")
        .def(nb::init<>())
        .def(nb::init<const linear_row&>(), "other"_a)
        .def("get_var_count", &linear_row::width)
        .def("set_var_count", &linear_row::set_width, "count"_a)
        .def("get_name", &linear_row::name)
        .def("set_name", &linear_row::set_name, "name"_a)
        .def("get_ineq_type", &linear_row::type)
        .def("set_ineq_type", &linear_row::set_type, "type"_a)
        .def("set_name_iet",
             [](linear_row& r, std::string name, zorv::lp::ineq_type type) {
                 r.set_name(std::move(name));
                 r.set_type(type);
             },
             "name"_a, "type"_a)
        .def("set_one", &linear_row::set_one, "col"_a)
        .def("_set_ones",
             [](linear_row& r, nb::handle indexes, index_t shift) {
                 r.set_ones(buffer_items<index_t>(indexes, "indexes").items(), shift);
             },
             "indexes"_a, "shift"_a)
        .def("_set_by_coefficients",
             [](linear_row& r, index_t shift, nb::handle coefs) {
                 r.set_coefficients(shift, buffer_items<double>(coefs, "coefficients").items());
             },
             "shift"_a, "coefs"_a)
        .def("get_linear_coefficients", [](const linear_row& r) { return to_numpy(r.dense()); })
        .def("_get_entries",
             [](const linear_row& r) {
                 const auto c = r.columns();
                 const auto v = r.values();
                 return nb::make_tuple(to_numpy(std::vector<index_t>(c.begin(), c.end())),
                                       to_numpy(std::vector<double>(v.begin(), v.end())));
             })
        .def("get_constant", &linear_row::constant)
        .def("set_constant", &linear_row::set_constant, "value"_a)
        .def("get_left_border", &linear_row::left_border)
        .def("set_left_border", &linear_row::set_left_border, "value"_a)
        .def("get_right_border", &linear_row::right_border)
        .def("set_right_border", &linear_row::set_right_border, "value"_a)
        .def("set_borders", &linear_row::set_borders, "lower"_a, "upper"_a)
        .def("is_border_free", &linear_row::is_border_free)
        .def("_clear_borders", &linear_row::clear_borders)
        .def("_add_constant", &linear_row::add_constant, "value"_a)
        .def("_scale", &linear_row::scale, "factor"_a)
        .def("_add_row", &linear_row::add_row, "other"_a, "factor"_a);
}

void bind_blocks(nb::module_& m) {
    using zorv::lp::var_block_info;
    using zorv::lp::var_block_shape;
    nb::class_<var_block_shape>(m, "var_block_shape")
        .def(nb::init<std::vector<index_t>>(), "dims"_a)
        .def("get_indexes_info", &var_block_shape::dims)
        .def("get_item_count", &var_block_shape::item_count);
    nb::class_<var_block_info>(m, "var_block_info")
        .def("get_name", &var_block_info::name)
        .def("get_shape", &var_block_info::shape, nb::rv_policy::copy)
        .def("get_var_type", &var_block_info::type)
        .def("get_lower_var_bound", &var_block_info::lower_bound)
        .def("get_upper_var_bound", &var_block_info::upper_bound)
        .def("get_initial_shift", &var_block_info::initial_shift)
        .def("get_item_count", &var_block_info::item_count);
}

nb::dict solver_arrays_dict(const zorv::lp::lp_storage& storage) {
    auto a = zorv::lp::to_solver_arrays(storage);
    const nb::dict d = zorv::py::new_dict();
    const auto set = [&d](const char* key, const nb::handle value) { zorv::py::set_item(d, zorv::py::text(key), value); };
    set("col_cost", to_numpy(std::move(a.col_cost)));
    set("col_lower", to_numpy(std::move(a.col_lower)));
    set("col_upper", to_numpy(std::move(a.col_upper)));
    set("integrality", to_numpy(std::move(a.integrality)));
    set("row_lower", to_numpy(std::move(a.row_lower)));
    set("row_upper", to_numpy(std::move(a.row_upper)));
    set("a_start", to_numpy(std::move(a.a_start)));
    set("a_index", to_numpy(std::move(a.a_index)));
    set("a_value", to_numpy(std::move(a.a_value)));
    set("offset", zorv::py::checked(PyFloat_FromDouble(a.offset)));
    set("maximization", a.maximization ? Py_True : Py_False);
    return d;
}

void bind_storage(nb::module_& m) {
    using zorv::lp::lp_storage;
    nb::class_<lp_storage>(m, "lp_storage")
        .def(nb::init<>())
        .def("get_model_name", &lp_storage::model_name)
        .def("_set_model_name", &lp_storage::set_model_name, "name"_a)
        // Each returned index is made before the storage changes: once it has, nothing can fail.
        .def("create_variable_block",
             [](lp_storage& s, std::string name, std::vector<index_t> shape, zorv::lp::var_type type,
                double lower, double upper) {
                 nb::object index = zorv::py::integer(s.block_count());
                 s.add_block(std::move(name), std::move(shape), type, lower, upper);
                 return index;
             },
             "name"_a, "shape"_a, "variable_type"_a, "lower_bound"_a, "upper_bound"_a)
        .def("get_var_block_info", &lp_storage::block, "index"_a, nb::rv_policy::copy)
        .def("get_var_block_info_count", &lp_storage::block_count)
        .def("_find_var_block", &lp_storage::find_block, "name"_a)
        .def("get_col_count", &lp_storage::col_count)
        .def("add_row_from_expression",
             [](lp_storage& s, const zorv::lp::linear_row& row, const std::string& name) {
                 nb::object index = zorv::py::integer(s.row_count());
                 s.add_row(row, name);
                 return index;
             },
             "row"_a, "name"_a = "")
        .def("get_row_count", &lp_storage::row_count)
        .def("get_row_name", &lp_storage::row_name, "index"_a)
        .def("add_objective_from_expression", &lp_storage::set_objective, "row"_a, "name"_a = "")
        .def("is_maximization", &lp_storage::maximization)
        .def("_set_maximization", &lp_storage::set_maximization, "value"_a)
        .def("_revision", &lp_storage::revision)
        .def("_solver_arrays", &solver_arrays_dict);
}

}  // namespace

void bind_lp(nb::module_& m) {
    bind_enums(m);
    bind_row(m);
    bind_blocks(m);
    bind_storage(m);
}
