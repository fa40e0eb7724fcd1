#include "inst/key_mapping.hpp"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "common/errors.hpp"
#include "common/free_aside.hpp"
#include "common/interrupt.hpp"

namespace zorv::inst {

namespace {

template <class... Visit>
struct overloaded : Visit... {
    using Visit::operator()...;
};

// Whether two key blocks may hold the same key. A variable's keys all start with its name and
// '[', and a record's with an auxiliary prefix and its formula number.
bool blocks_may_repeat(std::span<const key_part> parts) {
    std::set<std::string_view> names;
    std::set<std::int64_t> formulas;
    for (const key_part& part : parts) {
        const bool fresh = std::visit(
            overloaded{
                [&](const variable_key_block* keys) {
                    return keys->name != "_pbct_aux" && keys->name != "_bxpr_aux" &&
                           names.insert(keys->name).second;
                },
                [&](const aux_key_block* keys) {
                    return keys->size() == 0 || formulas.insert(keys->formula).second;
                },
                [&](const cnf::var_mapping*) { return true; },
            },
            part);
        if (!fresh) {
            return true;
        }
    }
    return false;
}

// The entries of `merged` that may repeat another: all of them when key blocks may overlap,
// else those whose key is also given as text (keys given as text could be anything).
std::vector<std::size_t> repeat_candidates(std::span<const key_part> parts, const cnf::var_mapping& merged) {
    std::vector<std::size_t> candidates;
    if (blocks_may_repeat(parts)) {
        candidates.resize(merged.size());
        std::iota(candidates.begin(), candidates.end(), std::size_t{0});
        return candidates;
    }
    std::unordered_set<std::string_view> given;
    for (const key_part& part : parts) {
        if (const auto* keys = std::get_if<const cnf::var_mapping*>(&part)) {
            for (std::size_t i = 0; i < (*keys)->size(); ++i) {
                given.insert((*keys)->key(i));
            }
        }
    }
    if (given.empty()) {
        return candidates;
    }
    interrupt_gate gate;
    for (std::size_t i = 0; i < merged.size(); ++i) {
        gate.tick();
        if (given.contains(merged.key(i))) {
            candidates.push_back(i);
        }
    }
    return candidates;
}

// Characters of a number's decimal text.
std::size_t digits(std::int64_t value) {
    char text[24];
    return static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text);
}

std::uint64_t text_size(const aux_key_block& keys) {
    // _pbct_aux[ or _bxpr_aux[, the formula, the instance, the counter, two commas and ]
    std::uint64_t per_instance = 0;
    for (const aux_key_slot& slot : keys.slots) {
        per_instance += 10 + digits(keys.formula) + digits(slot.counter) + 3;
    }
    return keys.instances * per_instance + keys.slots.size() * digits_below(keys.instances);
}

std::uint64_t text_size(const cnf::var_mapping& keys) { return keys.text_size(); }

template <class Emit>
void for_each_entry(const key_part& part, Emit&& emit) {
    std::visit(overloaded{
                   [&](const cnf::var_mapping* keys) {
                       for (std::size_t i = 0; i < keys->size(); ++i) {
                           emit(keys->key(i), keys->number(i));
                       }
                   },
                   [&](const auto* keys) { for_each_key(*keys, emit); },
               },
               part);
}

// The largest number of a block; none when it holds no key.
std::optional<std::int64_t> block_largest(const variable_key_block& keys) {
    if (keys.size() == 0) {
        return std::nullopt;
    }
    // Each index is free, so the largest number takes 0 or its last value per index.
    std::int64_t number = keys.start;
    for (std::size_t d = 0; d < keys.sizes.size(); ++d) {
        std::int64_t weighted = 0;
        if (__builtin_mul_overflow(keys.sizes[d] - 1, keys.strides[d], &weighted) ||
            __builtin_add_overflow(number, std::max<std::int64_t>(weighted, 0), &number)) {
            throw limit_error("variable numbers do not fit in 64 bits");
        }
    }
    return number;
}

std::optional<std::int64_t> block_largest(const aux_key_block& keys) {
    if (keys.size() == 0) {
        return std::nullopt;
    }
    std::int64_t place = keys.slots.front().place;
    for (const aux_key_slot& slot : keys.slots) {
        place = std::max(place, slot.place);
    }
    std::int64_t base = 0;
    std::int64_t number = 0;
    if (__builtin_mul_overflow(static_cast<std::int64_t>(keys.instances - 1), keys.aux_block, &base) ||
        __builtin_add_overflow(keys.aux_start, std::max<std::int64_t>(base, 0), &number) ||
        __builtin_add_overflow(number, place, &number)) {
        throw limit_error("auxiliary numbers do not fit in 64 bits");
    }
    return number;
}

std::optional<std::int64_t> block_largest(const cnf::var_mapping& keys) {
    if (keys.size() == 0) {
        return std::nullopt;
    }
    std::int64_t number = keys.number(0);
    for (std::size_t i = 1; i < keys.size(); ++i) {
        number = std::max(number, keys.number(i));
    }
    return number;
}

bool given_as_text(std::span<const key_part> parts) {
    return std::any_of(parts.begin(), parts.end(), [](const key_part& part) {
        return std::holds_alternative<const cnf::var_mapping*>(part);
    });
}

// Entries and text bytes of all parts, so that millions of keys are not copied again and again
// while the text grows.
std::pair<std::uint64_t, std::uint64_t> sizes_of(std::span<const key_part> parts) {
    std::uint64_t entries = 0;
    std::uint64_t text_bytes = 0;
    for (const key_part& part : parts) {
        std::visit(
            [&](const auto* keys) {
                entries += keys->size();
                text_bytes += text_size(*keys);
            },
            part);
    }
    return {entries, text_bytes};
}

void add_entries(cnf::var_mapping& merged, std::span<const key_part> parts) {
    interrupt_gate gate;
    for (const key_part& part : parts) {
        for_each_entry(part, [&](std::string_view key, std::int64_t number) {
            gate.tick();
            merged.add(key, number);
        });
    }
}

}  // namespace

cnf::var_mapping merge_keys(std::span<const key_part> parts) {
    const auto [entries, text_bytes] = sizes_of(parts);
    cnf::var_mapping merged;
    const free_aside_when_stopped free_merged(merged);
    merged.reserve(entries, text_bytes);
    add_entries(merged, parts);
    merged.merge_repeated_keys(repeat_candidates(parts, merged));
    return merged;
}

cnf::var_mapping merge_keys_after(const cnf::var_mapping* previous, std::span<const key_part> parts,
                                  std::size_t split) {
    split = std::min(split, parts.size());
    // Keys given as text or blocks that may overlap are compared, which may move numbers into
    // the prefix: merged whole, with no prefix.
    if (given_as_text(parts) || blocks_may_repeat(parts)) {
        return merge_keys(parts);
    }
    const auto head = parts.first(split);
    const auto tail = parts.subspan(split);
    const auto [tail_entries, tail_bytes] = sizes_of(tail);
    cnf::var_mapping merged;
    const free_aside_when_stopped free_merged(merged);
    if (previous != nullptr && previous->prefix_token() != 0) {
        merged = previous->prefix_copy(tail_entries, tail_bytes);
    } else {
        const auto [head_entries, head_bytes] = sizes_of(head);
        merged.reserve(head_entries + tail_entries, head_bytes + tail_bytes);
        add_entries(merged, head);
        merged.mark_prefix(cnf::var_mapping::new_token(), merged.size());
    }
    const std::uint64_t token = merged.prefix_token();
    const std::size_t prefix = merged.prefix_size();
    add_entries(merged, tail);
    merged.mark_prefix(token, prefix);
    return merged;
}

std::optional<std::int64_t> largest_number(std::span<const key_part> parts) {
    if (given_as_text(parts) || blocks_may_repeat(parts)) {
        // A later number may replace the largest one: read the merged mapping.
        return block_largest(merge_keys(parts));
    }
    std::optional<std::int64_t> largest;
    for (const key_part& part : parts) {
        const auto number = std::visit([](const auto* keys) { return block_largest(*keys); }, part);
        if (number && (!largest || *number > *largest)) {
            largest = number;
        }
    }
    return largest;
}

}  // namespace zorv::inst
