#include "inst/template_compiler.hpp"

#include <array>
#include <unordered_set>

#include "bxpr/id_table.hpp"
#include "inst/literal_text.hpp"
#include "pbct/int128.hpp"

namespace zorv::inst {

namespace {

using pbct::fits64;
using pbct::i128;

constexpr std::int64_t pseudo_boolean_kind = 0;
constexpr std::int64_t tseytin_kind = 1;

// Distinct texts, numbered in order of first occurrence.
class text_index {
public:
    // The number of `text`, and whether it is new.
    std::pair<std::uint32_t, bool> find_or_add(std::string_view text) {
        bool added = false;
        const bxpr::NodeId number = table_.find_or_insert(
            std::hash<std::string_view>{}(text), [&](bxpr::NodeId known) { return texts_[known] == text; },
            [&] {
                added = true;
                texts_.push_back(text);
                return static_cast<bxpr::NodeId>(texts_.size() - 1);
            });
        return {number, added};
    }

private:
    bxpr::IdTable table_;
    std::vector<std::string_view> texts_;
};

class compiler {
public:
    compiler(const text_map<std::int64_t>& slots, const text_map<variable_shape>& variables, std::int64_t shift_pb,
             std::int64_t shift_bx)
        : slots_(slots), variables_(variables), shift_pb_(shift_pb), shift_bx_(shift_bx) {}

    bool add_clause(std::span<const std::string_view> texts, std::int64_t weight, bool written) {
        const auto first = static_cast<std::int64_t>(out_.literals.size() / 5);
        // A text compiles to the same entry wherever it stands in the record.
        auto& [index, entries] = written ? written_ : unwritten_;
        for (std::string_view text : texts) {
            const auto [number, added] = index.find_or_add(text);
            if (added) {
                auto compiled = compile_literal(text, written);
                if (!compiled) return false;
                entries.push_back(*compiled);
            }
            const entry& e = entries[number];
            out_.literals.insert(out_.literals.end(), e.values.begin(), e.values.begin() + e.size);
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
    // Five program integers, or none for an auxiliary that is only evaluated.
    struct entry {
        std::array<std::int64_t, 5> values{};
        std::size_t size = 0;
    };

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
            // Counters from the Tseytin count on draw a warning on the plain path.
            if (literal.counter >= shift_bx_) return std::nullopt;
            place += shift_pb_;
            if (!fits64(place)) return std::nullopt;
        }
        if (placed_[kind].insert(literal.counter).second) {
            auxiliaries_.push_back({kind, literal.counter, static_cast<std::int64_t>(place)});
        }
        return entry{{literal.negated ? 1 : 0, 1, static_cast<std::int64_t>(place), 0, 0}, 5};
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
        const auto count = static_cast<std::int64_t>(literal.indexes.size());
        return entry{{literal.negated ? 1 : 0, 0, shape.start, first, count}, 5};
    }

    const text_map<std::int64_t>& slots_;
    const text_map<variable_shape>& variables_;
    std::int64_t shift_pb_;
    std::int64_t shift_bx_;
    program_texts out_;
    // Auxiliaries in order of first occurrence: kind, counter, place; and the counters placed, per kind.
    std::vector<std::array<std::int64_t, 3>> auxiliaries_;
    std::unordered_set<std::int64_t> placed_[2];
    std::pair<text_index, std::vector<entry>> written_;
    std::pair<text_index, std::vector<entry>> unwritten_;
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

// The texts of clause `i`.
std::span<const std::string_view> clause(const template_texts& clauses, std::size_t i) {
    const std::size_t begin = i == 0 ? 0 : clauses.ends[i - 1];
    return std::span<const std::string_view>(clauses.texts).subspan(begin, clauses.ends[i] - begin);
}

}  // namespace

std::optional<program_texts> compile_template(const template_texts& clauses,
                                              const std::optional<std::vector<std::int64_t>>& weights,
                                              const text_map<std::int64_t>& slots,
                                              const text_map<variable_shape>& variables, std::int64_t shift_pb,
                                              std::int64_t shift_bx) {
    const std::size_t count = clauses.ends.size();
    if (weights && weights->size() < count) return std::nullopt;
    compiler c(slots, variables, shift_pb, shift_bx);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t weight = weights ? (*weights)[i] : 0;
        if (weight < 0) return std::nullopt;
        // A soft clause of weight 0 is left out, after its literals have been evaluated.
        if (!c.add_clause(clause(clauses, i), weight, !weights || weight != 0)) return std::nullopt;
    }
    return std::move(c).finish();
}

bool template_fits(const template_texts& clauses, const text_map<std::vector<std::int64_t>>& sizes,
                   const forall_bounds& bounds, bool instances, std::span<const std::string_view> calls) {
    // Keyed without the sign: x(i) and -x(i) are checked alike.
    text_index seen;
    const auto unsigned_text = [](std::string_view text) {
        return text.substr(!text.empty() && text.front() == '-' ? 1 : 0);
    };
    const auto fits = [&](std::string_view text) {
        const auto literal = read_literal(text);
        if (!literal) return false;
        if (literal->auxiliary) return true;
        const auto variable = sizes.find(literal->name);
        if (variable == sizes.end() || bounds.find(literal->name) != bounds.end() ||
            variable->second.size() != literal->indexes.size()) {
            return false;
        }
        for (std::size_t k = 0; k < literal->indexes.size(); ++k) {
            if (!index_fits(literal->indexes[k], variable->second[k], bounds, instances)) return false;
        }
        return true;
    };
    for (std::string_view text : clauses.texts) {
        if (seen.find_or_add(unsigned_text(text)).second && !fits(text)) return false;
    }
    for (std::string_view text : calls) {
        // Names without a call are auxiliaries.
        if (text.find('(') != std::string_view::npos && seen.find_or_add(text).second && !fits(text)) return false;
    }
    return true;
}

}  // namespace zorv::inst
