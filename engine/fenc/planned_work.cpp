#include "fenc/planned_work.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "common/errors.hpp"
#include "fenc/evaluate.hpp"
#include "fenc/instantiate.hpp"

namespace zorv::fenc {

namespace {

// Adds the literals that clause-shaped node `id` writes at least to `literals`; false when the
// clause may hold whatever the cells are (a constant true in it), and then is not written.
bool least_clause(const program& p, std::uint32_t id, std::uint64_t& literals) {
    const bool_node& n = p.bools[id];
    switch (n.op) {
        case bool_op::cell:
        case bool_op::negate:
            ++literals;
            return true;
        case bool_op::one:
            return false;
        case bool_op::implies:
            ++literals;
            return least_clause(p, n.b, literals);
        case bool_op::or_: {
            if (!n.loops.empty()) {
                // The loops may take no value: only whether the clause is written is sure.
                std::uint64_t ignored = 0;
                return least_clause(p, n.a, ignored);
            }
            bool written = true;
            for (const std::uint32_t kid : n.kids) written = least_clause(p, kid, literals) && written;
            return written;
        }
        default:
            return true;
    }
}

// Adds what node `id`, asserted at the top of an instance, writes at least to `out`, as
// hard_instances::top writes it: a pseudo-Boolean encoding or a Tseytin clause form may come to
// nothing, a clause-shaped conjunct is one clause.
void least_top(const program& p, const std::vector<std::uint8_t>& shaped, std::uint32_t id,
               instance_output& out) {
    const bool_node& n = p.bools[id];
    if (n.op == bool_op::and_) {
        // Conjuncts over loops may be none.
        if (n.loops.empty()) {
            for (const std::uint32_t kid : n.kids) least_top(p, shaped, kid, out);
        }
        return;
    }
    std::uint64_t literals = 0;
    if (n.op != bool_op::compare && shaped[id] && least_clause(p, id, literals)) {
        ++out.clauses;
        out.literals += literals;
    }
}

// Terms that the weighted sum of term `id` lists at least with a coefficient that is not 0.
std::uint64_t least_terms(const program& p, std::uint32_t id) {
    const term_node& t = p.terms[id];
    switch (t.op) {
        case term_op::cell:
            return 1;
        case term_op::scale: {
            const int_node& factor = p.ints[t.a];
            return factor.op == int_op::constant && factor.value != 0 ? least_terms(p, t.b) : 0;
        }
        case term_op::sum:
        case term_op::collect: {
            std::uint64_t terms = 0;
            if (t.loops.empty()) {
                for (const std::uint32_t kid : t.kids) terms += least_terms(p, kid);
            }
            return terms;
        }
    }
    return 0;
}

// The most combinations of loop values that one instance certainly takes at a loop: the product
// of the loops' lengths where the text alone fixes them, the loops around included.
class fixed_loops {
public:
    fixed_loops(const program& p, const catalog& variables) : p_(p), ev_(p, variables) {}

    std::uint64_t most() const { return most_; }

    void boolean(std::uint32_t id, std::uint64_t around) {
        const bool_node& n = p_.bools[id];
        switch (n.op) {
            case bool_op::cell:
            case bool_op::one:
            case bool_op::zero:
                return;
            case bool_op::negate:
                boolean(n.a, around);
                return;
            case bool_op::implies:
                boolean(n.a, around);
                boolean(n.b, around);
                return;
            case bool_op::ite:
                boolean(n.a, around);
                boolean(n.b, around);
                boolean(n.c, around);
                return;
            case bool_op::compare:
                term(n.a, around);
                return;
            default:
                operands(n, around, [this](std::uint32_t kid, std::uint64_t at) { boolean(kid, at); });
        }
    }

    void term(std::uint32_t id, std::uint64_t around) {
        const term_node& t = p_.terms[id];
        switch (t.op) {
            case term_op::cell:
                return;
            case term_op::scale:
                term(t.b, around);
                return;
            case term_op::sum:
            case term_op::collect:
                operands(t, around, [this](std::uint32_t kid, std::uint64_t at) { term(kid, at); });
        }
    }

private:
    // Visits the operands of a node entered `around` times: its listed kids, or its body inside
    // its loops when their lengths are fixed.
    template <class Node, class Visit>
    void operands(const Node& n, std::uint64_t around, Visit visit) {
        if (n.loops.empty()) {
            for (const std::uint32_t kid : n.kids) visit(kid, around);
        } else if (const auto inside = entered(n.loops, around)) {
            visit(n.a, *inside);
        }
    }

    // The combinations inside `loops` entered `around` times; nothing when a length is not fixed.
    std::optional<std::uint64_t> entered(const std::vector<loop>& loops, std::uint64_t around) {
        for (const loop& l : loops) {
            const auto length = fixed_length(p_.sources[l.source]);
            if (!length) return std::nullopt;
            around = saturating_product(around, *length);
        }
        most_ = std::max(most_, around);
        return around;
    }

    std::optional<std::uint64_t> fixed_length(const source_node& from) {
        if (!from.is_range) return from.args.size();
        std::int64_t bounds[3] = {0, 0, 1};
        const std::size_t first = from.args.size() == 1 ? 1 : 0;
        for (std::size_t k = 0; k < from.args.size(); ++k) {
            if (!fixed(from.args[k])) return std::nullopt;
            try {
                bounds[first + k] = ev_.integer(from.args[k]);
            } catch (const value_error&) {
                return std::nullopt;  // the evaluator reports it
            }
        }
        if (bounds[2] == 0) return std::nullopt;
        return range_length(bounds[0], bounds[1], bounds[2]);
    }

    // Whether integer node `id` reads no slot.
    bool fixed(std::uint32_t id) const {
        const int_node& n = p_.ints[id];
        if (n.op == int_op::slot) return false;
        for (const std::uint32_t kid : n.kids) {
            if (!fixed(kid)) return false;
        }
        return true;
    }

    const program& p_;
    evaluator ev_;
    std::uint64_t most_ = 0;
};

}  // namespace

instance_output least_instance_output(const constraint& c) {
    instance_output out;
    const program& p = c.code;
    if (c.kind == constraint_kind::hard) {
        least_top(p, clause_shapes(p), p.root, out);
    } else if (c.kind == constraint_kind::soft && c.weight != 0) {
        // one soft unit clause per term
        out.clauses = out.literals = least_terms(p, p.root);
        out.soft = true;
    }
    return out;
}

std::string loop_refusal(const constraint& c, const catalog& variables, std::uint64_t instance_work) {
    const std::uint64_t instances = c.foralls.instance_count();
    if (c.kind == constraint_kind::target || instances == 0) return {};
    fixed_loops loops(c.code, variables);
    if (c.code.root_is_term) {
        loops.term(c.code.root, 1);
    } else {
        loops.boolean(c.code.root, 1);
    }
    const std::uint64_t most = loops.most();
    if (most > instance_work) {
        return "would take " + count_text(most) +
               " combinations of values in the comprehension loops of one instance (the product of their ranges), "
               "more than the " + std::to_string(instance_work) + " that one instance may take";
    }
    const std::uint64_t all = saturating_product(most, instances);
    if (all > max_instances) {
        return "would take " + count_text(all) + " combinations of values in the comprehension loops of its " +
               std::to_string(instances) + " instances (the instances times the product of the ranges), " +
               "more than the " + std::to_string(max_instances) + " that one constraint may take";
    }
    return {};
}

}  // namespace zorv::fenc
