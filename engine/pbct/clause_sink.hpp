#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <span>
#include <vector>

#include "common/interrupt.hpp"

namespace zorv::pbct {

// Clauses of one encoding under construction, over local variable numbers: the
// constraint's own variables first, then auxiliaries numbered on from them. Nothing
// reaches a database or an allocator until the whole encoding stands.
class ClauseSink {
public:
    ClauseSink(std::int64_t first_aux, std::int64_t max_clauses);

    std::int64_t new_aux() { return next_aux_++; }
    void add(std::initializer_list<std::int64_t> clause) { add(std::span(clause.begin(), clause.size())); }
    void add(std::span<const std::int64_t> clause);

    std::size_t size() const { return ends_.size(); }
    std::size_t budget_left() const { return budget_ - ends_.size(); }

    // An empty sink whose auxiliaries and clause budget continue this one's; the second
    // form takes at most `budget` clauses.
    ClauseSink fork() const;
    ClauseSink fork(std::size_t budget) const;
    // Takes over a fork's clauses and auxiliaries.
    void absorb(const ClauseSink& fork);
    // Raises the error for a clause count above the limit.
    [[noreturn]] void fail() const;

    std::span<std::int64_t> literals() { return literals_; }
    std::span<const std::size_t> ends() const { return ends_; }
    std::int64_t end_aux() const { return next_aux_; }

    // The construction whose clauses these are, for the tests that pin each row's choice.
    const char* made_by() const { return made_by_; }
    void set_made_by(const char* name) { made_by_ = name; }

private:
    const char* made_by_ = "compact_adder";
    std::int64_t next_aux_;
    std::size_t max_clauses_;  // as configured; the message names it
    std::size_t budget_;       // clauses this sink may still take
    std::vector<std::int64_t> literals_;
    std::vector<std::size_t> ends_;
    interrupt_gate gate_;
};

// Two literals no variable number reaches, for cells of a construction that its bound
// settles. In a clause given to add_folded, a true one drops the clause and a false one
// drops out of it, negated or not.
constexpr std::int64_t true_literal = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t false_literal = true_literal - 1;

template <std::size_t N>
void add_folded(ClauseSink& sink, const std::int64_t (&lits)[N]) {
    std::array<std::int64_t, N> clause{};
    std::size_t size = 0;
    for (const std::int64_t lit : lits) {
        if (lit == true_literal || lit == -false_literal) {
            return;
        }
        if (lit != false_literal && lit != -true_literal) {
            clause[size++] = lit;
        }
    }
    sink.add(std::span<const std::int64_t>(clause.data(), size));
}

}  // namespace zorv::pbct
