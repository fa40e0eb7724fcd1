#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.hpp"
#include "common/interrupt.hpp"
#include "fenc/catalog.hpp"
#include "fenc/foralls.hpp"
#include "fenc/program.hpp"
#include "pbct/int128.hpp"

namespace zorv::fenc {

// (cell number, coefficient) in the order of a left-to-right walk of a term; a cell may repeat.
// A coefficient is exact while it fits in 64 bits; past that it is only known to be past it.
using weighted_cells = std::vector<std::pair<std::int64_t, pbct::i128>>;

// Evaluates the integer parts of a program for one binding of its slots: index arithmetic,
// value sources, cell numbers and the weighted cells of terms. Arithmetic is checked: an
// overflow, a negative exponent, a zero range step or an index out of its variable's range
// throws value_error. A term's coefficients are worked out past 64 bits (see weighted_cells): a
// row or a soft weight refuses them where it needs them in 64 bits.
//
// The loops' work is counted: in one instance the combinations of loop values (the product of
// the ranges of nested loops) are at most `instance_work`, and in all instances together at
// most max_instances. A loop is refused (value_error) before it runs when the values it would
// take at the multiplicity of the loops around it pass either cap, and the count refuses the
// rest as it goes, so that no text runs without bound.
class evaluator {
public:
    evaluator(const program& p, const catalog& variables, std::uint64_t instance_work = max_instances)
        : p_(p), variables_(variables), slots_(p.slots, 0), instance_work_(instance_work) {}

    // Starts the next of `instances` instances.
    void begin_instance(std::uint64_t instances) {
        instances_ = instances;
        work_ = 0;
        around_ = 1;
    }

    std::int64_t& slot(std::uint32_t s) { return slots_[s]; }
    std::int64_t integer(std::uint32_t id) const;
    std::int64_t cell(std::uint32_t id) const;
    // Appends the weighted cells of term `id`, each coefficient multiplied by `factor`.
    void term(std::uint32_t id, pbct::i128 factor, weighted_cells& out);

    // Calls f(id) for each operand of a term or Boolean node: its listed kids, or its body `a`
    // once per combination of its comprehension loops.
    template <class Node, class F>
    void operands(const Node& n, F&& f) {
        if (n.loops.empty()) {
            for (auto kid : n.kids) f(kid);
        } else {
            each(n.loops, [&] { f(n.a); });
        }
    }

    // Calls body() once per combination of the loops' values, the first loop outermost, with
    // the loop slots bound.
    template <class Body>
    void each(std::span<const loop> loops, Body&& body) {
        if (loops.empty()) {
            body();
            return;
        }
        const loop& first = loops.front();
        const source_node& from = p_.sources[first.source];
        const std::uint64_t outer = around_;
        const bool innermost = loops.size() == 1;
        auto visit = [&](std::int64_t value) {
            gate_.tick();
            if (innermost) count_step();
            slots_[first.slot] = value;
            each(loops.subspan(1), body);
        };
        if (!from.is_range) {
            // Evaluated up front: the host evaluates a list display before iterating.
            std::vector<std::int64_t> values;
            values.reserve(from.args.size());
            for (auto arg : from.args) values.push_back(integer(arg));
            enter_loop(values.size());
            for (auto v : values) visit(v);
            around_ = outer;
            return;
        }
        std::int64_t start = 0, stop = 0, step = 1;
        range_of(from, start, stop, step);
        const std::uint64_t length = range_length(start, stop, step);
        if (length > max_instances) throw value_error("a comprehension's range has more than " +
                                                      std::to_string(max_instances) + " values");
        enter_loop(length);
        // Unsigned steps: every value lies between start and stop, the sums need not fit.
        auto v = static_cast<std::uint64_t>(start);
        for (std::uint64_t k = 0; k < length; ++k, v += static_cast<std::uint64_t>(step)) {
            visit(static_cast<std::int64_t>(v));
        }
        around_ = outer;
    }

private:
    void range_of(const source_node& from, std::int64_t& start, std::int64_t& stop, std::int64_t& step) const;
    // A loop of `length` values starts inside the loops whose values multiply to around_.
    void enter_loop(std::uint64_t length);
    void count_step();

    const program& p_;
    const catalog& variables_;
    std::vector<std::int64_t> slots_;
    std::uint64_t instance_work_;
    std::uint64_t instances_ = 1;  // of the constraint
    std::uint64_t around_ = 1;     // values of the loops around the running one, all taken
    std::uint64_t work_ = 0;       // values taken by innermost loops in this instance
    std::uint64_t total_ = 0;      // and in all instances so far
    interrupt_gate gate_{1024};
};

// The soft unit clause of one term of a weighted sum: weight |product|, asking for the cell true
// when the product is positive and the sum is maximised, or when it is not and it is minimised.
struct soft_unit {
    bool wanted = true;
    std::uint64_t weight = 0;
};
// A weight past 64 bits is kept past the largest sum of weights that a file may hold.
inline soft_unit soft_unit_of(pbct::i128 product, bool minimization) {
    const pbct::i128 magnitude = product >= 0 ? product : -product;
    return {(product > 0) != minimization, static_cast<std::uint64_t>(magnitude)};
}

std::int64_t checked_mul(std::int64_t a, std::int64_t b);
std::int64_t checked_add(std::int64_t a, std::int64_t b);
std::int64_t checked_sub(std::int64_t a, std::int64_t b);
// A coefficient of a row; past 64 bits, limit_error as the pseudo-Boolean encoder gives on the
// container road.
std::int64_t row_coefficient(pbct::i128 coefficient);

}  // namespace zorv::fenc
