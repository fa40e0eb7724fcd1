#pragma once
#include <cstdint>

#include "common/interrupt.hpp"
#include "fenc/constraint.hpp"
#include "fenc/evaluate.hpp"
#include "fenc/foralls.hpp"

namespace zorv::fenc {

// Calls body(n) for every instance n of the foralls, in order (the first forall outermost),
// with the forall slots of `ev` bound to the instance's values.
template <class Body>
void for_each_instance(const forall_set& foralls, evaluator& ev, Body&& body) {
    const std::uint64_t count = foralls.instance_count();
    if (count == 0) return;
    // An odometer, not recursion: a text may hold any number of foralls.
    inst::forall_odometer odometer(foralls.values);
    interrupt_gate gate(256);
    for (std::uint64_t n = 0; n < count; ++n) {
        gate.tick();
        if (n > 0) odometer.advance();
        const auto values = odometer.values();
        for (std::size_t f = 0; f < values.size(); ++f) ev.slot(static_cast<std::uint32_t>(f)) = values[f];
        ev.begin_instance(count);
        body(n);
    }
}

// Calls unit(cell, soft_unit) for every term of every instance of soft constraint `c`, in order:
// the clauses written and the cost of a witness come from the same units.
template <class Unit>
void for_each_soft_unit(const constraint& c, evaluator& ev, Unit&& unit) {
    weighted_cells weighted;
    for_each_instance(c.foralls, ev, [&](std::uint64_t) {
        weighted.clear();
        ev.term(c.code.root, c.weight, weighted);
        for (const auto& [cell, product] : weighted) unit(cell, soft_unit_of(product, c.minimization));
    });
}

}  // namespace zorv::fenc
