#include "fenc/evaluate.hpp"

#include <string>

#include "common/errors.hpp"

namespace zorv::fenc {

std::int64_t checked_mul(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) throw value_error("integer overflow in a constraint, whose integers are of 64 bits");
    return r;
}

std::int64_t checked_add(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) throw value_error("integer overflow in a constraint, whose integers are of 64 bits");
    return r;
}

std::int64_t checked_sub(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) throw value_error("integer overflow in a constraint, whose integers are of 64 bits");
    return r;
}

std::int64_t row_coefficient(pbct::i128 coefficient) {
    if (!pbct::fits64(coefficient)) throw limit_error("coefficient does not fit in 64 bits");
    return static_cast<std::int64_t>(coefficient);
}

namespace {

// a * b with its magnitude cut to just past 64 bits, so that it fits in 128 bits whatever
// multiplies it later: a product of nonzero integers never shrinks, so a coefficient that has
// left 64 bits never comes back, and a factor 0 still gives 0 as the host's integers do.
pbct::i128 scaled(pbct::i128 a, std::int64_t b) {
    constexpr pbct::i128 past = (pbct::i128{1} << 63) + 1;
    const pbct::i128 product = a * b;
    return product > past ? past : product < -past ? -past : product;
}

}  // namespace

void evaluator::enter_loop(std::uint64_t length) {
    // What this loop will take in the instance, and in the constraint, at this multiplicity.
    std::uint64_t here = 0, everywhere = 0;
    if (__builtin_mul_overflow(around_, length, &here) || here > instance_work_) {
        throw value_error("the comprehension loops of one instance would take more than " +
                          std::to_string(instance_work_) + " combinations of values (the product of their ranges)");
    }
    if (__builtin_mul_overflow(here, instances_, &everywhere) || everywhere > max_instances) {
        throw value_error("the comprehension loops over all " + std::to_string(instances_) +
                          " instances would take more than " + std::to_string(max_instances) +
                          " combinations of values (the instances times the product of the ranges)");
    }
    around_ = here;
}

void evaluator::count_step() {
    // Loops whose ranges grow with an outer loop's value pass the estimate: the count of the
    // combinations (the innermost loop's values) stops them.
    if (++work_ > instance_work_) {
        throw value_error("the comprehension loops of one instance take more than " +
                          std::to_string(instance_work_) + " combinations of values");
    }
    if (++total_ > max_instances) {
        throw value_error("the comprehension loops of all instances take more than " +
                          std::to_string(max_instances) + " combinations of values");
    }
}

std::int64_t evaluator::integer(std::uint32_t id) const {
    const int_node& n = p_.ints[id];
    switch (n.op) {
        case int_op::constant:
            return n.value;
        case int_op::slot:
            return slots_[static_cast<std::size_t>(n.value)];
        case int_op::sum: {
            std::int64_t total = 0;
            for (std::size_t k = 0; k < n.kids.size(); ++k) {
                const std::int64_t v = integer(n.kids[k]);
                total = n.signs[k] == '-' ? checked_sub(total, v) : checked_add(total, v);
            }
            return total;
        }
        case int_op::product:
            return checked_mul(integer(n.kids[0]), integer(n.kids[1]));
        case int_op::power: {
            std::int64_t base = integer(n.kids[0]);
            std::int64_t exponent = integer(n.kids[1]);
            if (exponent < 0) throw value_error("negative exponent in an integer expression");
            std::int64_t result = 1;
            while (exponent > 0) {
                if (exponent & 1) result = checked_mul(result, base);
                exponent >>= 1;
                if (exponent > 0) base = checked_mul(base, base);
            }
            return result;
        }
        case int_op::negate:
            return checked_mul(integer(n.kids[0]), -1);
    }
    return 0;
}

void evaluator::range_of(const source_node& from, std::int64_t& start, std::int64_t& stop,
                         std::int64_t& step) const {
    if (from.args.size() == 1) {
        stop = integer(from.args[0]);
        return;
    }
    start = integer(from.args[0]);
    stop = integer(from.args[1]);
    if (from.args.size() == 3) step = integer(from.args[2]);
    if (step == 0) throw value_error("range() step must not be zero");
}

std::int64_t evaluator::cell(std::uint32_t id) const {
    const cell_node& c = p_.cells[id];
    const declared_variable& v = variables_.at(c.variable);
    std::int64_t number = v.start;
    for (std::size_t k = 0; k < c.indexes.size(); ++k) {
        const std::int64_t index = integer(c.indexes[k]);
        if (index < 0 || index >= v.sizes[k]) {
            throw index_error("index " + std::to_string(k) + " of variable " + v.name + " takes the value " +
                              std::to_string(index) + ", out of the range 0.." + std::to_string(v.sizes[k] - 1));
        }
        number += index * v.strides[k];
    }
    return number;
}

void evaluator::term(std::uint32_t id, pbct::i128 factor, weighted_cells& out) {
    const term_node& t = p_.terms[id];
    switch (t.op) {
        case term_op::cell:
            out.emplace_back(cell(t.a), factor);
            return;
        case term_op::sum:
            for (std::size_t k = 0; k < t.kids.size(); ++k) {
                term(t.kids[k], t.signs[k] == '-' ? scaled(factor, -1) : factor, out);
            }
            return;
        case term_op::scale:
            term(t.b, scaled(factor, integer(t.a)), out);
            return;
        case term_op::collect:
            operands(t, [&](std::uint32_t kid) { term(kid, factor, out); });
            return;
    }
}

}  // namespace zorv::fenc
