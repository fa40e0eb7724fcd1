#include "bindings/module.hpp"

#include <cerrno>
#include <cstring>
#include <string>

#include "bindings/numpy_vector.hpp"
#include "common/errors.hpp"
#include "common/thread_state.hpp"

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
    } catch (const zorv::index_error& e) {
        PyErr_SetString(PyExc_IndexError, e.what());
    } catch (const zorv::limit_error& e) {
        PyErr_SetString(PyExc_OverflowError, e.what());
    } catch (const zorv::os_error& e) {
        const std::string text = e.why.empty() ? std::string(std::strerror(e.code))
                                                : e.why + " (" + std::strerror(e.code) + ")";
        // OSError(errno, text, filename) picks the subclass that matches errno; but a file that
        // exists is not "not found" because its directory takes no new file: that errno is set
        // on a plain OSError.
        const bool plain = !e.why.empty() && e.code == ENOENT;
        PyObject* filename = PyUnicode_DecodeFSDefault(e.path.c_str());
        PyObject* args = plain ? Py_BuildValue("(OsN)", Py_None, text.c_str(), filename)
                               : Py_BuildValue("(isN)", e.code, text.c_str(), filename);
        PyObject* error = args == nullptr ? nullptr : PyObject_Call(PyExc_OSError, args, nullptr);
        Py_XDECREF(args);
        if (error != nullptr && plain) {
            const nb::object code = nb::steal(PyLong_FromLong(e.code));
            if (!code.is_valid() || PyObject_SetAttrString(error, "errno", code.ptr()) != 0) {
                Py_CLEAR(error);
            }
        }
        if (error != nullptr) {
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
            Py_DECREF(error);
        }
    }
}

}  // namespace

NB_MODULE(_engine, m) {
    zorv::ready_thread_state();  // the importing thread, usually the only one
    nb::register_exception_translator(translate_engine_errors);
    bind_vector_buffer(m);
    m.def(
        "set_leak_warnings", [](bool on) { nb::set_leak_warnings(on); }, nb::arg("on"),
        "Whether the binding library reports engine objects still alive when the interpreter ends.");

    auto bxpr = m.def_submodule("bxpr", "Boolean expressions and the Tseytin transformation");
    bind_bxpr(bxpr);
    auto pbct = m.def_submodule("pbct", "Pseudo-Boolean constraints and their CNF encodings");
    bind_pbct(pbct);
    auto cnf = m.def_submodule("cnf", "Clause storage, DIMACS files and variable mappings");
    bind_cnf(cnf);
    auto lp = m.def_submodule("lp", "Linear-program storage");
    bind_lp(lp);
    auto inst = m.def_submodule("inst", "Instantiation of clause templates over foralls");
    bind_inst(inst);
    auto fenc = m.def_submodule("fenc", "Reading, instantiating and checking constraint texts");
    bind_fenc(fenc);
}
