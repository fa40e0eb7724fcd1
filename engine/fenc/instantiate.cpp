#include "fenc/instantiate.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>

#include "bxpr/arena.hpp"
#include "bxpr/builders.hpp"
#include "bxpr/tseytin.hpp"
#include "common/errors.hpp"
#include "fenc/comparison_circuit.hpp"
#include "fenc/evaluate.hpp"
#include "fenc/instances.hpp"
#include "pbct/adder.hpp"
#include "pbct/aux_var_manager.hpp"
#include "pbct/clause_database.hpp"
#include "pbct/pb2cnf.hpp"
#include "pbct/pb_constraint.hpp"

namespace zorv::fenc {

std::uint64_t instance_work(const pbct::PBConfig& config) {
    const std::int64_t limit = config.max_clauses_per_constraint();
    return limit > 0 ? std::min(static_cast<std::uint64_t>(limit), max_instances) : max_instances;
}

std::vector<std::uint8_t> clause_shapes(const program& p) {
    std::vector<std::uint8_t> shaped(p.bools.size(), 0);
    const auto literal = [&](std::uint32_t id) {
        const bool_node& n = p.bools[id];
        return n.op == bool_op::cell || (n.op == bool_op::negate && p.bools[n.a].op == bool_op::cell);
    };
    // Operands precede their users, so one pass in id order settles every node.
    for (std::size_t id = 0; id < p.bools.size(); ++id) {
        const bool_node& n = p.bools[id];
        switch (n.op) {
            case bool_op::cell:
            case bool_op::one:
            case bool_op::zero:
                shaped[id] = 1;
                break;
            case bool_op::negate:
                shaped[id] = p.bools[n.a].op == bool_op::cell;
                break;
            case bool_op::implies:
                // a literal premise: ~premise | conclusion
                shaped[id] = literal(n.a) && shaped[n.b] != 0;
                break;
            case bool_op::or_:
                shaped[id] = !n.loops.empty() ? shaped[n.a]
                                              : std::all_of(n.kids.begin(), n.kids.end(),
                                                            [&](std::uint32_t kid) { return shaped[kid] != 0; });
                break;
            default:
                break;
        }
    }
    return shaped;
}

namespace {

using bxpr::Arena;
using bxpr::Kind;
using bxpr::NodeId;

constexpr std::string_view tseytin_prefix = "_bxpr_aux";
// A Boolean context shared by the instances of one constraint is made anew past this size: the
// Tseytin transformation's work grows with the context, not only with the formula.
constexpr std::size_t arena_limit = std::size_t{1} << 12;

class hard_instances {
public:
    hard_instances(const constraint& c, const catalog& variables, const pbct::PBConfig& config,
                   cnf::wcnf_storage& out)
        : c_(c), p_(c.code), ev_(c.code, variables, instance_work(config)), encoder_(config), out_(out),
          clause_shaped_(clause_shapes(p_)), pb_clauses_(config) {}

    std::uint64_t run(std::int64_t& next_aux, std::vector<aux_run>& aux) {
        const std::size_t clauses = out_.clause_count();
        const std::size_t literals = out_.literals().size();
        for_each_instance(c_.foralls, ev_, [&](std::uint64_t n) {
            const instance_aux counts = instance(next_aux);
            if (aux.empty() || !(aux.back().aux == counts)) aux.push_back({0, counts});
            ++aux.back().instances;
            if (n == 0) reserve_like_first(clauses, literals);
        });
        return contradictions_;
    }

private:
    // Room for every instance as large as the first, when that is sane: a storage that doubles
    // copies all it holds at once, tens of milliseconds without a Ctrl-C check at 10^7 clauses.
    void reserve_like_first(std::size_t clauses_before, std::size_t literals_before) {
        const std::uint64_t rest = c_.foralls.instance_count() - 1;
        std::uint64_t clauses = out_.clause_count() - clauses_before;
        std::uint64_t literals = out_.literals().size() - literals_before;
        if (!__builtin_mul_overflow(rest, clauses, &clauses) && !__builtin_mul_overflow(rest, literals, &literals) &&
            literals < (std::uint64_t{1} << 32)) {
            try {
                out_.reserve(static_cast<std::size_t>(clauses), static_cast<std::size_t>(literals));
            } catch (const std::bad_alloc&) {
                // the storage grows as it goes instead
            }
        }
    }

    // Writes lits_ as a hard clause; an empty one means the instance can never hold.
    void add_hard() {
        if (lits_.empty()) contradicted_ = true;
        out_.add_hard(lits_);
    }

    instance_aux instance(std::int64_t& next_aux) {
        if (!arena_ || arena_->size() > arena_limit) {
            arena_ = std::make_unique<Arena>();
            forms_.clear();
        }
        others_.clear();
        contradicted_ = false;
        place_.clear();
        cells_.clear();
        pb_clauses_.clear();
        pbct::AuxVarManager allocator(next_aux);
        top(p_.root, allocator);
        instance_aux counts;
        const std::int64_t pb_end = allocator.get_variable();
        // Before the clauses are written: their numbers must fit a literal.
        if (pb_end - 1 > cnf::max_variable) throw limit_error("too many variables for variable numbers");
        counts.pb = static_cast<std::uint32_t>(pb_end - next_aux);
        for (std::size_t i = 0; i < pb_clauses_.size(); ++i) {
            const auto clause = pb_clauses_.clause(i);
            lits_.assign(clause.begin(), clause.end());
            add_hard();
        }
        if (!others_.empty()) {
            const NodeId root = others_.size() == 1 ? others_[0] : bxpr::and_s(*arena_, others_);
            auto found = forms_.find(root);
            if (found == forms_.end()) {
                found = forms_.emplace(root, clause_form_of(bxpr::tseytin(*arena_, root, tseytin_prefix))).first;
            }
            counts.bx = write(found->second, pb_end);
        }
        contradictions_ += contradicted_ ? 1 : 0;
        next_aux = checked_add(pb_end, counts.bx);
        if (next_aux - 1 > cnf::max_variable) throw limit_error("too many variables for variable numbers");
        return counts;
    }

    // The conjuncts that node `id` asserts.
    void top(std::uint32_t id, pbct::AuxVarManager& allocator) {
        const bool_node& n = p_.bools[id];
        if (n.op == bool_op::and_) {
            ev_.operands(n, [&](std::uint32_t kid) { top(kid, allocator); });
        } else if (n.op == bool_op::compare) {
            weighted_.clear();
            ev_.term(n.a, 1, weighted_);
            std::vector<pbct::WeightedLit> lits;
            lits.reserve(weighted_.size());
            for (const auto& [cell, coefficient] : weighted_) lits.emplace_back(cell, row_coefficient(coefficient));
            const pbct::PBConstraint pb(std::move(lits), n.comparator, {ev_.integer(n.b)});
            // Each instance has an allocator of its own: there is no history to read or keep.
            encoder_.encode_row(pb, pb_clauses_, allocator, {});
        } else if (clause_shaped_[id]) {
            lits_.clear();
            if (clause(id)) add_hard();
        } else {
            others_.push_back(node(id));
        }
    }

    // Appends the literals of a clause-shaped node; false when the clause always holds.
    bool clause(std::uint32_t id) {
        const bool_node& n = p_.bools[id];
        switch (n.op) {
            case bool_op::cell:
                lits_.push_back(static_cast<cnf::literal>(ev_.cell(n.a)));
                return true;
            case bool_op::negate:
                lits_.push_back(static_cast<cnf::literal>(-ev_.cell(p_.bools[n.a].a)));
                return true;
            case bool_op::zero:
                return true;
            case bool_op::one:
                return false;
            case bool_op::implies: {
                const bool_node& premise = p_.bools[n.a];
                const std::int64_t number = ev_.cell(premise.op == bool_op::cell ? premise.a : p_.bools[premise.a].a);
                lits_.push_back(static_cast<cnf::literal>(premise.op == bool_op::cell ? -number : number));
                return clause(n.b);
            }
            case bool_op::or_: {
                bool open = true;
                ev_.operands(n, [&](std::uint32_t kid) { open = clause(kid) && open; });
                return open;
            }
            default:
                return true;
        }
    }

    // Cells are named by their place of first occurrence in the instance, so that instances of
    // the same shape give the same node and share one clause form.
    NodeId cell_node(std::int64_t number) {
        auto [it, fresh] = place_.try_emplace(number, static_cast<std::uint32_t>(cells_.size()));
        if (fresh) cells_.push_back(number);
        char text[24];
        const auto end = std::to_chars(text, text + sizeof text, it->second).ptr;
        return arena_->variable(std::string_view(text, static_cast<std::size_t>(end - text)));
    }

    std::vector<NodeId> listed(const bool_node& n) {
        std::vector<NodeId> ops;
        ev_.operands(n, [&](std::uint32_t kid) { ops.push_back(node(kid)); });
        return ops;
    }

    NodeId node(std::uint32_t id) {
        const bool_node& n = p_.bools[id];
        Arena& a = *arena_;
        switch (n.op) {
            case bool_op::cell:
                return cell_node(ev_.cell(n.a));
            case bool_op::one:
                return Arena::one;
            case bool_op::zero:
                return Arena::zero;
            case bool_op::negate:
                return a.negate(node(n.a));
            case bool_op::and_:
                return bxpr::and_s(a, listed(n));
            case bool_op::or_:
                return bxpr::or_s(a, listed(n));
            case bool_op::xor_:
                return bxpr::xor_s(a, listed(n));
            case bool_op::eq_:
                return bxpr::eq_s(a, listed(n));
            case bool_op::implies: {
                const NodeId premise = node(n.a);
                return bxpr::impl_s(a, premise, node(n.b));
            }
            case bool_op::ite: {
                const NodeId cond = node(n.a);
                const NodeId then_ = node(n.b);
                return bxpr::ite_s(a, cond, then_, node(n.c));
            }
            case bool_op::compare: {
                weighted_.clear();
                ev_.term(n.a, 1, weighted_);
                std::vector<std::pair<NodeId, std::int64_t>> items;
                items.reserve(weighted_.size());
                for (const auto& [cell, coefficient] : weighted_) {
                    items.emplace_back(cell_node(cell), row_coefficient(coefficient));
                }
                return comparison_circuit(a, items, n.comparator, ev_.integer(n.b));
            }
        }
        return Arena::one;
    }

    // A clause form with its literals as places: cell k of the instance (k >= 0) or Tseytin
    // auxiliary k (encoded -1 - k), negated when `negative`.
    struct form_literal {
        std::int64_t place = 0;
        bool negative = false;
    };
    struct clause_form {
        std::vector<form_literal> literals;
        std::vector<std::size_t> ends;
        std::uint32_t bx_count = 0;
    };

    form_literal literal_of(NodeId lit, std::uint32_t& bx_count) const {
        const bool negative = arena_->kind(lit) == Kind::complement;
        const std::string_view name = arena_->name(lit);
        std::int64_t value = 0;
        if (name.substr(0, tseytin_prefix.size()) == tseytin_prefix) {
            const std::string_view k = name.substr(tseytin_prefix.size() + 1);
            std::from_chars(k.data(), k.data() + k.size(), value);
            bx_count = std::max(bx_count, static_cast<std::uint32_t>(value) + 1);
            return {-1 - value, negative};
        }
        std::from_chars(name.data(), name.data() + name.size(), value);
        return {value, negative};
    }

    void add_clause_of(NodeId c, clause_form& form) const {
        if (arena_->kind(c) == Kind::or_) {
            for (const NodeId lit : arena_->args(c)) form.literals.push_back(literal_of(lit, form.bx_count));
        } else {
            form.literals.push_back(literal_of(c, form.bx_count));
        }
        form.ends.push_back(form.literals.size());
    }

    clause_form clause_form_of(NodeId root) const {
        clause_form form;
        const Kind kind = arena_->kind(root);
        if (kind == Kind::zero) {
            form.ends.push_back(0);  // one empty clause
        } else if (kind == Kind::and_) {
            for (const NodeId c : arena_->args(root)) add_clause_of(c, form);
        } else if (kind != Kind::one) {
            add_clause_of(root, form);
        }
        return form;
    }

    // Writes a clause form with this instance's cells and auxiliaries from bx_base on.
    std::uint32_t write(const clause_form& form, std::int64_t bx_base) {
        if (form.bx_count > 0 && checked_add(bx_base, form.bx_count) - 1 > cnf::max_variable) {
            throw limit_error("too many variables for variable numbers");
        }
        std::size_t begin = 0;
        for (const std::size_t end : form.ends) {
            lits_.clear();
            for (std::size_t k = begin; k < end; ++k) {
                const form_literal& l = form.literals[k];
                const std::int64_t number =
                    l.place >= 0 ? cells_[static_cast<std::size_t>(l.place)] : bx_base + (-1 - l.place);
                lits_.push_back(static_cast<cnf::literal>(l.negative ? -number : number));
            }
            add_hard();
            begin = end;
        }
        return form.bx_count;
    }

    const constraint& c_;
    const program& p_;
    evaluator ev_;
    pbct::PB2CNF encoder_;
    cnf::wcnf_storage& out_;
    std::vector<std::uint8_t> clause_shaped_;
    std::unique_ptr<Arena> arena_;
    std::unordered_map<NodeId, clause_form> forms_;  // by root, for the current arena
    std::unordered_map<std::int64_t, std::uint32_t> place_;
    std::vector<std::int64_t> cells_;  // the instance's cells by place
    // One database for every instance, emptied before each: not made anew per instance.
    pbct::VectorClauseDatabase pb_clauses_;
    std::vector<NodeId> others_;
    std::vector<cnf::literal> lits_;
    weighted_cells weighted_;
    bool contradicted_ = false;
    std::uint64_t contradictions_ = 0;
};

}  // namespace

std::uint64_t encode_hard(const constraint& c, const catalog& variables, const pbct::PBConfig& config,
                          cnf::wcnf_storage& out, std::int64_t& next_aux, std::vector<aux_run>& aux) {
    return hard_instances(c, variables, config, out).run(next_aux, aux);
}

namespace {

// Walks the comparisons of every instance of a hard constraint, as hard_instances meets them.
class row_check {
public:
    row_check(const constraint& c, const catalog& variables, const pbct::PBConfig& config)
        : c_(c), p_(c.code), ev_(c.code, variables, instance_work(config)), encoder_(config), config_(config),
          rows_(config), first_aux_(variables.cell_count() + 1) {}

    void run() {
        const std::size_t foralls = c_.foralls.values.size();
        const bool alike = std::none_of(p_.ints.begin(), p_.ints.end(), [&](const int_node& n) {
            return n.op == int_op::slot && static_cast<std::uint64_t>(n.value) < foralls;
        });
        if (alike) {
            // No value of the foralls is read: every instance is the first.
            if (c_.foralls.instance_count() == 0) return;
            ev_.begin_instance(c_.foralls.instance_count());
            visit(p_.root, true);
            return;
        }
        for_each_instance(c_.foralls, ev_, [&](std::uint64_t) { visit(p_.root, true); });
    }

private:
    void visit(std::uint32_t id, bool top) {
        const bool_node& n = p_.bools[id];
        switch (n.op) {
            case bool_op::compare:
                compare(n, top);
                return;
            case bool_op::and_:
            case bool_op::or_:
            case bool_op::xor_:
            case bool_op::eq_:
                // Only a conjunction keeps its operands at the top.
                ev_.operands(n, [&](std::uint32_t kid) { visit(kid, top && n.op == bool_op::and_); });
                return;
            default: {
                // A negation, an implication and an if-then-else hold their operands in a, b, c.
                const std::uint32_t kids[] = {n.a, n.b, n.c};
                const std::size_t count = n.op == bool_op::negate    ? 1
                                          : n.op == bool_op::implies ? 2
                                          : n.op == bool_op::ite     ? 3
                                                                     : 0;
                for (std::size_t k = 0; k < count; ++k) visit(kids[k], false);
            }
        }
    }

    void compare(const bool_node& n, bool top) {
        weighted_.clear();
        ev_.term(n.a, 1, weighted_);
        std::uint64_t digits = 0;
        for (const auto& [cell, coefficient] : weighted_) {
            const std::int64_t v = row_coefficient(coefficient);
            digits += static_cast<std::uint64_t>(std::bit_width(v < 0 ? ~static_cast<std::uint64_t>(v) + 1
                                                                       : static_cast<std::uint64_t>(v)));
        }
        const std::int64_t bound = ev_.integer(n.b);
        const std::int64_t limit = config_.max_clauses_per_constraint();
        if (!top) return;
        // Every construction is tried within the limit and ends in the compact adder, whose clauses
        // are bounded by the binary digits of the coefficients (normalising leaves no more of them),
        // twice over for a range bounded on both sides, and by the bound's 128 digits at most. A row
        // within the limit so counted needs no closer look; one within it by the adder's count over
        // its normal form is not encoded either.
        const std::uint64_t parts = n.comparator == pbct::Comparator::BOTH ? 2 : 1;
        const std::uint64_t most = 1 + parts * (pbct::clauses_per_digit * digits + pbct::clauses_per_bound_digit * 128);
        if (limit > 0 && most <= static_cast<std::uint64_t>(limit)) return;
        std::vector<pbct::WeightedLit> lits;
        lits.reserve(weighted_.size());
        for (const auto& [cell, coefficient] : weighted_) lits.emplace_back(cell, row_coefficient(coefficient));
        const pbct::PBConstraint pb(std::move(lits), n.comparator, {bound});
        if (limit > 0 && encoder_.fallback_clauses(pb) <= static_cast<std::uint64_t>(limit)) return;
        rows_.clear();
        pbct::AuxVarManager allocator(first_aux_);
        encoder_.encode_row(pb, rows_, allocator, {});
    }

    const constraint& c_;
    const program& p_;
    evaluator ev_;
    pbct::PB2CNF encoder_;
    const pbct::PBConfig& config_;
    pbct::VectorClauseDatabase rows_;
    std::int64_t first_aux_;
    weighted_cells weighted_;
};

bool compares(const program& p) {
    return std::any_of(p.bools.begin(), p.bools.end(), [](const bool_node& n) { return n.op == bool_op::compare; });
}

}  // namespace

void check_rows(const constraint& c, const catalog& variables, const pbct::PBConfig& config) {
    if (c.kind == constraint_kind::hard && compares(c.code)) row_check(c, variables, config).run();
}

std::uint64_t encode_soft(const constraint& c, const catalog& variables, const pbct::PBConfig& config,
                          cnf::wcnf_storage& out) {
    evaluator ev(c.code, variables, instance_work(config));
    std::uint64_t total = 0;
    for_each_soft_unit(c, ev, [&](std::int64_t cell, const soft_unit& unit) {
        if (unit.weight == 0) return;
        const auto lit = static_cast<cnf::literal>(unit.wanted ? cell : -cell);
        out.add_soft(std::span<const cnf::literal>(&lit, 1), unit.weight);
        total += unit.weight;
    });
    return total;
}

std::uint64_t soft_weight_sum(const constraint& c, const catalog& variables, const pbct::PBConfig& config) {
    evaluator ev(c.code, variables, instance_work(config));
    std::uint64_t total = 0;
    for_each_soft_unit(c, ev, [&](std::int64_t, const soft_unit& unit) {
        total = unit.weight > cnf::max_top - total ? cnf::max_top : total + unit.weight;
    });
    return total;
}

}  // namespace zorv::fenc
