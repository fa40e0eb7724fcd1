#include "bindings/numpy_vector.hpp"

#include "bindings/py_objects.hpp"

namespace nb = nanobind;

namespace {

int lend(PyObject* self, Py_buffer* view, int flags) {
    const vector_buffer* b = nb::inst_ptr<vector_buffer>(self);
    // An empty vector may have no storage; a buffer needs an address all the same.
    static char none = 0;
    return PyBuffer_FillInfo(view, self, b->data != nullptr ? b->data : &none, static_cast<Py_ssize_t>(b->bytes),
                             b->writable ? 0 : 1, flags);
}

PyType_Slot buffer_slots[] = {{Py_bf_getbuffer, reinterpret_cast<void*>(lend)}, {0, nullptr}};

}  // namespace

void bind_vector_buffer(nb::module_& m) {
    nb::class_<vector_buffer>(m, "_vector_buffer", nb::type_slots(buffer_slots),
                              "The bytes behind a numpy array handed out by the engine.");
}

nb::object numpy_array(vector_buffer&& buffer, const char* dtype) {
    const nb::object owner = nb::cast(std::move(buffer));
    const nb::object frombuffer = nb::module_::import_("numpy").attr("frombuffer");
    return zorv::py::checked(PyObject_CallFunctionObjArgs(frombuffer.ptr(), owner.ptr(),
                                                          zorv::py::text(dtype).ptr(), nullptr));
}
