#pragma once
#include <Python.h>

// Holds the cyclic garbage collector off for its lifetime (Python 3.10 and later; a no-op
// before). Making a million lists that hold no cycle would otherwise run full collections over
// everything alive, again and again.
class gc_pause {
public:
    gc_pause() {
#if PY_VERSION_HEX >= 0x030A0000
        was_enabled_ = PyGC_Disable() == 1;
#endif
    }
    ~gc_pause() {
#if PY_VERSION_HEX >= 0x030A0000
        if (was_enabled_) PyGC_Enable();
#endif
    }
    gc_pause(const gc_pause&) = delete;
    gc_pause& operator=(const gc_pause&) = delete;

private:
    bool was_enabled_ = false;
};
