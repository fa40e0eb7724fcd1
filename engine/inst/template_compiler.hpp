#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zorv::inst {

// A clause template as the container holds it: the literal texts of every clause, one after the
// other, and where each clause ends among them.
struct template_texts {
    std::vector<std::string_view> texts;
    std::vector<std::size_t> ends;
};

// Maps keyed by text that are searched with string views.
struct text_hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};
template <class T>
using text_map = std::unordered_map<std::string, T, text_hash, std::equal_to<>>;

// A model variable as the template's calls see it: its first number and, per index, its size
// and stride.
struct variable_shape {
    std::int64_t start = 0;
    std::vector<std::int64_t> sizes;
    std::vector<std::int64_t> strides;
};

// The flat arrays of a compiled template (see program_arrays.hpp).
struct program_texts {
    std::vector<std::int64_t> clauses;
    std::vector<std::int64_t> literals;
    std::vector<std::int64_t> terms;
    std::vector<std::int64_t> key_slots;
};

// Compiles the template of one record: clause by clause, each distinct literal text once per
// kind of clause (written or only evaluated), auxiliaries placed in the instance's block in the
// order of their first occurrence. `weights` is nullopt for hard clauses, else one per clause.
// nullopt for any text read_literal does not take, a call of a name that is no variable here or
// with a name that is no forall, a wrong index count, a negative weight, or a Tseytin counter past
// `shift_bx`: the caller then compiles the record its own way.
std::optional<program_texts> compile_template(const template_texts& clauses,
                                              const std::optional<std::vector<std::int64_t>>& weights,
                                              const text_map<std::int64_t>& slots,
                                              const text_map<variable_shape>& variables,
                                              std::int64_t shift_pb, std::int64_t shift_bx);

// The lowest and highest value of a forall, or nullopt for one without values.
using forall_bounds = std::map<std::string, std::optional<std::pair<std::int64_t, std::int64_t>>, std::less<>>;

// True when every literal text is an auxiliary or a call of a variable of `sizes` (by name) with
// the right index count, indexes over foralls of `bounds` only and, when there are instances,
// index values inside the variable's sizes over the foralls' whole ranges. False when any of
// that fails or a text is beyond read_literal: the caller then checks the template its own way.
// The same for `calls`, the variable calls that made the template (names without a call are
// skipped): a call whose term the template lost is checked too.
bool template_fits(const template_texts& clauses, const text_map<std::vector<std::int64_t>>& sizes,
                   const forall_bounds& bounds, bool instances, std::span<const std::string_view> calls = {});

}  // namespace zorv::inst
