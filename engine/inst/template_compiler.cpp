#include "inst/template_compiler.hpp"

#include <array>
#include <limits>
#include <unordered_set>

#include "inst/literal_text.hpp"

namespace zorv::inst {

namespace {

__extension__ typedef __int128 i128;

constexpr std::int64_t pseudo_boolean_kind = 0;
constexpr std::int64_t tseytin_kind = 1;

bool fits64(i128 v) {
    return v >= std::numeric_limits<std::int64_t>::min() && v <= std::numeric_limits<std::int64_t>::max();
}

class compiler {
public:
    compiler(const std::unordered_map<std::string, std::int64_t>& slots,
             const std::unordered_map<std::string, variable_shape>& variables, std::int64_t shift_pb,
             std::int64_t shift_bx)
        : slots_(slots), variables_(variables), shift_pb_(shift_pb), shift_bx_(shift_bx) {}

    bool add_clause(const std::vector<std::string_view>& texts, std::int64_t weight, bool written) {
        const auto first = static_cast<std::int64_t>(out_.literals.size() / 5);
        auto& compiled = written ? written_ : unwritten_;
        for (std::string_view text : texts) {
            auto found = compiled.find(text);
            if (found == compiled.end()) {
                auto entry = compile_literal(text, written);
                if (!entry) return false;
                found = compiled.emplace(text, std::move(*entry)).first;
            }
            out_.literals.insert(out_.literals.end(), found->second.begin(), found->second.end());
        }
        const auto count = static_cast<std::int64_t>(out_.literals.size() / 5) - first;
        out_.clauses.insert(out_.clauses.end(), {written ? 1 : 0, weight, first, count});
        return true;
    }

    program_texts finish() && {
        for (const auto& [kind, counter, place] : auxiliaries_) {
            out_.key_slots.insert(out_.key_slots.end(), {kind, counter, place});
        }
        return std::move(out_);
    }

private:
    using entry = std::vector<std::int64_t>;  // five program integers, or none

    std::optional<entry> compile_literal(std::string_view text, bool written) {
        const auto literal = read_literal(text);
        if (!literal) return std::nullopt;
        if (!literal->auxiliary) return add_call(*literal);
        if (!written) return entry{};  // only evaluated: a string, unnumbered
        return add_auxiliary(*literal);
    }

    std::optional<entry> add_auxiliary(const literal_text& literal) {
        i128 place = literal.counter;
        const std::int64_t kind = literal.pseudo_boolean ? pseudo_boolean_kind : tseytin_kind;
        if (!literal.pseudo_boolean) {
            // Counters past the Tseytin count draw a warning on the plain path.
            if (literal.counter > shift_bx_) return std::nullopt;
            place += shift_pb_;
            if (!fits64(place)) return std::nullopt;
        }
        if (placed_[kind].insert(literal.counter).second) auxiliaries_.push_back({kind, literal.counter, static_cast<std::int64_t>(place)});
        return entry{literal.negated ? 1 : 0, 1, static_cast<std::int64_t>(place), 0, 0};
    }

    std::optional<entry> add_call(const literal_text& literal) {
        const auto variable = variables_.find(literal.name);
        if (variable == variables_.end()) return std::nullopt;
        const variable_shape& shape = variable->second;
        if (shape.sizes.size() != literal.indexes.size() || shape.strides.size() != shape.sizes.size()) {
            return std::nullopt;
        }
        const auto first = static_cast<std::int64_t>(out_.terms.size() / 5);
        for (std::size_t k = 0; k < literal.indexes.size(); ++k) {
            const affine_index& index = literal.indexes[k];
            std::int64_t slot = -1;
            if (!index.forall.empty()) {
                const auto found = slots_.find(index.forall);
                if (found == slots_.end()) return std::nullopt;
                slot = found->second;
            }
            out_.terms.insert(out_.terms.end(), {slot, index.factor, index.offset, shape.sizes[k], shape.strides[k]});
        }
        return entry{literal.negated ? 1 : 0, 0, shape.start, first, static_cast<std::int64_t>(literal.indexes.size())};
    }

    const std::unordered_map<std::string, std::int64_t>& slots_;
    const std::unordered_map<std::string, variable_shape>& variables_;
    std::int64_t shift_pb_;
    std::int64_t shift_bx_;
    program_texts out_;
    // Auxiliaries in order of first occurrence: kind, counter, place; and the counters placed, per kind.
    std::vector<std::array<std::int64_t, 3>> auxiliaries_;
    std::unordered_set<std::int64_t> placed_[2];
    std::unordered_map<std::string_view, entry> written_;
    std::unordered_map<std::string_view, entry> unwritten_;
};

// The index values of `index` at both ends of its forall's range lie in [0, size).
bool index_fits(const affine_index& index, std::int64_t size, const forall_bounds& bounds, bool instances) {
    std::pair<std::int64_t, std::int64_t> range{0, 0};
    if (!index.forall.empty()) {
        const auto found = bounds.find(index.forall);
        if (found == bounds.end()) return false;
        if (!instances) return true;
        if (!found->second) return false;
        range = *found->second;
    }
    if (!instances) return true;
    for (const std::int64_t value : {range.first, range.second}) {
        const i128 at = i128{index.factor} * value + index.offset;
        if (at < 0 || at >= size) return false;
    }
    return true;
}

}  // namespace

std::optional<program_texts> compile_template(const template_texts& clauses,
                                              const std::optional<std::vector<std::int64_t>>& weights,
                                              const std::unordered_map<std::string, std::int64_t>& slots,
                                              const std::unordered_map<std::string, variable_shape>& variables,
                                              std::int64_t shift_pb, std::int64_t shift_bx) {
    if (weights && weights->size() < clauses.size()) return std::nullopt;
    compiler c(slots, variables, shift_pb, shift_bx);
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        const std::int64_t weight = weights ? (*weights)[i] : 0;
        if (weight < 0) return std::nullopt;
        // A soft clause of weight 0 is left out, after its literals have been evaluated.
        if (!c.add_clause(clauses[i], weight, !weights || weight != 0)) return std::nullopt;
    }
    return std::move(c).finish();
}

bool template_fits(const template_texts& clauses, const std::unordered_map<std::string, std::vector<std::int64_t>>& sizes,
                   const forall_bounds& bounds, bool instances) {
    std::unordered_map<std::string_view, bool> seen;
    for (const auto& clause : clauses) {
        for (std::string_view text : clause) {
            if (seen.count(text) != 0) continue;
            const auto literal = read_literal(text);
            if (!literal) return false;
            seen.emplace(text, true);
            if (literal->auxiliary) continue;
            const auto variable = sizes.find(literal->name);
            if (variable == sizes.end() || bounds.count(literal->name) != 0 ||
                variable->second.size() != literal->indexes.size()) {
                return false;
            }
            for (std::size_t k = 0; k < literal->indexes.size(); ++k) {
                if (!index_fits(literal->indexes[k], variable->second[k], bounds, instances)) return false;
            }
        }
    }
    return true;
}

}  // namespace zorv::inst
