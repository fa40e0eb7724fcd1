#pragma once
// Freeing a dict of millions of entries takes the host hundreds of milliseconds with the
// interpreter lock held, one object at a time. A call stopped by Ctrl-C while it fills one hands
// the dict to a new thread, which clears it there: KeyboardInterrupt reaches the caller at once,
// and the freeing runs once the caller lets that thread have the lock.
#include <nanobind/nanobind.h>

#include <exception>

#include "common/interrupt.hpp"

namespace zorv::py {

// Fewer entries than this take a few milliseconds at most: freed in place.
inline constexpr Py_ssize_t dict_freed_inline_entries = Py_ssize_t{1} << 16;

// Clears `held` on another thread when the scope is left by Ctrl-C (poll_interrupt throwing) and
// it holds many entries. Any other failure, out of memory above all, frees in place, so that the
// memory is back before the caller tries again; so does a thread that cannot be had.
class dict_aside_when_stopped {
public:
    explicit dict_aside_when_stopped(const nanobind::dict& held)
        : held_(held), exceptions_(std::uncaught_exceptions()) {
        interrupt_thrown = false;
    }
    ~dict_aside_when_stopped() {
        if (std::uncaught_exceptions() > exceptions_ && interrupt_thrown &&
            PyDict_GET_SIZE(held_.ptr()) > dict_freed_inline_entries && PyErr_Occurred() == nullptr) {
            // The thread holds the dict through its bound clear(); _thread's threads are not
            // waited for at exit, and one still waiting for the lock then simply ends.
            PyObject* thread_module = PyImport_ImportModule("_thread");
            PyObject* clear = PyObject_GetAttrString(held_.ptr(), "clear");
            PyObject* started = thread_module == nullptr || clear == nullptr
                                    ? nullptr
                                    : PyObject_CallMethod(thread_module, "start_new_thread", "(O())", clear);
            if (started == nullptr) {
                PyErr_Clear();
            }
            Py_XDECREF(started);
            Py_XDECREF(clear);
            Py_XDECREF(thread_module);
        }
    }
    dict_aside_when_stopped(const dict_aside_when_stopped&) = delete;
    dict_aside_when_stopped& operator=(const dict_aside_when_stopped&) = delete;

private:
    const nanobind::dict& held_;
    int exceptions_;
};

}  // namespace zorv::py
