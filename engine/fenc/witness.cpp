#include "fenc/witness.hpp"

#include "common/errors.hpp"
#include "fenc/evaluate.hpp"
#include "fenc/instances.hpp"

namespace zorv::fenc {

namespace {

class truth {
public:
    truth(const constraint& c, const catalog& variables, std::span<const std::uint8_t> cells)
        : p_(c.code), ev_(c.code, variables), cells_(cells) {}

    evaluator& ev() { return ev_; }

    bool value_of_cell(std::int64_t number) const { return cells_[static_cast<std::size_t>(number - 1)] != 0; }

    // In 128 bits: the terms' coefficients fit in 64 bits each, their sum need not, and no
    // instance has 2^64 terms. A target, never encoded, meets the coefficients' check here.
    pbct::i128 sum(std::uint32_t term) {
        weighted_cells weighted;
        ev_.term(term, 1, weighted);
        pbct::i128 total = 0;
        for (const auto& [cell, coefficient] : weighted) {
            const std::int64_t exact = row_coefficient(coefficient);
            if (value_of_cell(cell)) total += exact;
        }
        return total;
    }

    bool of(std::uint32_t id) {
        const bool_node& n = p_.bools[id];
        switch (n.op) {
            case bool_op::cell:
                return value_of_cell(ev_.cell(n.a));
            case bool_op::one:
                return true;
            case bool_op::zero:
                return false;
            case bool_op::negate:
                return !of(n.a);
            case bool_op::and_:
            case bool_op::or_:
            case bool_op::xor_:
            case bool_op::eq_: {
                std::size_t count = 0, trues = 0;
                ev_.operands(n, [&](std::uint32_t kid) {
                    ++count;
                    trues += of(kid) ? 1 : 0;
                });
                if (n.op == bool_op::and_) return trues == count;
                if (n.op == bool_op::or_) return trues > 0;
                if (n.op == bool_op::xor_) return trues % 2 == 1;
                return trues == 0 || trues == count;
            }
            case bool_op::implies: {
                const bool premise = of(n.a);
                return !premise || of(n.b);
            }
            case bool_op::ite: {
                const bool cond = of(n.a);
                return cond ? of(n.b) : of(n.c);
            }
            case bool_op::compare: {
                const pbct::i128 total = sum(n.a);
                const std::int64_t bound = ev_.integer(n.b);
                if (n.comparator == pbct::Comparator::LEQ) return total <= bound;
                if (n.comparator == pbct::Comparator::GEQ) return total >= bound;
                return total == bound;
            }
        }
        return false;
    }

private:
    const program& p_;
    evaluator ev_;
    std::span<const std::uint8_t> cells_;
};

}  // namespace

bool holds(const constraint& c, const catalog& variables, std::span<const std::uint8_t> cells) {
    truth t(c, variables, cells);
    bool all = true;
    for_each_instance(c.foralls, t.ev(), [&](std::uint64_t) {
        if (all) all = t.of(c.code.root);
    });
    return all;
}

std::uint64_t soft_cost(const constraint& c, const catalog& variables, std::span<const std::uint8_t> cells) {
    evaluator ev(c.code, variables);
    std::uint64_t cost = 0;
    for_each_soft_unit(c, ev, [&](std::int64_t cell, const soft_unit& unit) {
        if ((cells[static_cast<std::size_t>(cell - 1)] != 0) != unit.wanted) cost += unit.weight;
    });
    return cost;
}

pbct::i128 term_value(const constraint& c, const catalog& variables, std::span<const std::uint8_t> cells) {
    truth t(c, variables, cells);
    return t.sum(c.code.root);
}

}  // namespace zorv::fenc
