#include "fenc/planned_work.hpp"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "common/errors.hpp"
#include "fenc/evaluate.hpp"
#include "fenc/instances.hpp"
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

// Visits the cells of a program's tree while cell(id) holds; operands(node, visit) visits the
// operands of a node of listed or looped operands, the loops bound as the caller binds them.
template <class Cell, class Operands>
struct cell_visitor {
    const program& p;
    Cell cell;
    Operands operands;

    bool root() { return p.root_is_term ? term(p.root) : boolean(p.root); }

    bool boolean(std::uint32_t id) {
        const bool_node& n = p.bools[id];
        switch (n.op) {
            case bool_op::cell:
                return cell(n.a);
            case bool_op::one:
            case bool_op::zero:
                return true;
            case bool_op::negate:
                return boolean(n.a);
            case bool_op::implies:
                return boolean(n.a) && boolean(n.b);
            case bool_op::ite:
                return boolean(n.a) && boolean(n.b) && boolean(n.c);
            case bool_op::compare:
                return term(n.a);
            default:
                return operands(n, [this](std::uint32_t kid) { return boolean(kid); });
        }
    }

    bool term(std::uint32_t id) {
        const term_node& t = p.terms[id];
        switch (t.op) {
            case term_op::cell:
                return cell(t.a);
            case term_op::scale:
                return term(t.b);
            case term_op::sum:
            case term_op::collect:
                return operands(t, [this](std::uint32_t kid) { return term(kid); });
        }
        return false;
    }
};

// The least and the greatest value of an integer node as the values of its slots bound it, or
// nothing where they do not (a power, a bound past 64 bits, a slot of no value).
using value_bounds = std::optional<std::pair<pbct::i128, pbct::i128>>;

value_bounds in_64_bits(pbct::i128 low, pbct::i128 high) {
    if (!pbct::fits64(low) || !pbct::fits64(high)) return std::nullopt;
    return std::make_pair(low, high);
}

// Whether every cell that an instance of a constraint refers to lies inside its variable, as far
// as the bounds of the forall values and of the loops' ranges show, without making an instance.
class cell_bounds {
public:
    cell_bounds(const constraint& c, const catalog& variables)
        : p_(c.code), variables_(variables), slots_(c.code.slots) {
        for (std::size_t f = 0; f < c.foralls.values.size(); ++f) {
            const auto [low, high] = c.foralls.values[f].bounds();
            slots_[f] = std::make_pair(pbct::i128{low}, pbct::i128{high});
        }
    }

    bool inside() {
        cell_visitor visit{p_, [this](std::uint32_t id) { return cell(id); },
                           [this](const auto& n, auto&& kid) {
                               if (n.loops.empty()) return std::all_of(n.kids.begin(), n.kids.end(), kid);
                               for (const loop& l : n.loops) slots_[l.slot] = values_of(p_.sources[l.source]);
                               return kid(n.a);
                           }};
        return visit.root();
    }

private:
    // The values a loop over `from` takes lie between its start and its stop, the stop left out.
    value_bounds values_of(const source_node& from) const {
        if (!from.is_range) {
            value_bounds all;
            for (const std::uint32_t arg : from.args) {
                const value_bounds v = integer(arg);
                if (!v) return std::nullopt;
                all = all ? std::make_pair(std::min(all->first, v->first), std::max(all->second, v->second)) : v;
            }
            return all;
        }
        const bool stop_only = from.args.size() == 1;
        const value_bounds start = stop_only ? value_bounds(std::make_pair(0, 0)) : integer(from.args[0]);
        const value_bounds stop = integer(from.args[stop_only ? 0 : 1]);
        const value_bounds step = from.args.size() == 3 ? integer(from.args[2]) : value_bounds(std::make_pair(1, 1));
        if (!start || !stop || !step) return std::nullopt;
        if (step->first > 0) return std::make_pair(start->first, stop->second - 1);
        if (step->second < 0) return std::make_pair(stop->first + 1, start->second);
        return std::make_pair(std::min(start->first, stop->first), std::max(start->second, stop->second));
    }

    value_bounds integer(std::uint32_t id) const {
        const int_node& n = p_.ints[id];
        switch (n.op) {
            case int_op::constant:
                return std::make_pair(pbct::i128{n.value}, pbct::i128{n.value});
            case int_op::slot:
                return slots_[static_cast<std::size_t>(n.value)];
            case int_op::negate: {
                const value_bounds a = integer(n.kids[0]);
                return a ? in_64_bits(-a->second, -a->first) : std::nullopt;
            }
            case int_op::sum: {
                value_bounds total = std::make_pair(pbct::i128{0}, pbct::i128{0});
                for (std::size_t k = 0; k < n.kids.size() && total; ++k) {
                    const value_bounds v = integer(n.kids[k]);
                    if (!v) return std::nullopt;
                    total = n.signs[k] == '-' ? in_64_bits(total->first - v->second, total->second - v->first)
                                              : in_64_bits(total->first + v->first, total->second + v->second);
                }
                return total;
            }
            case int_op::product: {
                const value_bounds a = integer(n.kids[0]), b = integer(n.kids[1]);
                if (!a || !b) return std::nullopt;
                const pbct::i128 corners[] = {a->first * b->first, a->first * b->second, a->second * b->first,
                                              a->second * b->second};
                const auto [low, high] = std::minmax_element(std::begin(corners), std::end(corners));
                return in_64_bits(*low, *high);
            }
            case int_op::power:
                return std::nullopt;
        }
        return std::nullopt;
    }

    bool cell(std::uint32_t id) const {
        const cell_node& c = p_.cells[id];
        const declared_variable& v = variables_.at(c.variable);
        for (std::size_t k = 0; k < c.indexes.size(); ++k) {
            const value_bounds index = integer(c.indexes[k]);
            if (!index || index->first < 0 || index->second >= v.sizes[k]) return false;
        }
        return true;
    }

    const program& p_;
    const catalog& variables_;
    std::vector<value_bounds> slots_;
};

}  // namespace

void check_cells(const constraint& c, const catalog& variables, std::uint64_t instance_work) {
    if (c.foralls.instance_count() == 0 || cell_bounds(c, variables).inside()) return;
    // Evaluated as generating evaluates them: a cell out of its variable throws index_error.
    evaluator ev(c.code, variables, instance_work);
    cell_visitor walk{c.code,
                      [&](std::uint32_t id) {
                          ev.cell(id);
                          return true;
                      },
                      [&](const auto& n, auto&& kid) {
                          ev.operands(n, [&](std::uint32_t id) { kid(id); });
                          return true;
                      }};
    for_each_instance(c.foralls, ev, [&](std::uint64_t) { walk.root(); });
}

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
