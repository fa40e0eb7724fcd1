#pragma once

namespace zorv {

// The C++ runtime's exception state and this engine's thread-local values are allocated by the
// loader at their first use on each thread, and the C library ends the process when that
// allocation fails. Taking them once, early, while memory is still there, lets a later failure
// raise MemoryError instead. Cheap after the first call on a thread.
void ready_thread_state() noexcept;

}  // namespace zorv
