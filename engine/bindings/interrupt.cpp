#include <nanobind/nanobind.h>

#include "common/interrupt.hpp"

// Runs the Python signal handlers; the KeyboardInterrupt (or whatever a handler raises) travels
// up as a python_error and is raised again when the engine call returns.
void zorv::poll_interrupt() {
    if (PyErr_CheckSignals() != 0) {
        zorv::interrupt_thrown = true;
        throw nanobind::python_error();
    }
}
