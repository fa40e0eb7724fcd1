#include "common/thread_state.hpp"

#include "common/interrupt.hpp"

namespace zorv {

void ready_thread_state() noexcept {
    thread_local bool ready = false;
    if (ready) {
        return;
    }
    ready = true;
    interrupt_thrown = false;
    try {
        throw 0;  // the runtime's exception state of this thread
    } catch (int) {
    }
}

}  // namespace zorv
