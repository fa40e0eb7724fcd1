#pragma once
#include <cstdint>

#include "common/interrupt.hpp"
#include "fenc/evaluate.hpp"
#include "fenc/foralls.hpp"

namespace zorv::fenc {

// Calls body(n) for every instance n of the foralls, in order (the first forall outermost),
// with the forall slots of `ev` bound to the instance's values.
template <class Body>
void for_each_instance(const forall_set& foralls, evaluator& ev, Body&& body) {
    std::uint64_t n = 0;
    interrupt_gate gate(256);
    auto visit = [&](auto& self, std::size_t depth) -> void {
        if (depth == foralls.values.size()) {
            gate.tick();
            body(n++);
            return;
        }
        for (const std::int64_t v : foralls.values[depth]) {
            ev.slot(static_cast<std::uint32_t>(depth)) = v;
            self(self, depth + 1);
        }
    };
    visit(visit, 0);
}

}  // namespace zorv::fenc
