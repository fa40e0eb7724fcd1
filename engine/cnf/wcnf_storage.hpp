#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cnf/literal.hpp"

namespace zorv::cnf {

// Soft weights are summed into top, which must stay below max_top: limit_error when `add` more
// on top of `sum` would not.
void check_weight_room(weight sum, weight add);

// Refuses a negative count or limit stamp, given as decimal text (it may not fit 64 bits).
[[noreturn]] void throw_negative_stamp(const std::string& what, const std::string& number);

// Hard and weighted soft clauses in insertion order: literals in one flat array, clause i
// spanning [offsets[i], offsets[i+1]). Weights are kept only once a soft clause exists,
// so a pure CNF pays nothing for them.
//
// Besides the clauses the storage keeps stamps (model name, variable count, clause count,
// weight limit) set by the model builder, and prefatory values (literals the caller
// wants known ahead of solving). Neither stamps nor prefatory values change the formula:
// the file header is computed from the clauses (see header_variable_count, top).
class wcnf_storage {
public:
    wcnf_storage() = default;

    void reserve(std::size_t clauses, std::size_t literals);

    // Both check every literal and, for soft clauses, the weight before storing anything.
    void add_hard(std::span<const literal> lits);
    void add_soft(std::span<const literal> lits, weight w);

    // Appends every clause of `other` in its order, soft weights kept, and its prefatory
    // values. `other` is left with no clause and no prefatory value; its stamps stay. Clauses
    // of a target segment of `other` join this storage as ordinary clauses.
    void merge(wcnf_storage& other);

    // The target's clauses form a segment of their own, so that a new border replaces only
    // them. The first call appends the (hard) clauses of `other` and marks them as the
    // segment; later calls put them in place of the segment's clauses, wherever later
    // clauses were appended. Prefatory values of `other` are appended; `other` is left as
    // by merge.
    void merge_target(wcnf_storage& other);
    bool has_target() const { return has_target_; }
    std::size_t target_clause_count() const { return target_end_ - target_begin_; }

    void insert_prefatory_value(std::int64_t lit);

    // What the storage holds at one moment, for rollback: the sizes of its arrays, its sums and
    // stamps. Small, whatever the storage holds.
    struct mark {
        std::size_t lits = 0, clauses = 0, weights = 0, prefatory = 0, soft_count = 0;
        weight soft_sum = 0;
        std::int64_t max_var = 0, max_var_outside = 0, max_var_target = 0;
        bool has_target = false;
        std::size_t target_begin = 0, target_end = 0, target_changes = 0;
        std::int64_t variable_count = 0, clause_count = 0, weight_limit = 0;
    };
    mark marked() const;
    // Back to `m`, dropping what was appended since: clauses, weights and prefatory values.
    // value_error, with nothing changed, when `m` is not a mark of this storage's past or a
    // target was merged since (it may have replaced clauses in place). Cannot fail otherwise.
    void roll_back(const mark& m);

    std::size_t clause_count() const { return offsets_.size() - 1; }
    std::size_t soft_clause_count() const { return soft_count_; }
    std::size_t hard_clause_count() const { return clause_count() - soft_count_; }
    std::span<const literal> clause(std::size_t i) const;
    // 0 for a hard clause.
    weight clause_weight(std::size_t i) const { return weights_.empty() ? 0 : weights_.at(i); }
    std::span<const literal> literals() const { return lits_; }
    std::span<const std::size_t> offsets() const { return offsets_; }
    // One weight per clause (0 = hard), or empty while every clause is hard.
    std::span<const weight> weights() const { return weights_; }
    std::span<const literal> prefatory_values() const { return prefatory_; }
    // Bytes of clauses and values held, which freeing gives back.
    std::size_t held_bytes() const noexcept {
        return (lits_.size() + prefatory_.size()) * sizeof(literal) + offsets_.size() * sizeof(std::size_t) +
               weights_.size() * sizeof(weight);
    }

    // Largest variable in any clause (0 when there is none).
    std::int64_t max_variable_in_clauses() const { return max_var_; }
    weight soft_weight_sum() const { return soft_sum_; }
    // What a DIMACS header states: never less than what the clauses need.
    std::int64_t header_variable_count() const;
    weight top() const;

    void set_model_name(std::string name) { model_name_ = std::move(name); }
    void set_variable_count(std::int64_t count);
    void set_clause_count(std::int64_t count);
    void set_weight_limit(std::int64_t limit);
    const std::string& model_name() const { return model_name_; }
    std::int64_t variable_count() const { return variable_count_; }
    std::int64_t stamped_clause_count() const { return clause_count_; }
    std::int64_t weight_limit() const { return weight_limit_; }

private:
    std::int64_t checked_max_variable(std::span<const literal> lits) const;
    void append(std::span<const literal> lits, std::int64_t max_var);
    void ensure_weights();
    void replace_target(const wcnf_storage& other);
    void release(wcnf_storage& other);
    void append_arrays(const wcnf_storage& other);

    std::vector<literal> lits_;
    std::vector<std::size_t> offsets_{0};
    std::vector<weight> weights_;
    std::vector<literal> prefatory_;
    std::size_t soft_count_ = 0;
    weight soft_sum_ = 0;
    std::int64_t max_var_ = 0;
    // Clauses [target_begin_, target_end_) are the target's; max_var_ is the larger of the
    // largest variables inside and outside that segment.
    bool has_target_ = false;
    std::size_t target_begin_ = 0;
    std::size_t target_end_ = 0;
    std::size_t target_changes_ = 0;
    std::int64_t max_var_outside_ = 0;
    std::int64_t max_var_target_ = 0;

    std::string model_name_;
    std::int64_t variable_count_ = 0;
    std::int64_t clause_count_ = 0;
    std::int64_t weight_limit_ = 0;
};

}  // namespace zorv::cnf
