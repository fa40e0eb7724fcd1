#include "cnf/wcnf_storage.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "common/errors.hpp"
#include "common/room.hpp"

namespace zorv::cnf {

namespace {

void check_stamp(std::int64_t value, const char* what) {
    if (value < 0) {
        throw_negative_stamp(what, std::to_string(value));
    }
}

// Puts `count` elements in place of the `old` ones at `at`, moving the elements after them
// once; the new elements are left to the caller. Capacity must already suffice.
template <class T>
void resize_gap(std::vector<T>& v, std::size_t at, std::size_t old, std::size_t count) {
    const auto tail = v.begin() + static_cast<std::ptrdiff_t>(at + old);
    if (count > old) {
        const auto grow = static_cast<std::ptrdiff_t>(count - old);
        const auto tail_at = tail - v.begin();
        v.resize(v.size() + static_cast<std::size_t>(grow));
        std::move_backward(v.begin() + tail_at, v.end() - grow, v.end());
    } else if (count < old) {
        v.erase(std::move(tail, v.end(), v.begin() + static_cast<std::ptrdiff_t>(at + count)),
                v.end());
    }
}

}  // namespace

void throw_negative_stamp(const std::string& what, const std::string& number) {
    throw value_error(what + " must not be negative, got " + number);
}

void check_weight_room(weight sum, weight add) {
    if (add > max_top - 1 - sum) {
        throw limit_error("the sum of soft weights would exceed " + std::to_string(max_top - 1) +
                          ", so top = 1 + that sum would not fit in 64 bits");
    }
}

void wcnf_storage::reserve(std::size_t clauses, std::size_t literals) {
    offsets_.reserve(offsets_.size() + clauses);
    lits_.reserve(lits_.size() + literals);
}

std::int64_t wcnf_storage::checked_max_variable(std::span<const literal> lits) const {
    std::int64_t top_var = 0;
    for (literal lit : lits) {
        check_literal(lit);
        top_var = std::max<std::int64_t>(top_var, lit < 0 ? -static_cast<std::int64_t>(lit) : lit);
    }
    return top_var;
}

void wcnf_storage::append(std::span<const literal> lits, std::int64_t max_var) {
    lits_.insert(lits_.end(), lits.begin(), lits.end());
    offsets_.push_back(lits_.size());
    max_var_ = std::max(max_var_, max_var);
    max_var_outside_ = std::max(max_var_outside_, max_var);
}

void wcnf_storage::ensure_weights() {
    if (weights_.empty()) {
        weights_.assign(clause_count(), 0);
    }
}

void wcnf_storage::add_hard(std::span<const literal> lits) {
    const std::int64_t max_var = checked_max_variable(lits);
    if (!weights_.empty()) {
        weights_.push_back(0);
    }
    append(lits, max_var);
}

void wcnf_storage::add_soft(std::span<const literal> lits, weight w) {
    if (w == 0) {
        throw value_error("a soft clause needs a positive weight, got 0");
    }
    check_weight_room(soft_sum_, w);
    const std::int64_t max_var = checked_max_variable(lits);
    ensure_weights();
    weights_.push_back(w);
    append(lits, max_var);
    soft_sum_ += w;
    ++soft_count_;
}

void wcnf_storage::merge(wcnf_storage& other) {
    if (&other == this) {
        throw value_error("a storage cannot be merged into itself");
    }
    check_weight_room(soft_sum_, other.soft_sum_);
    if (clause_count() == 0 && prefatory_.empty()) {
        // Common first merge into a fresh storage: take the arrays as they are.
        lits_.swap(other.lits_);
        offsets_.swap(other.offsets_);
        weights_.swap(other.weights_);
        prefatory_.swap(other.prefatory_);
    } else {
        append_arrays(other);
    }
    soft_sum_ += other.soft_sum_;
    soft_count_ += other.soft_count_;
    max_var_ = std::max(max_var_, other.max_var_);
    max_var_outside_ = std::max(max_var_outside_, other.max_var_);
    release(other);
}

void wcnf_storage::append_arrays(const wcnf_storage& other) {
    // All or nothing: a failed allocation leaves this storage as it was.
    const std::size_t sizes[] = {lits_.size(), offsets_.size(), weights_.size(), prefatory_.size()};
    try {
        // Weights are kept once either side has a soft clause (this side may hold no clause).
        if (!weights_.empty() || !other.weights_.empty()) {
            ensure_weights();
            if (other.weights_.empty()) {
                weights_.resize(weights_.size() + other.clause_count(), 0);
            } else {
                weights_.insert(weights_.end(), other.weights_.begin(), other.weights_.end());
            }
        }
        const std::size_t base = lits_.size();
        lits_.insert(lits_.end(), other.lits_.begin(), other.lits_.end());
        // Exact reservations would copy the whole array at every merge of a long run of merges.
        if (offsets_.capacity() < offsets_.size() + other.clause_count()) {
            offsets_.reserve(std::max(2 * offsets_.capacity(), offsets_.size() + other.clause_count()));
        }
        for (auto it = other.offsets_.begin() + 1; it != other.offsets_.end(); ++it) {
            offsets_.push_back(base + *it);
        }
        prefatory_.insert(prefatory_.end(), other.prefatory_.begin(), other.prefatory_.end());
    } catch (...) {
        lits_.resize(sizes[0]);
        offsets_.resize(sizes[1]);
        weights_.resize(sizes[2]);
        prefatory_.resize(sizes[3]);
        throw;
    }
}

void wcnf_storage::release(wcnf_storage& other) {
    // The other's memory goes: it is not used again by the caller.
    other.lits_ = {};
    // Shrunk rather than made anew: a release must not fail for lack of memory.
    other.offsets_.resize(1);
    other.offsets_.shrink_to_fit();
    other.offsets_[0] = 0;
    other.weights_ = {};
    other.prefatory_ = {};
    other.soft_count_ = 0;
    other.soft_sum_ = 0;
    other.max_var_ = 0;
    other.has_target_ = false;
    other.target_begin_ = other.target_end_ = 0;
    other.max_var_outside_ = other.max_var_target_ = 0;
}

void wcnf_storage::merge_target(wcnf_storage& other) {
    if (&other == this) {
        throw value_error("a storage cannot be merged into itself");
    }
    if (other.soft_count_ > 0) {
        throw value_error("a target's clauses are hard, but the storage holds " +
                          std::to_string(other.soft_count_) + " soft clauses");
    }
    if (!has_target_) {
        target_begin_ = target_end_ = clause_count();
        has_target_ = true;
    }
    ++target_changes_;
    replace_target(other);
    release(other);
}

wcnf_storage::mark wcnf_storage::marked() const {
    return mark{lits_.size(), clause_count(), weights_.size(), prefatory_.size(), soft_count_, soft_sum_,
                max_var_, max_var_outside_, max_var_target_, has_target_, target_begin_, target_end_,
                target_changes_, variable_count_, clause_count_, weight_limit_};
}

void wcnf_storage::roll_back(const mark& m) {
    if (m.target_changes != target_changes_) {
        throw value_error("the storage cannot roll back: a target was merged since its mark");
    }
    const bool fits = m.clauses <= clause_count() && m.lits == offsets_[m.clauses] &&
                      m.prefatory <= prefatory_.size() && m.weights <= weights_.size() &&
                      (m.weights == 0 || m.weights == m.clauses) && m.soft_count <= m.clauses &&
                      m.target_end <= m.clauses && m.target_begin <= m.target_end;
    if (!fits) {
        throw value_error("the storage cannot roll back: the mark is not one of its past");
    }
    // Shrinking keeps the memory and cannot fail.
    lits_.resize(m.lits);
    offsets_.resize(m.clauses + 1);
    weights_.resize(m.weights);
    prefatory_.resize(m.prefatory);
    soft_count_ = m.soft_count;
    soft_sum_ = m.soft_sum;
    max_var_ = m.max_var;
    max_var_outside_ = m.max_var_outside;
    max_var_target_ = m.max_var_target;
    has_target_ = m.has_target;
    target_begin_ = m.target_begin;
    target_end_ = m.target_end;
    variable_count_ = m.variable_count;
    clause_count_ = m.clause_count;
    weight_limit_ = m.weight_limit;
}

void wcnf_storage::replace_target(const wcnf_storage& other) {
    const std::size_t old_clauses = target_end_ - target_begin_;
    const std::size_t new_clauses = other.clause_count();
    const std::size_t lit_begin = offsets_[target_begin_];
    const std::size_t old_lits = offsets_[target_end_] - lit_begin;
    const std::size_t new_lits = other.lits_.size();

    // Room first, so that nothing below can fail half-way.
    make_room(lits_, lits_.size() - old_lits + new_lits);
    make_room(offsets_, offsets_.size() - old_clauses + new_clauses);
    if (!weights_.empty()) {
        make_room(weights_, weights_.size() - old_clauses + new_clauses);
    }
    prefatory_.reserve(prefatory_.size() + other.prefatory_.size());

    resize_gap(lits_, lit_begin, old_lits, new_lits);
    std::copy(other.lits_.begin(), other.lits_.end(),
              lits_.begin() + static_cast<std::ptrdiff_t>(lit_begin));

    // offsets_[c + 1] ends clause c.
    resize_gap(offsets_, target_begin_ + 1, old_clauses, new_clauses);
    for (std::size_t i = 0; i < new_clauses; ++i) {
        offsets_[target_begin_ + 1 + i] = lit_begin + other.offsets_[i + 1];
    }
    for (std::size_t c = target_begin_ + new_clauses + 1; c < offsets_.size(); ++c) {
        offsets_[c] = offsets_[c] - old_lits + new_lits;
    }

    if (!weights_.empty()) {
        resize_gap(weights_, target_begin_, old_clauses, new_clauses);
        std::fill_n(weights_.begin() + static_cast<std::ptrdiff_t>(target_begin_), new_clauses,
                    weight{0});
    }
    prefatory_.insert(prefatory_.end(), other.prefatory_.begin(), other.prefatory_.end());

    target_end_ = target_begin_ + new_clauses;
    max_var_target_ = other.max_var_;
    max_var_ = std::max(max_var_outside_, max_var_target_);
}

void wcnf_storage::insert_prefatory_value(std::int64_t lit) {
    check_literal(lit);
    prefatory_.push_back(static_cast<literal>(lit));
}

std::span<const literal> wcnf_storage::clause(std::size_t i) const {
    if (i >= clause_count()) {
        throw std::out_of_range("clause index " + std::to_string(i) + " out of range for " +
                                std::to_string(clause_count()) + " clauses");
    }
    return std::span<const literal>(lits_).subspan(offsets_[i], offsets_[i + 1] - offsets_[i]);
}

std::int64_t wcnf_storage::header_variable_count() const {
    return std::max(variable_count_, max_var_);
}

weight wcnf_storage::top() const {
    return std::max(static_cast<weight>(weight_limit_), soft_sum_ + 1);
}

void wcnf_storage::set_variable_count(std::int64_t count) {
    check_stamp(count, "variable count");
    if (count > max_variable) {
        throw_past_variables("variable count", std::to_string(count));
    }
    variable_count_ = count;
}

void wcnf_storage::set_clause_count(std::int64_t count) {
    check_stamp(count, "clause count");
    clause_count_ = count;
}

void wcnf_storage::set_weight_limit(std::int64_t limit) {
    check_stamp(limit, "weight limit");
    weight_limit_ = limit;
}

}  // namespace zorv::cnf
