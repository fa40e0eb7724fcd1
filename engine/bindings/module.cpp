#include "bindings/module.hpp"

#include "common/errors.hpp"

namespace nb = nanobind;

namespace {

// Engine errors carry their Python class in their C++ type.
void translate_engine_errors(const std::exception_ptr& p, void* /*payload*/) {
    try {
        std::rethrow_exception(p);
    } catch (const zorv::type_error& e) {
        PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const zorv::value_error& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const zorv::limit_error& e) {
        PyErr_SetString(PyExc_OverflowError, e.what());
    }
}

}  // namespace

NB_MODULE(_engine, m) {
    nb::register_exception_translator(translate_engine_errors);

    auto bxpr = m.def_submodule("bxpr", "Boolean expressions and the Tseytin transformation");
    bind_bxpr(bxpr);
    auto pbct = m.def_submodule("pbct", "Pseudo-Boolean constraints and their CNF encodings");
    bind_pbct(pbct);
    auto cnf = m.def_submodule("cnf", "Clause storage, DIMACS files and variable mappings");
    bind_cnf(cnf);
    auto lp = m.def_submodule("lp", "Linear-program storage");
    bind_lp(lp);
}
