#include "inst/instantiate.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/free_aside.hpp"
#include "common/interrupt.hpp"

namespace zorv::inst {

namespace {

using cnf::literal;

// Number of a model variable in the instance whose forall values are `values`; nothing when
// an index is out of range or the arithmetic overflows.
std::optional<std::int64_t> variable_number(const literal_op& op, std::span<const index_term> terms,
                                            std::span<const std::int64_t> values) {
    std::int64_t number = op.base;
    for (const index_term& term : terms.subspan(op.first_term, op.term_count)) {
        std::int64_t index = term.offset;
        if (term.forall >= 0) {
            std::int64_t scaled = 0;
            if (__builtin_mul_overflow(term.factor, values[static_cast<std::size_t>(term.forall)],
                                       &scaled) ||
                __builtin_add_overflow(scaled, term.offset, &index)) {
                return std::nullopt;
            }
        }
        std::int64_t weighted = 0;
        if (index < 0 || index >= term.size ||
            __builtin_mul_overflow(index, term.stride, &weighted) ||
            __builtin_add_overflow(number, weighted, &number)) {
            return std::nullopt;
        }
    }
    return number;
}

// Whether every model variable of a clause that is not written has its indexes in range.
bool all_in_range(std::span<const literal_op> ops, std::span<const index_term> terms,
                  std::span<const std::int64_t> values) {
    for (const literal_op& op : ops) {
        if (!op.auxiliary && !variable_number(op, terms, values)) {
            return false;
        }
    }
    return true;
}

// A signed literal for `number`; nothing when the storage would refuse it.
std::optional<literal> signed_literal(std::int64_t number, bool negated) {
    if (number == 0 || number > cnf::max_variable || number < -cnf::max_variable) {
        return std::nullopt;
    }
    const auto lit = static_cast<literal>(number);
    return negated ? -lit : lit;
}

constexpr literal magnitude(literal lit) { return lit < 0 ? -lit : lit; }

// Stable sort by absolute value; clauses are short, so insertion sort.
void sort_by_magnitude(std::vector<literal>& lits) {
    for (std::size_t i = 1; i < lits.size(); ++i) {
        const literal lit = lits[i];
        std::size_t j = i;
        for (; j > 0 && magnitude(lits[j - 1]) > magnitude(lit); --j) {
            lits[j] = lits[j - 1];
        }
        lits[j] = lit;
    }
}

// Whether every auxiliary lies inside its instance's block: one past it would take a number of
// the next instance (or formula), which the plain path reports.
bool auxiliaries_in_block(const template_program& program) {
    for (const literal_op& op : program.literals) {
        if (op.auxiliary && (op.base < 0 || op.base >= program.aux_block)) {
            return false;
        }
    }
    return true;
}

// Whether the soft weights of all instances fit beside what `out` already holds.
bool soft_weights_fit(const template_program& program, std::uint64_t instances,
                      const cnf::wcnf_storage& out) {
    cnf::weight sum = out.soft_weight_sum();
    for (const clause_op& clause : program.clauses) {
        if (!clause.written) {
            continue;
        }
        cnf::weight all = 0;
        if (__builtin_mul_overflow(clause.weight, instances, &all) ||
            __builtin_add_overflow(sum, all, &sum)) {
            return false;
        }
    }
    return sum <= cnf::max_top - 1;
}

// Room for every instance's written clauses, when the counts are sane.
void reserve_room(const template_program& program, std::uint64_t instances,
                  cnf::wcnf_storage& storage) {
    std::uint64_t clauses = 0;
    std::uint64_t literals = 0;
    for (const clause_op& clause : program.clauses) {
        if (clause.written) {
            ++clauses;
            literals += clause.literal_count;
        }
    }
    if (!__builtin_mul_overflow(instances, clauses, &clauses) &&
        !__builtin_mul_overflow(instances, literals, &literals) &&
        literals < (std::uint64_t{1} << 40)) {
        storage.reserve(clauses, literals);
    }
}

// Appends one instance's clauses; false when a literal cannot be formed.
bool write_instance(const template_program& program, std::int64_t aux_base,
                    std::span<const std::int64_t> values, std::vector<literal>& lits,
                    cnf::wcnf_storage& storage) {
    for (const clause_op& clause : program.clauses) {
        lits.clear();
        const auto ops = std::span(program.literals).subspan(clause.first_literal, clause.literal_count);
        if (!clause.written) {
            if (!all_in_range(ops, program.terms, values)) {
                return false;
            }
            continue;
        }
        for (const literal_op& op : ops) {
            std::optional<std::int64_t> number;
            if (op.auxiliary) {
                std::int64_t sum = 0;
                if (!__builtin_add_overflow(aux_base, op.base, &sum)) {
                    number = sum;
                }
            } else {
                number = variable_number(op, program.terms, values);
            }
            const auto lit = number ? signed_literal(*number, op.negated) : std::nullopt;
            if (!lit) {
                return false;
            }
            lits.push_back(*lit);
        }
        sort_by_magnitude(lits);
        if (clause.weight == 0) {
            storage.add_hard(lits);
        } else {
            storage.add_soft(lits, clause.weight);
        }
    }
    return true;
}

}  // namespace

outcome instantiate(const template_program& program, std::span<const forall_values> foralls,
                    cnf::wcnf_storage& out) {
    const std::optional<std::uint64_t> instances = combination_count(foralls);
    if (!instances || !auxiliaries_in_block(program) || !soft_weights_fit(program, *instances, out)) {
        return outcome::declined;
    }
    // Written aside first, so that a decline halfway leaves `out` untouched; the merge into a
    // fresh storage only swaps the arrays.
    cnf::wcnf_storage written;
    const free_aside_when_stopped free_written(written);
    reserve_room(program, *instances, written);
    forall_odometer odometer(foralls);
    std::vector<literal> lits;
    std::int64_t aux_base = program.aux_start;
    // Counted in clauses: an instance may hold one clause or thousands.
    interrupt_gate gate(4096);
    const auto clauses_per_instance =
        static_cast<std::uint32_t>(std::min<std::size_t>(program.clauses.size() + 1, 4096));
    for (std::uint64_t n = 0; n < *instances; ++n) {
        gate.tick(clauses_per_instance);
        if (!write_instance(program, aux_base, odometer.values(), lits, written)) {
            return outcome::declined;
        }
        if (n + 1 < *instances) {
            odometer.advance();
            if (__builtin_add_overflow(aux_base, program.aux_block, &aux_base)) {
                return outcome::declined;
            }
        }
    }
    out.merge(written);
    return outcome::written;
}

}  // namespace zorv::inst
