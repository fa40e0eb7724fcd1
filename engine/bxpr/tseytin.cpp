#include "bxpr/tseytin.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace zorv::bxpr {

namespace {

bool is_clause(const Arena& a, NodeId x) {
    if (is_literal(a.kind(x))) return true;
    if (a.kind(x) != Kind::or_) return false;
    for (const NodeId l : a.args(x)) {
        if (!is_literal(a.kind(l))) return false;
    }
    return true;
}

// How an operator's defining clauses are used: all of them for an auxiliary t
// (t <-> F), or, for an operator asserted at the top, those of t -> F without t
// (F must hold) or those of F -> t without t (F must fail).
enum class Mode { define, assert_true, assert_false };

class Encoder {
public:
    Encoder(Arena& a, NodeId root, std::string_view prefix)
        : a_(a), root_(root), prefix_(prefix), reach_(root + std::size_t{1}, 0),
          lit_(root + std::size_t{1}, no_node) {}

    NodeId run() {
        collect_assertions();
        reserve();
        define_auxiliaries();
        emit_assertions();
        flush();
        if (unsat_) return Arena::zero;
        if (clauses_.empty()) return Arena::one;
        if (clauses_.size() == 1) return clauses_.front();
        return a_.make(Kind::and_, clauses_);
    }

private:
    // The top of the formula: conjunctions (and negated disjunctions) are split into
    // their operands, negations flip the polarity; whatever remains is asserted.
    void collect_assertions() {
        std::vector<std::uint8_t> done(root_ + std::size_t{1}, 0);
        std::vector<std::pair<NodeId, bool>> work{{root_, true}};
        while (!work.empty()) {
            const auto [x, positive] = work.back();
            work.pop_back();
            gate_.tick();
            const std::uint8_t bit = positive ? 1 : 2;
            if (done[x] & bit) continue;
            done[x] |= bit;
            const Kind k = a_.kind(x);
            if (k == Kind::zero || k == Kind::one) {
                if ((k == Kind::one) != positive) unsat_ = true;
            } else if (k == Kind::not_) {
                work.push_back({a_.args(x)[0], !positive});
            } else if ((k == Kind::and_ && positive) || (k == Kind::or_ && !positive)) {
                const auto args = a_.args(x);
                for (auto it = args.rbegin(); it != args.rend(); ++it) work.push_back({*it, positive});
            } else {
                asserted_.push_back({x, positive});
                if (is_literal(k)) {
                    mark_reachable(x);
                } else {
                    for (const NodeId c : a_.args(x)) mark_reachable(c);
                }
            }
        }
    }

    // Every node below an asserted operator needs a literal of its own.
    void mark_reachable(NodeId start) { a_.mark_reachable(start, reach_); }

    // Size the arena for the clauses to come (their count before clean-up), so that
    // millions of clauses do not copy it again and again while it grows.
    void reserve() {
        std::size_t clauses = 0, literals = 0, auxiliaries = 0;
        // Counts an operator's clauses and literals; true if it is one that gets an
        // auxiliary when something above it needs its literal.
        const auto count = [&](NodeId x) {
            const std::size_t n = a_.args(x).size();
            switch (a_.kind(x)) {
                case Kind::and_:
                case Kind::or_:
                case Kind::implies: clauses += n + 1; literals += 3 * n + 1; break;
                case Kind::xor_:
                    if (n < 2) {
                        clauses += n + 1;
                        literals += 3 * n + 1;
                    } else {
                        clauses += 4 * (n - 1);
                        literals += 12 * (n - 1);
                        auxiliaries += n - 2;
                    }
                    break;
                case Kind::equal: clauses += 2 * n; literals += 8 * n; break;
                case Kind::ite: clauses += 4; literals += 12; break;
                default: return false;
            }
            return true;
        };
        for (NodeId x = 0; x <= root_; ++x) {
            if (reach_[x] && count(x)) ++auxiliaries;
        }
        for (const auto& [x, positive] : asserted_) {
            if (!reach_[x]) count(x);
        }
        a_.reserve(clauses + 2 * auxiliaries + 1, literals + clauses, clauses + 1);
        take_names(auxiliaries);
        clauses_.reserve(clauses);
    }

    // Ascending ids visit operands before the nodes that use them.
    void define_auxiliaries() {
        for (NodeId x = 0; x <= root_; ++x) {
            if (!reach_[x]) continue;
            gate_.tick();
            const Kind k = a_.kind(x);
            if (is_constant(k) || is_literal(k)) {
                lit_[x] = x;
            } else if (k == Kind::not_) {
                lit_[x] = a_.negate(lit_[a_.args(x)[0]]);
            } else {
                const NodeId t = new_auxiliary();
                lit_[x] = t;
                encode(x, Mode::define, t);
            }
        }
    }

    void emit_assertions() {
        for (const auto& [x, positive] : asserted_) {
            gate_.tick();
            const Kind k = a_.kind(x);
            if (is_literal(k) || reach_[x]) {
                const NodeId l = is_literal(k) ? x : lit_[x];
                buf_.assign(1, positive ? l : a_.negate(l));
                sink();
            } else {
                encode(x, positive ? Mode::assert_true : Mode::assert_false, no_node);
            }
        }
    }

    // The next auxiliary, made ahead of time by reserve() (counted exactly there).
    NodeId new_auxiliary() {
        const std::size_t k = auxiliaries_++;
        if (k == fresh_.size()) take_names(1);
        return fresh_[k];
    }

    // Makes the next `count` auxiliary names of the prefix in this context. They are taken
    // at once, also when this call fails later, so that no later call hands them out again.
    // A name that some variable already has (one the caller made) is refused: it would tie
    // the auxiliary to that variable.
    void take_names(std::size_t count) {
        const std::size_t first = a_.auxiliaries_taken(prefix_);
        const std::size_t made = fresh_.size();
        const std::size_t existing = a_.size();
        a_.make_variables(prefix_, first, count, fresh_);
        a_.set_auxiliaries_taken(prefix_, first + count);
        for (std::size_t i = made; i < fresh_.size(); ++i) {
            if (fresh_[i] < existing) {
                throw value_error("auxiliary name '" + std::string(a_.name(fresh_[i])) +
                                  "' already names a variable of this context; choose another prefix");
            }
        }
    }

    NodeId neg(NodeId l) { return a_.negate(l); }

    void encode(NodeId x, Mode m, NodeId t) {
        ls_.clear();
        for (const NodeId c : a_.args(x)) ls_.push_back(lit_[c]);
        switch (a_.kind(x)) {
            case Kind::and_: encode_and(m, t); break;
            case Kind::or_: encode_or(m, t); break;
            case Kind::implies:
                ls_[0] = neg(ls_[0]);
                encode_or(m, t);
                break;
            case Kind::xor_: encode_xor(m, t); break;
            case Kind::equal: encode_equal(m, t); break;
            case Kind::ite: encode_ite(m, t); break;
            default: break;  // literals and negations never reach here
        }
    }

    // One defining clause. `with_t` is the auxiliary's sign in it: the clauses with
    // ~t say t -> F, those with t say F -> t.
    template <class... L>
    void clause(Mode m, NodeId t, bool with_t, L... lits) {
        if (!wanted(m, with_t)) return;
        buf_.clear();
        if (m == Mode::define) buf_.push_back(with_t ? t : neg(t));
        (buf_.push_back(lits), ...);
        sink();
    }

    static bool wanted(Mode m, bool with_t) {
        return m == Mode::define || (m == Mode::assert_true) == !with_t;
    }

    // The clause t-or-not, then `lits` negated when `negated`.
    void long_clause(Mode m, NodeId t, bool with_t, bool negated) {
        if (!wanted(m, with_t)) return;
        buf_.clear();
        if (m == Mode::define) buf_.push_back(with_t ? t : neg(t));
        for (const NodeId l : ls_) buf_.push_back(negated ? neg(l) : l);
        sink();
    }

    void encode_and(Mode m, NodeId t) {
        for (std::size_t i = 0; i < ls_.size(); ++i) clause(m, t, false, ls_[i]);
        long_clause(m, t, true, true);
    }

    void encode_or(Mode m, NodeId t) {
        long_clause(m, t, false, false);
        for (std::size_t i = 0; i < ls_.size(); ++i) clause(m, t, true, neg(ls_[i]));
    }

    void xor2(Mode m, NodeId t, NodeId p, NodeId q) {
        clause(m, t, false, p, q);
        clause(m, t, false, neg(p), neg(q));
        clause(m, t, true, neg(p), q);
        clause(m, t, true, p, neg(q));
    }

    // A chain of binary xors, each intermediate result with an auxiliary of its own.
    void encode_xor(Mode m, NodeId t) {
        if (ls_.size() < 2) {
            encode_or(m, t);  // Xor() is false and Xor(p) is p, as Or() and Or(p)
            return;
        }
        const std::vector<NodeId> ls = ls_;
        NodeId acc = ls[0];
        for (std::size_t i = 1; i + 1 < ls.size(); ++i) {
            const NodeId c = new_auxiliary();
            xor2(Mode::define, c, acc, ls[i]);
            acc = c;
        }
        xor2(m, t, acc, ls.back());
    }

    // All equal: t -> (l0 <-> li) for each i; all true or all false -> t.
    void encode_equal(Mode m, NodeId t) {
        for (std::size_t i = 1; i < ls_.size(); ++i) {
            clause(m, t, false, neg(ls_[0]), ls_[i]);
            clause(m, t, false, ls_[0], neg(ls_[i]));
        }
        long_clause(m, t, true, false);
        long_clause(m, t, true, true);
    }

    void encode_ite(Mode m, NodeId t) {
        const NodeId c = ls_[0], p = ls_[1], q = ls_[2];
        clause(m, t, false, neg(c), p);
        clause(m, t, false, c, q);
        clause(m, t, true, neg(c), neg(p));
        clause(m, t, true, c, neg(q));
    }

    // Clean up one clause (constants, repeated literals, p with ~p) and keep it.
    void sink() {
        out_.clear();
        const bool small = buf_.size() <= 8;
        IdMap seen(small ? 0 : buf_.size());
        for (const NodeId l : buf_) {
            if (l == Arena::one) return;
            if (l == Arena::zero) continue;
            const NodeId nl = a_.known_negation(l);
            if (small) {
                bool repeat = false;
                for (const NodeId o : out_) {
                    if (o == nl) return;
                    repeat = repeat || o == l;
                }
                if (repeat) continue;
            } else {
                if (nl != no_node && seen.contains(nl)) return;
                if (seen.contains(l)) continue;
                seen.set(l, 0);
            }
            out_.push_back(l);
        }
        if (out_.empty()) {
            unsat_ = true;
            return;
        }
        pending_.insert(pending_.end(), out_.begin(), out_.end());
        pending_ends_.push_back(static_cast<std::uint32_t>(pending_.size()));
        if (pending_ends_.size() == batch) flush();
    }

    // Clause nodes are made in batches (see Arena::make_many); a one-literal clause
    // is the literal itself.
    void flush() {
        multi_.clear();
        multi_ends_.clear();
        for (std::size_t i = 0, begin = 0; i < pending_ends_.size(); begin = pending_ends_[i++]) {
            if (pending_ends_[i] - begin > 1) {
                multi_.insert(multi_.end(), pending_.begin() + begin, pending_.begin() + pending_ends_[i]);
                multi_ends_.push_back(static_cast<std::uint32_t>(multi_.size()));
            }
        }
        made_.clear();
        a_.make_many(Kind::or_, multi_, multi_ends_, made_);
        std::size_t next = 0;
        for (std::size_t i = 0, begin = 0; i < pending_ends_.size(); begin = pending_ends_[i++]) {
            keep(pending_ends_[i] - begin > 1 ? made_[next++] : pending_[begin]);
        }
        pending_.clear();
        pending_ends_.clear();
    }

    void keep(NodeId c) {
        if (c >= kept_.size()) kept_.resize(a_.size() + a_.size() / 2, 0);
        if (kept_[c]) return;
        kept_[c] = 1;
        clauses_.push_back(c);
    }

    static constexpr std::size_t batch = 256;

    Arena& a_;
    const NodeId root_;
    const std::string_view prefix_;
    std::vector<std::uint8_t> reach_;
    std::vector<NodeId> lit_;
    std::vector<std::pair<NodeId, bool>> asserted_;
    std::vector<NodeId> ls_;
    std::vector<NodeId> buf_;
    std::vector<NodeId> out_;
    std::vector<NodeId> pending_;
    std::vector<std::uint32_t> pending_ends_;
    std::vector<NodeId> multi_;
    std::vector<std::uint32_t> multi_ends_;
    std::vector<NodeId> made_;
    std::vector<std::uint8_t> kept_;
    std::vector<NodeId> fresh_;
    std::vector<NodeId> clauses_;
    std::size_t auxiliaries_ = 0;
    bool unsat_ = false;
    interrupt_gate gate_;
};

}  // namespace

bool is_clause_form(const Arena& a, NodeId root) {
    const Kind k = a.kind(root);
    if (is_constant(k) || is_clause(a, root)) return true;
    if (k != Kind::and_) return false;
    for (const NodeId c : a.args(root)) {
        if (!is_clause(a, c)) return false;
    }
    return true;
}

NodeId tseytin(Arena& a, NodeId root, std::string_view prefix) {
    if (is_clause_form(a, root)) return root;
    return Encoder(a, root, prefix).run();
}

}  // namespace zorv::bxpr
