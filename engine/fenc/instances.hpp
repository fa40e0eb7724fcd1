#pragma once
#include <cstdint>

#include "fenc/evaluate.hpp"
#include "fenc/foralls.hpp"

namespace zorv::fenc {

// Calls body(n) for every instance n of the foralls, in order (the first forall outermost),
// with the forall slots of `ev` bound to the instance's values.
template <class Body>
void for_each_instance(const forall_set& foralls, evaluator& ev, Body&& body) {
    std::uint64_t n = 0;
    auto visit = [&](auto& self, std::size_t depth) -> void {
        if (depth == foralls.values.size()) {
            body(n++);
            return;
        }
        const inst::forall_values& values = foralls.values[depth];
        for (std::size_t k = 0; k < values.size(); ++k) {
            ev.slot(static_cast<std::uint32_t>(depth)) = values[k];
            self(self, depth + 1);
        }
    };
    visit(visit, 0);
}

}  // namespace zorv::fenc
