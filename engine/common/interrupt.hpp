#pragma once
#include <cstdint>

namespace zorv {

// Asks the host whether the user wants the running call stopped (Ctrl-C) and throws if so; the
// host that links the engine defines it (the Python module raises the pending KeyboardInterrupt).
// The exception unwinds like any engine error, so a call that fails leaves its target untouched.
void poll_interrupt();

// Set on this thread when poll_interrupt throws; cleared where free_aside_when_stopped begins.
inline thread_local bool interrupt_thrown = false;

// Long loops tick once per unit of work; every `stride` units the host is asked. Strides are
// chosen so that a stride of work takes well under a millisecond.
class interrupt_gate {
public:
    explicit interrupt_gate(std::uint32_t stride = 1024) : stride_(stride) {}

    void tick(std::uint32_t work = 1) {
        count_ += work;
        if (count_ >= stride_) {
            count_ = 0;
            poll_interrupt();
        }
    }

private:
    std::uint32_t stride_;
    std::uint32_t count_ = 0;
};

}  // namespace zorv
